// Fault injection: what a bad cable, a noisy line or a power cut does to the
// conversation. Every random choice comes from a seeded generator, so a given
// seed and the same bytes give the same damage on every run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

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

}  // namespace sim
