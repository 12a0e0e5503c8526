// What the virtual unit saw and did: a transcript of every byte each way and
// every event, and counters that tests assert on.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sim/LineSettings.h"
#include "sim/UnitState.h"

namespace sim {

struct TranscriptEntry {
  enum class Kind { Received, Sent, Event };
  Kind kind = Kind::Event;
  double timeMs = 0;       // since the unit started serving
  std::string bytes;       // the bytes received or sent; the text of an event
  std::string note;        // what happened to them: "wrong rate", "not 8N2", "lost 1 byte", ...
  Program program = Program::Application;  // the program holding the line at that moment
  bool powered = true;
  LineSettings line;       // the terminal's settings at that moment
};

// One line of the transcript file, e.g.
//   "    12.345 RX 19200 8N2 application \"?\\n\""
std::string FormatTranscriptEntry(const TranscriptEntry& entry);
// Bytes as C-style escaped text in quotes.
std::string EscapeBytes(const std::string& bytes);

// Erase and write counts of one memory (filled by the programming commands).
struct MemoryCounters {
  uint64_t erased = 0;    // blocks or sectors erased
  uint64_t written = 0;   // pages or bytes written, as the memory counts them
  uint64_t read = 0;      // words or bytes read back

  bool operator==(const MemoryCounters&) const = default;
};

struct UnitCounters {
  uint64_t rxBytes = 0;             // bytes received from the far end
  uint64_t txBytes = 0;             // bytes written towards it
  uint64_t exchanges = 0;           // batches of bytes received (one command written at once is one)
  uint64_t conformanceErrors = 0;   // exchanges not made at 8 data bits, no parity, two stop bits
  uint64_t wrongRateExchanges = 0;  // exchanges at a rate the running program does not listen at
  uint64_t lostBytes = 0;           // removed by fault injection, both directions
  uint64_t corruptedBytes = 0;      // changed by fault injection, both directions
  uint64_t garbageAnswers = 0;      // answers replaced by garbage, garbage sent at a wrong rate
  uint64_t overrunBytes = 0;        // answer bytes the far end's input buffer had no room for
  uint64_t hangUps = 0;
  uint64_t powerLosses = 0;
  uint64_t programStarts = 0;       // program changes on the main processor
  uint64_t loopWakeUps = 0;         // returns from the serving thread's poll(), to show it never spins
  std::map<std::string, MemoryCounters> memories;  // by memory name, e.g. "main-flash", "xflash"

  bool operator==(const UnitCounters&) const = default;
};

std::string FormatCounters(const UnitCounters& counters);

}  // namespace sim
