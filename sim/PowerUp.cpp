#include "sim/PowerUp.h"

namespace sim {

namespace {

// A rule of a query count and a time is met at a query once `queries`
// earlier queries were answered "not yet" and `ms` have passed since the
// switch-on.
bool RuleMet(uint32_t earlierQueries, uint32_t queries, double sinceMs, uint32_t ms) {
  return earlierQueries >= queries && sinceMs >= static_cast<double>(ms);
}

}  // namespace

void SwitchZone1On(ZoneState& z, double nowMs) {
  if (z.on[0] || z.zone1Starting) return;
  z.switchedOnAtMs = nowMs;
  z.zone1Queries = 0;
  z.debugStateQueries = 0;
  z.zone1Starting = true;
  QueryZone(z, 0, nowMs);  // without rules it is on at once
  z.zone1Queries = 0;
}

void SwitchZone(ZoneState& z, size_t zone, bool on, double nowMs) {
  if (zone == 0 && on) return SwitchZone1On(z, nowMs);
  z.on[zone] = on;
  if (zone == 0) {
    z.zone1Starting = false;
    z.switchedOnAtMs.reset();
  }
}

bool QueryZone(ZoneState& z, size_t zone, double nowMs) {
  if (zone == 0 && z.zone1Starting) {
    const PowerUpRules& r = z.rules;
    if (RuleMet(z.zone1Queries, r.zone1OnAfterQueries, nowMs - z.switchedOnAtMs.value_or(nowMs), r.zone1OnAfterMs)) {
      z.zone1Starting = false;
      z.on[0] = true;
    }
    ++z.zone1Queries;
  }
  return z.on[zone];
}

int DebugStateQuery(ZoneState& z, double nowMs) {
  if (!z.on[0] && !z.zone1Starting) return 0;
  if (!z.switchedOnAtMs) return 9;
  const PowerUpRules& r = z.rules;
  const bool ready = RuleMet(z.debugStateQueries, r.debugReadyAfterQueries, nowMs - *z.switchedOnAtMs, r.debugReadyAfterMs);
  ++z.debugStateQueries;
  return ready ? 9 : 1;
}

}  // namespace sim
