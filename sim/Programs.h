// The programs that answer on the unit's serial line. Each lives in its own
// source file with a small command dispatcher; they share the unit through
// UnitContext and keep only their input parsing to themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/UnitState.h"

namespace sim {

// Answers of the main processor's text programs.
inline constexpr std::string_view ACKNOWLEDGE = "\n";
inline constexpr std::string_view LINE_END = "\r\n";
inline constexpr std::string_view INVALID_COMMAND = "Invalid Command\r\n";

// What a program may do to the unit.
class UnitContext {
 public:
  virtual ~UnitContext() = default;
  virtual UnitState& State() = 0;
  // Queues an answer; everything a batch of received bytes causes goes out
  // in one write.
  virtual void Answer(std::string_view bytes) = 0;
  // Another program takes over the line from the next received byte on,
  // listening at the given rate.
  virtual void StartProgram(Program program, uint32_t baud) = 0;
  // The boot loader hands over to the program in flash (when it agrees to).
  virtual void StartFlashProgram() = 0;
  // A line in the transcript.
  virtual void Note(const std::string& text) = 0;
};

class ProgramHandler {
 public:
  virtual ~ProgramHandler() = default;
  // The program (re)starts: partial input is forgotten.
  virtual void Reset() = 0;
  virtual void Receive(uint8_t byte, UnitContext& unit) = 0;
};

std::unique_ptr<ProgramHandler> MakeMainApplication();
std::unique_ptr<ProgramHandler> MakeDebugMode();
std::unique_ptr<ProgramHandler> MakeBootLoader();
std::unique_ptr<ProgramHandler> MakeProgrammerFirmware();
std::unique_ptr<ProgramHandler> MakeVideoBoardLoader();

}  // namespace sim
