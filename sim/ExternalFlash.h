// The main board's external flash as the debug mode and the programmer
// firmware serve it: chip identification, write enable, CRC-32 of a range or
// a page, sector erase and page writes in binary frames, with real flash
// behaviour (erase sets 0xFF, a write only clears bits).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/Programs.h"
#include "sim/TextCommands.h"

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

// A text program (the debug mode, the programmer firmware) that serves the
// external flash besides its own commands.
template <class Program>
class ServesExternalFlash : public Program {
 protected:
  // True when the line was an external flash command.
  bool ServeExternalFlash(std::string_view line, UnitContext& unit) {
    size_t frameBytes = 0;
    if (!m_xflash.OnLine(line, unit, frameBytes)) return false;
    if (frameBytes) this->ExpectFrame(frameBytes);
    return true;
  }
  void OnFrame(const std::string& frame, UnitContext& unit) override { m_xflash.OnFrame(frame, unit); }

 private:
  ExternalFlashCommands m_xflash;
};

}  // namespace sim
