// The installer's end of the virtual unit's line, in plain POSIX: open the
// terminal, program rate and framing, write, read. Nothing of the installer's
// own serial code is used, so that a misunderstanding on either side shows.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <memory>
#include <ostream>
#include <string>
#include <termios.h>

#include "sim/VirtualUnit.h"

namespace sim {
// Readable line settings in test failures.
inline void PrintTo(const LineSettings& line, std::ostream* os) { *os << line.Text(); }
}  // namespace sim

namespace simtest {

constexpr tcflag_t FRAMING_8N2 = CS8 | CSTOPB;

class FarEnd {
 public:
  explicit FarEnd(const std::string& path);
  ~FarEnd();
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  void Close();
  // Rate and framing (CSIZE, PARENB, PARODD and CSTOPB bits).
  void SetLine(uint32_t baud, tcflag_t framing = FRAMING_8N2);
  uint32_t Baud() const;
  void Send(const std::string& bytes);
  // Everything that arrives until nothing more comes for quietMs (or maxMs pass).
  std::string ReadUntilQuiet(int quietMs = 200, int maxMs = 5000);
  // Exactly n bytes, or what came before maxMs passed.
  std::string ReadCount(size_t n, int maxMs = 5000);

 private:
  int m_fd = -1;
};

// Sends bytes and returns the unit's answer: it waits until the unit has taken
// the bytes in (its answer is then already written) and collects what arrives.
std::string Ask(sim::VirtualUnit& unit, FarEnd& far, const std::string& bytes);

// A started unit of a profile and the far end opened on its terminal at 19200
// baud, 8N2.
struct UnitOnLine {
  explicit UnitOnLine(const std::string& profile);
  explicit UnitOnLine(sim::UnitState state);
  std::string Ask(const std::string& bytes) { return simtest::Ask(unit, *far, bytes); }
  // Sends bytes and reads an answer of a known length (quicker than Ask,
  // which waits for the line to go quiet).
  std::string AskN(const std::string& bytes, size_t answerBytes) {
    far->Send(bytes);
    return far->ReadCount(answerBytes);
  }

  sim::VirtualUnit unit;
  std::unique_ptr<FarEnd> far;

 private:
  void Open();
};

// Sends each command in turn and reads its answer of the given length; the
// answers one after the other.
std::string AskEach(UnitOnLine& u, std::initializer_list<std::pair<std::string, size_t>> steps);

// The identification of the starting firmware's application.
inline const std::string APP_IDENT_LINE = "Solstrand K4v v3.02\r\n";

}  // namespace simtest
