#include "sim/TextCommands.h"

#include <cstdio>

#include "sim/FlashIdentification.h"

namespace sim {

std::optional<uint32_t> UnitBaudFromCode(char code) {
  static constexpr uint32_t RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  if (code < '0' || code > '7') return std::nullopt;
  return RATES[code - '0'];
}

bool ChangeRateByCode(std::string_view code, UnitContext& unit) {
  if (code.size() != 1) return false;
  const auto baud = UnitBaudFromCode(code[0]);
  if (!baud) return false;
  unit.Answer(ACKNOWLEDGE);
  unit.ChangeRate(*baud);
  return true;
}

std::string ChecksumAnswer(const UnitState& state) {
  char text[32];
  std::snprintf(text, sizeof text, "Checksum:%s%04X\r\n", state.main.checksumBlank ? " " : "", state.FlashChecksum());
  return text;
}

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
  m_frameBytes = 0;
  m_frame.clear();
  OnReset();
}

void TextProgram::ExpectFrame(size_t bytes) {
  m_frameBytes = bytes;
  m_frame.clear();
}

void TextProgram::OnFrame(const std::string&, UnitContext&) {}

void TextProgram::Receive(uint8_t byte, UnitContext& unit) {
  const double now = unit.NowMs();
  if (m_frameBytes > 0 && now - m_lastByteMs > COMMAND_GAP_MS) {
    unit.Note("frame dropped after " + std::to_string(m_frame.size()) + " of " + std::to_string(m_frameBytes) +
              " bytes: the rest stopped coming");
    m_frameBytes = 0;
    m_frame.clear();
  }
  m_lastByteMs = now;
  if (m_frameBytes > 0) {
    m_frame.push_back(static_cast<char>(byte));
    if (m_frame.size() < m_frameBytes) return;
    m_frameBytes = 0;
    const std::string frame = std::move(m_frame);
    m_frame.clear();
    OnFrame(frame, unit);
    return;
  }
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
  if (line == "CS") {
    unit.AnswerTo("CS", ChecksumAnswer(unit.State()));
    return true;
  }
  if (line.substr(0, 3) == "SSB") return ChangeRateByCode(line.substr(3), unit);
  if (line != "?") return OnCommand(line, unit);
  const auto ident = FindIdentification(unit.State().main.flash);
  if (ident)
    unit.AnswerTo("?", *ident + std::string(LINE_END));
  else
    unit.Note("no identification in flash: no answer");
  return true;
}

}  // namespace sim
