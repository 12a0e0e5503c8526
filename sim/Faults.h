// Fault injection: what a bad cable, a noisy line, a power cut or a unit that
// misbehaves at one command does to the conversation. Every random choice
// comes from a seeded generator and every targeted fault strikes at a fixed
// point, so a given setting and the same bytes give the same damage on every
// run.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Where a targeted fault strikes: the commands it is tied to (those for one
// page, sector or word when `at` is set, any otherwise), from the `from`-th
// such command on (counted from when the faults were set), `times` times
// (0: every time from then on).
struct FaultPoint {
  std::optional<uint32_t> at;
  uint32_t from = 1;
  uint32_t times = 1;

  bool operator==(const FaultPoint&) const = default;
};

// One byte of an answer garbled (its lowest bit flipped) or lost. `command`
// names the command whose answer is damaged, as the unit knows it: a boot
// loader letter ("R", "s", "D", "V", "S", "F", ...) or a text command without
// its arguments ("CS", "?", "dP?", "P1P?", "STF?", "dei", "dec", "deb", "ded",
// "dea"). The point's `at` is the word address for "R", the page for "deb"
// and "dea", the sector for "ded"; other commands have no place to tie to.
struct AnswerDamage {
  std::string command;
  FaultPoint point;
  size_t byteIndex = 0;  // an answer shorter than this is left alone
  bool lose = false;     // lost instead of garbled

  bool operator==(const AnswerDamage&) const = default;
};

// How the external flash answers a page write ("dea") when the fault strikes.
enum class PageWriteAnswer {
  LfThenStatus,  // LF, then the status code ("\nS"): the page is written
  LfThenZero,    // LF, then a zero byte: the page is written
  None,          // nothing: the frame is taken in and dropped
};

struct FaultSettings {
  uint64_t seed = 1;
  // Per byte, from the far end to the unit (rx) and back (tx).
  double rxLossRate = 0.0;
  double rxCorruptRate = 0.0;
  double txLossRate = 0.0;
  double txCorruptRate = 0.0;
  // Per answer: the answer is replaced by as many random bytes.
  double garbageAnswerRate = 0.0;
  // Bytes received at a rate the running program does not listen at are
  // answered with random bytes, as a real line would carry misframed noise.
  bool garbageAtWrongRate = false;
  // Power cut after this many bytes received (counted from when the faults
  // were set); the unit is silent for powerOffMs (0: until PowerOn) and then
  // starts again as at power-up.
  std::optional<uint64_t> powerLossAfterRxBytes;
  uint32_t powerOffMs = 0;
  // The cable is pulled after this many bytes received: the terminal hangs up.
  std::optional<uint64_t> hangUpAfterRxBytes;

  // Main processor flash: a page-buffer block ("C") of the page `at` in write
  // order (pages written since the last erase) is taken in and dropped
  // without an acknowledgement.
  std::optional<FaultPoint> flashBlockUnacknowledged;
  // The unit goes silent (a power cut, ended by powerOffMs or PowerOn) right
  // after this many pages were written to the main flash ("m") or to the
  // external flash ("dea"), counted from when the faults were set. The last
  // page is written and acknowledged.
  std::optional<uint64_t> silentAfterFlashPages;
  std::optional<uint64_t> silentAfterXflashPages;
  // Damage to chosen answers.
  std::vector<AnswerDamage> answerDamage;
  // External flash: a sector erase ("ded") answered "1" instead of "S" (the
  // sector is erased), and page writes ("dea") answered otherwise.
  std::optional<FaultPoint> xflashEraseAnsweredOne;
  std::optional<FaultPoint> xflashPageAnswerFault;
  PageWriteAnswer xflashPageAnswer = PageWriteAnswer::None;
  // Zones 1 to 3 that stay on whatever is sent to them.
  std::array<bool, 3> zoneStaysOn{};

  bool operator==(const FaultSettings&) const = default;
};

// Parses one "name=value" item of the program's --fault option into the
// settings; false (and a reason) for an unknown name or a bad value.
bool ApplyFaultItem(FaultSettings& faults, const std::string& item, std::string* error);

// A small deterministic generator (splitmix64).
class FaultDice {
 public:
  explicit FaultDice(uint64_t seed = 1) : m_state(seed) {}
  uint64_t Next();
  // Uniform in [0, 1).
  double Chance() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  bool Roll(double rate) { return rate > 0.0 && Chance() < rate; }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }

 private:
  uint64_t m_state;
};

// What a targeted fault has done so far: it counts the commands that match
// its point and the strikes.
class FaultCounter {
 public:
  // True when the fault strikes this command (tied to `where`).
  bool Strikes(const FaultPoint& point, std::optional<uint32_t> where);

 private:
  uint64_t m_seen = 0;
  uint64_t m_struck = 0;
};

}  // namespace sim
