// How the main processor's programs know themselves: every program image
// carries its identification text as "$IDENT" + text + NUL within its first
// 4096 bytes, and the unit answers with what its flash holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/UnitState.h"

namespace sim {

constexpr size_t IDENT_SEARCH_BYTES = 4096;
constexpr size_t IDENT_MAX_CHARS = 128;

// The identification text of the first "$IDENT" marker that starts within the
// first IDENT_SEARCH_BYTES bytes; nothing when there is none or when its text
// is not printable ASCII ended by a NUL within IDENT_MAX_CHARS characters.
std::optional<std::string> FindIdentification(const std::vector<uint8_t>& memory);

// True when an identification names the EEPROM/flash programmer firmware.
bool IsProgrammerIdentification(const std::string& identification);

// What the boot loader starts on "X" and at power-up. It starts the program in
// flash only when EEPROM bytes 0 and 1 hold the programmed mark and the flash
// holds an identification; otherwise it keeps running itself. An interrupted
// programming leaves the marks cleared, so such a unit stays in its loader.
struct StartDecision {
  Program program = Program::BootLoader;
  uint32_t baud = LOADER_BAUD;
  std::string reason;  // for the transcript
};
StartDecision DecideStartProgram(const UnitState& state);

}  // namespace sim
