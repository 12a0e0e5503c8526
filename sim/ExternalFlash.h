// The main board's external flash as the debug mode and the programmer
// firmware serve it: chip identification, write enable, CRC-32 of a range or
// a page, sector erase and page writes in binary frames, with real flash
// behaviour (erase sets 0xFF, a write only clears bits).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/Programs.h"

namespace sim {

class ExternalFlashCommands {
 public:
  // The frame that follows "dea" + LF: page (2 bytes LE), 128 data bytes,
  // CRC-32 of those 130 bytes (4 bytes LE).
  static constexpr size_t PAGE_FRAME_BYTES = 2 + XFLASH_PAGE_BYTES + 4;

  // True when the line was one of its commands. For a page write it sets
  // frameBytes to the size of the binary frame that must follow.
  bool OnLine(std::string_view line, UnitContext& unit, size_t& frameBytes);
  void OnFrame(const std::string& frame, UnitContext& unit);
};

}  // namespace sim
