// The programs that answer on the unit's serial line. Each lives in its own
// source file with a small command dispatcher; they share the unit through
// UnitContext and keep only their input parsing to themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/Faults.h"
#include "sim/UnitState.h"

namespace sim {

// Answers of the main processor's text programs.
inline constexpr std::string_view ACKNOWLEDGE = "\n";
inline constexpr std::string_view LINE_END = "\r\n";
inline constexpr std::string_view INVALID_COMMAND = "Invalid Command\r\n";

// The memories whose erases, writes and reads are counted (UnitCounters::memories).
inline constexpr std::string_view MAIN_FLASH = "main-flash";    // erases, pages written, words read back
inline constexpr std::string_view MAIN_EEPROM = "main-eeprom";  // bytes written, bytes read
inline constexpr std::string_view FUSES = "fuses";              // fuse bytes written
inline constexpr std::string_view XFLASH = "xflash";            // sectors erased, pages written

// A byte that arrives more than this long after the previous one of an
// unfinished command (a loader command's argument bytes, a page frame) starts
// afresh: the unfinished command is dropped, as the far end has given up on it.
inline constexpr double COMMAND_GAP_MS = 300.0;

// The rates of the unit's baud-rate codes ("SSB" and "dB" + digit).
std::optional<uint32_t> UnitBaudFromCode(char code);

// Targeted faults a program asks about (FaultSettings).
enum class FaultKind { FlashBlockUnacknowledged, XflashEraseAnsweredOne, XflashPageAnswer };

// What a program may do to the unit.
class UnitContext {
 public:
  virtual ~UnitContext() = default;
  virtual UnitState& State() = 0;
  // Queues an answer; everything a batch of received bytes causes goes out
  // in one write.
  virtual void Answer(std::string_view bytes) = 0;
  // Queues the answer to a command, with the damage the faults give it;
  // `where` is the word, page or sector the command concerns.
  virtual void AnswerTo(std::string_view command, std::string_view bytes, std::optional<uint32_t> where = {}) = 0;
  // The program holding the line listens at another rate from the next
  // received byte on.
  virtual void ChangeRate(uint32_t baud) = 0;
  // Another program takes over the line from the next received byte on,
  // listening at the given rate.
  virtual void StartProgram(Program program, uint32_t baud) = 0;
  // The boot loader hands over to the program in flash (when it agrees to).
  virtual void StartFlashProgram() = 0;
  // A line in the transcript.
  virtual void Note(const std::string& text) = 0;
  // Milliseconds since the unit started serving, at the byte being processed.
  virtual double NowMs() const = 0;
  // The fault settings, and whether a targeted fault strikes this command.
  virtual const FaultSettings& Faults() const = 0;
  virtual bool Strikes(FaultKind kind, std::optional<uint32_t> where) = 0;
  // Counts of the memories (MAIN_FLASH, ...); a page written may end in the
  // silence a fault asks for.
  virtual void CountErased(std::string_view memory, uint64_t n = 1) = 0;
  virtual void CountWritten(std::string_view memory, uint64_t n = 1) = 0;
  virtual void CountRead(std::string_view memory, uint64_t n = 1) = 0;
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
