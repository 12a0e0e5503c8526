#include "sim/TextCommands.h"

#include "sim/FlashIdentification.h"

namespace sim {

LineAssembler::Result LineAssembler::Feed(uint8_t byte) {
  if (byte == '\r') return Result::Pending;
  if (byte == '\n') {
    const bool overflow = m_overflow;
    const bool empty = m_line.empty();
    m_overflow = false;
    if (overflow) {
      m_line.clear();
      return Result::Overflow;
    }
    return empty ? Result::WakeUp : Result::Line;
  }
  if (m_overflow) return Result::Pending;
  if (m_line.size() >= MAX_LINE) {
    m_overflow = true;
    m_line.clear();
    return Result::Pending;
  }
  m_line.push_back(static_cast<char>(byte));
  return Result::Pending;
}

void LineAssembler::Reset() {
  m_line.clear();
  m_overflow = false;
}

void TextProgram::Reset() {
  m_lines.Reset();
  OnReset();
}

void TextProgram::Receive(uint8_t byte, UnitContext& unit) {
  switch (m_lines.Feed(byte)) {
    case LineAssembler::Result::Pending:
    case LineAssembler::Result::WakeUp:
      return;
    case LineAssembler::Result::Overflow:
      OnUnknown(unit);
      return;
    case LineAssembler::Result::Line: {
      const std::string line = m_lines.Line();  // handlers may restart this program
      m_lines.Reset();
      if (!OnLine(line, unit)) OnUnknown(unit);
      return;
    }
  }
}

bool LoaderJump::OnLine(std::string_view line, UnitContext& unit) {
  if (line == "Z31862.4") {
    m_armed = true;
    unit.Answer(ACKNOWLEDGE);
    return true;
  }
  if (line == "Z" && m_armed) {
    m_armed = false;
    unit.Note("jump into the boot loader");
    unit.StartProgram(Program::BootLoader, LOADER_BAUD);
    return true;
  }
  m_armed = false;
  return false;
}

bool FlashProgram::OnLine(std::string_view line, UnitContext& unit) {
  if (m_jump.OnLine(line, unit)) return true;
  if (line != "?") return OnCommand(line, unit);
  const auto ident = FindIdentification(unit.State().main.flash);
  if (ident)
    unit.Answer(*ident + std::string(LINE_END));
  else
    unit.Note("no identification in flash: no answer");
  return true;
}

}  // namespace sim
