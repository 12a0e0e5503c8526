// The state file: the whole unit state, so that a second installation (or a
// second run of the program) meets the unit that the first one left.
//
// Layout: the line "K4V-VIRTUAL-UNIT-STATE 1", then records of
//   key length (2 bytes, little-endian), key, value length (4 bytes, LE), value
// Scalars are decimal or plain text; memories are their raw bytes. Keys a
// reader does not know are skipped and keys it misses keep the profile's
// value, so later additions (DSP and video board memories) stay compatible.
#pragma once

#include <optional>
#include <string>

#include "sim/UnitState.h"

namespace sim {

bool SaveStateFile(const UnitState& state, const std::string& path, std::string* error);
// Every record is checked: sizes of memories, ranges of numbers, known
// program names. A file that fails a check is refused whole.
std::optional<UnitState> LoadStateFile(const std::string& path, std::string* error);

// The same, in memory.
std::string SerialiseState(const UnitState& state);
std::optional<UnitState> ParseState(const std::string& bytes, std::string* error);

}  // namespace sim
