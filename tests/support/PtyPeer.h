// Test support: the far end of a pseudo-terminal standing in for a serial
// port, and a port directory mapped through SOLSTRAND_PORTS, so that no test
// ever touches a real port of the machine.
#pragma once

#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

namespace k4vtest {

// A temporary directory, removed with its entries at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The port directory: SOLSTRAND_PORTS points at it while the object lives.
class PortDirectory {
 public:
  PortDirectory();
  ~PortDirectory();
  // Links "comN" to the target path.
  void Link(int comNumber, const std::string& target);
  // Creates "comN" as a regular file (a port that is not a terminal).
  void PlainFile(int comNumber);
  const std::string& Path() const { return m_dir.Path(); }
  static std::string ComName(int n) { return "\\\\.\\COM" + std::to_string(n); }

 private:
  TempDir m_dir;
  std::string m_oldValue;
  bool m_hadOldValue = false;
};

// The unit's end of a pseudo-terminal. Keeps a terminal-side descriptor of
// its own open, so that the line settings persist and it never sees a hang-up
// while the installer has the port closed.
class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& TerminalPath() const { return m_terminalPath; }
  int MasterFd() const { return m_master; }

  // The line settings as the terminal holds them now.
  termios LineSettings() const;
  uint32_t BaudRate() const;
  bool Is8N2() const;

  void Write(const std::string& bytes) const;
  void Write(const std::vector<uint8_t>& bytes) const;
  // Reads what arrives within ms (stops early after maxBytes).
  std::string Read(int ms, size_t maxBytes = 65536) const;
  // Reads until the text ends with terminator or ms pass.
  std::string ReadUntil(const std::string& terminator, int ms) const;

  // The cable is pulled: both of this side's descriptors close.
  void Vanish();

 private:
  int m_master = -1;
  int m_keepOpen = -1;
  std::string m_terminalPath;
};

}  // namespace k4vtest
