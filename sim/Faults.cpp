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

// Splits at the first separator; the rest is empty when there is none.
std::string_view Split(std::string_view& text, char separator) {
  const auto at = text.find(separator);
  const std::string_view head = text.substr(0, at);
  text = at == std::string_view::npos ? std::string_view{} : text.substr(at + 1);
  return head;
}

// A fault point: AT[:FROM[:TIMES]], AT a number or "*" for any.
bool ParsePoint(std::string_view text, FaultPoint& out) {
  FaultPoint p;
  const std::string_view at = Split(text, ':');
  if (at != "*") {
    uint32_t v = 0;
    if (!ParseCount(at, v)) return false;
    p.at = v;
  }
  if (!text.empty() && !ParseCount(Split(text, ':'), p.from)) return false;
  if (!text.empty() && !ParseCount(text, p.times)) return false;
  if (p.from == 0) return false;
  out = p;
  return true;
}

template <class T>
bool ParseOptionalCount(std::string_view text, std::optional<T>& out) {
  T v{};
  if (!ParseCount(text, v)) return false;
  out = v;
  return true;
}

bool ParseOptionalPoint(std::string_view text, std::optional<FaultPoint>& out) {
  FaultPoint p;
  if (!ParsePoint(text.empty() ? "*" : text, p)) return false;
  out = p;
  return true;
}

// COMMAND,BYTE[,POINT]
bool ParseDamage(std::string_view text, bool lose, std::vector<AnswerDamage>& out) {
  AnswerDamage d;
  d.lose = lose;
  d.command = std::string(Split(text, ','));
  if (d.command.empty() || !ParseCount(Split(text, ','), d.byteIndex)) return false;
  if (!text.empty() && !ParsePoint(text, d.point)) return false;
  out.push_back(d);
  return true;
}

// KIND[,POINT]
bool ParsePageAnswer(std::string_view text, FaultSettings& f) {
  const std::string_view kind = Split(text, ',');
  PageWriteAnswer answer;
  if (kind == "lf-status") answer = PageWriteAnswer::LfThenStatus;
  else if (kind == "lf-zero") answer = PageWriteAnswer::LfThenZero;
  else if (kind == "none") answer = PageWriteAnswer::None;
  else return false;
  if (!ParseOptionalPoint(text, f.xflashPageAnswerFault)) return false;
  f.xflashPageAnswer = answer;
  return true;
}

bool ParseZone(std::string_view text, std::array<bool, 3>& zones) {
  size_t zone = 0;
  if (!ParseCount(text, zone) || zone < 1 || zone > zones.size()) return false;
  zones[zone - 1] = true;
  return true;
}

}  // namespace

bool FaultCounter::Strikes(const FaultPoint& point, std::optional<uint32_t> where) {
  if (point.at && point.at != where) return false;
  ++m_seen;
  if (m_seen < point.from) return false;
  if (point.times != 0 && m_struck >= point.times) return false;
  ++m_struck;
  return true;
}

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
  else if (name == "block-unacknowledged") ok = ParseOptionalPoint(value, f.flashBlockUnacknowledged);
  else if (name == "silent-after-flash-pages") ok = ParseOptionalCount(value, f.silentAfterFlashPages);
  else if (name == "silent-after-xflash-pages") ok = ParseOptionalCount(value, f.silentAfterXflashPages);
  else if (name == "garble") ok = ParseDamage(value, false, f.answerDamage);
  else if (name == "lose") ok = ParseDamage(value, true, f.answerDamage);
  else if (name == "xflash-erase-one") ok = ParseOptionalPoint(value, f.xflashEraseAnsweredOne);
  else if (name == "xflash-page-answer") ok = ParsePageAnswer(value, f);
  else if (name == "zone-stays-on") ok = ParseZone(value, f.zoneStaysOn);
  if (!ok && error) *error = "bad fault item '" + item + "'";
  return ok;
}

}  // namespace sim
