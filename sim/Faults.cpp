#include "sim/Faults.h"

#include <charconv>
#include <string_view>

namespace sim {

uint64_t FaultDice::Next() {
  uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

namespace {

bool ParseRate(std::string_view text, double& out) {
  double v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !(v >= 0.0 && v <= 1.0)) return false;
  out = v;
  return true;
}

template <class T>
bool ParseCount(std::string_view text, T& out) {
  T v{};
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  out = v;
  return true;
}

}  // namespace

bool ApplyFaultItem(FaultSettings& f, const std::string& item, std::string* error) {
  const auto eq = item.find('=');
  const std::string_view name = std::string_view(item).substr(0, eq);
  const std::string_view value = eq == std::string::npos ? std::string_view{} : std::string_view(item).substr(eq + 1);
  bool ok = false;
  uint64_t count = 0;
  if (name == "seed") ok = ParseCount(value, f.seed);
  else if (name == "rx-loss") ok = ParseRate(value, f.rxLossRate);
  else if (name == "rx-corrupt") ok = ParseRate(value, f.rxCorruptRate);
  else if (name == "tx-loss") ok = ParseRate(value, f.txLossRate);
  else if (name == "tx-corrupt") ok = ParseRate(value, f.txCorruptRate);
  else if (name == "garbage") ok = ParseRate(value, f.garbageAnswerRate);
  else if (name == "wrong-rate-garbage") ok = eq == std::string::npos && (f.garbageAtWrongRate = true);
  else if (name == "power-loss-after") ok = ParseCount(value, count) && (f.powerLossAfterRxBytes = count, true);
  else if (name == "power-off-ms") ok = ParseCount(value, f.powerOffMs);
  else if (name == "hangup-after") ok = ParseCount(value, count) && (f.hangUpAfterRxBytes = count, true);
  if (!ok && error) *error = "bad fault item '" + item + "'";
  return ok;
}

}  // namespace sim
