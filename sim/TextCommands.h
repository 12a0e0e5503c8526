// Text command lines: what the application, its debug mode, the programmer
// firmware and the video board's loader have in common. A command is a line
// ending in LF; a lone LF is the far end's wake-up and not a command; CR is
// ignored; a line longer than the buffer is thrown away whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/Programs.h"

namespace sim {

class LineAssembler {
 public:
  static constexpr size_t MAX_LINE = 256;
  enum class Result { Pending, Line, Overflow, WakeUp };

  Result Feed(uint8_t byte);
  const std::string& Line() const { return m_line; }
  void Reset();

 private:
  std::string m_line;
  bool m_overflow = false;
};

// One entry of a text program's command table: the exact command text, or a
// prefix when the command carries arguments after it.
template <class P>
struct TextCommand {
  std::string_view text;
  bool prefix;
  void (P::*handler)(std::string_view arguments, UnitContext& unit);
};

// Runs the first table entry that matches the line; false when none does.
template <class P, size_t N>
bool DispatchLine(P& program, const TextCommand<P> (&table)[N], std::string_view line, UnitContext& unit) {
  for (const auto& c : table) {
    if (c.prefix ? line.substr(0, c.text.size()) == c.text : line == c.text) {
      (program.*c.handler)(line.substr(c.text.size()), unit);
      return true;
    }
  }
  return false;
}

// A program that reads text command lines. Subclasses handle the lines;
// OnUnknown answers what a program answers to a line it does not know.
class TextProgram : public ProgramHandler {
 public:
  void Reset() override;
  void Receive(uint8_t byte, UnitContext& unit) final;

 protected:
  // True when the line was a command of this program.
  virtual bool OnLine(std::string_view line, UnitContext& unit) = 0;
  virtual void OnUnknown(UnitContext& unit) { unit.Answer(INVALID_COMMAND); }
  virtual void OnReset() {}
  // The next `bytes` bytes are a binary frame (they may hold LF and CR) that
  // goes whole to OnFrame. A frame whose bytes stop coming for COMMAND_GAP_MS
  // is dropped, and the byte after the gap is text again.
  void ExpectFrame(size_t bytes);
  virtual void OnFrame(const std::string& frame, UnitContext& unit);

 private:
  LineAssembler m_lines;
  size_t m_frameBytes = 0;
  std::string m_frame;
  double m_lastByteMs = 0;
};

// The two-step jump into the boot loader that the application and the
// programmer firmware accept: "Z31862.4" arms it (acknowledged), a following
// "Z" jumps (unanswered). Any other command disarms it.
class LoaderJump {
 public:
  // True when the line belonged to the jump.
  bool OnLine(std::string_view line, UnitContext& unit);
  void Disarm() { m_armed = false; }

 private:
  bool m_armed = false;
};

// A program that runs from the main processor's flash (the application and
// the programmer firmware): it identifies itself on "?" with the text its
// image carries (+ CR LF; silence when the flash holds none, as the processor
// would not be running it), accepts the jump into the boot loader, reports
// the checksum of its flash on "CS" and changes its rate on "SSB" + code. Its
// own commands go to OnCommand.
class FlashProgram : public TextProgram {
 protected:
  bool OnLine(std::string_view line, UnitContext& unit) final;
  void OnReset() final { m_jump.Disarm(); }
  virtual bool OnCommand(std::string_view line, UnitContext& unit) = 0;

 private:
  LoaderJump m_jump;
};

// "Checksum: " + the 16-bit flash checksum in four hexadecimal digits + CR LF
// (without the blank when the unit's checksumBlank is off).
std::string ChecksumAnswer(const UnitState& state);

// "SSB" / "dB" + code: acknowledged at the old rate, then the program
// listens at the rate of the code; false (nothing changes) for a code that is
// not one digit of the table.
bool ChangeRateByCode(std::string_view code, UnitContext& unit);

}  // namespace sim
