// The unit's zones and its start-up from standby: zone 1 switched on with
// "P1P1" reports on, and the debug mode's start-up state reaches 9 (ready),
// as the unit's PowerUpRules say.
#pragma once

#include <cstddef>

#include "sim/UnitState.h"

namespace sim {

// Zone 1 switched on from standby (nothing changes when it is on or starting).
void SwitchZone1On(ZoneState& zones, double nowMs);
// Zone 0..2 switched on or off ("P2P1", "P1P0", ...); zone 1 on goes through SwitchZone1On.
void SwitchZone(ZoneState& zones, size_t zone, bool on, double nowMs);
// Whether zone 0..2 reports on to its query; a query of zone 1 while it is
// starting counts towards its rule.
bool QueryZone(ZoneState& zones, size_t zone, double nowMs);
// The debug mode's start-up state at a "dP?" query, which counts towards its
// rule: 0 in standby, 1 while starting, 9 when ready.
int DebugStateQuery(ZoneState& zones, double nowMs);

}  // namespace sim
