#include "sim/FlashIdentification.h"

#include <algorithm>
#include <string_view>

namespace sim {

std::optional<std::string> FindIdentification(const std::vector<uint8_t>& memory) {
  static constexpr std::string_view MARKER = "$IDENT";
  const size_t searchEnd = std::min(memory.size(), IDENT_SEARCH_BYTES);
  const auto begin = memory.begin();
  const auto at = std::search(begin, begin + static_cast<std::ptrdiff_t>(searchEnd), MARKER.begin(), MARKER.end());
  const size_t markerAt = static_cast<size_t>(at - begin);
  if (markerAt >= searchEnd) return std::nullopt;
  std::string text;
  for (size_t i = markerAt + MARKER.size(); i < memory.size() && text.size() <= IDENT_MAX_CHARS; ++i) {
    const uint8_t c = memory[i];
    if (c == 0) return text.empty() ? std::nullopt : std::optional<std::string>(text);
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    text.push_back(static_cast<char>(c));
  }
  return std::nullopt;
}

bool IsProgrammerIdentification(const std::string& identification) {
  return identification.find("EEPROM Prog") != std::string::npos ||
         identification.find("FLASH Prog") != std::string::npos;
}

StartDecision DecideStartProgram(const UnitState& state) {
  StartDecision d;
  const auto& e = state.main.eeprom;
  const bool marked = e.size() > PROGRAMMED_MARK_ADDRESS + 1 && e[PROGRAMMED_MARK_ADDRESS] == PROGRAMMED_MARK &&
                      e[PROGRAMMED_MARK_ADDRESS + 1] == PROGRAMMED_MARK;
  const auto ident = FindIdentification(state.main.flash);
  if (!marked) {
    d.reason = "programmed mark missing in EEPROM: boot loader keeps running";
    return d;
  }
  if (!ident) {
    d.reason = "no identification in flash: boot loader keeps running";
    return d;
  }
  if (IsProgrammerIdentification(*ident)) {
    d.program = Program::Programmer;
    d.baud = PROGRAMMER_BAUD;
  } else {
    d.program = Program::Application;
    d.baud = state.main.applicationBaud;
  }
  d.reason = "started \"" + *ident + "\"";
  return d;
}

}  // namespace sim
