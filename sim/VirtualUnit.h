// The virtual unit: the unit's side of every conversation, behind a real
// pseudo-terminal, served by a thread of its own. Every method is
// thread-safe.
//
//   sim::VirtualUnit unit(sim::Profile::K4vStandard());
//   unit.Start();
//   unit.LinkAs(portDir + "/com2");
//   ... the installer talks to \\.\COM2 ...
//   EXPECT_EQ(unit.ConformanceErrors(), 0u);
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/Faults.h"
#include "sim/LineSettings.h"
#include "sim/Profile.h"
#include "sim/Transcript.h"
#include "sim/UnitCore.h"
#include "sim/UnitState.h"

namespace sim {

// Answers paced at the wire rate of the terminal's current line setting:
// an answer of n bytes is delivered, in one write, when its last byte would
// have arrived: after the command's own bytes, the turnaround latency and n
// character times (11 bits per byte at 8N2, so about 10,470 bytes a second at
// 115200 baud). Off by default: tests run unpaced and get answers at once.
struct PacingSettings {
  bool enabled = false;
  std::chrono::microseconds turnaround{1000};
};

class VirtualUnit {
 public:
  using Clock = std::chrono::steady_clock;

  explicit VirtualUnit(const Profile& profile);
  explicit VirtualUnit(UnitState state);
  ~VirtualUnit();
  VirtualUnit(const VirtualUnit&) = delete;
  VirtualUnit& operator=(const VirtualUnit&) = delete;

  // Creates the pseudo-terminal (raw, no echo; the line settings are left to
  // the far end) and starts serving it. False, with a reason, when no
  // terminal can be had.
  bool Start(std::string* error = nullptr);
  // Stops serving, closes the terminal and removes the links made by LinkAs.
  void Stop();
  bool Running() const;

  // The terminal's path (/dev/pts/N).
  std::string TerminalPath() const;
  // A symbolic link at path to the terminal, e.g. $SOLSTRAND_PORTS/com2. An
  // existing link there is replaced; the link follows Reconnect.
  bool LinkAs(const std::string& path, std::string* error = nullptr);

  // The state.
  UnitState Snapshot() const;
  void Mutate(const std::function<void(UnitState&)>& change);
  bool SaveState(const std::string& path, std::string* error = nullptr) const;
  static std::optional<UnitState> LoadState(const std::string& path, std::string* error = nullptr);

  // What happened.
  UnitCounters Counters() const;
  uint64_t ConformanceErrors() const;
  std::vector<TranscriptEntry> Transcript() const;
  void ClearTranscript();
  void ResetCounters();
  // Also write the transcript to a file as it grows ("" to stop).
  bool SetTranscriptFile(const std::string& path, std::string* error = nullptr);
  // The terminal's line settings as the far end left them.
  LineSettings CurrentLineSettings() const;

  // Faults and timing.
  void SetFaults(const FaultSettings& faults);
  void SetPacing(const PacingSettings& pacing);
  // Whether the serving thread asks for real-time scheduling (SCHED_FIFO,
  // priority 1) when it starts, so that it answers promptly on a loaded
  // machine; on by default, set before Start. A refusal is no error.
  void SetRealTimeScheduling(bool ask);
  // Whether the serving thread got it.
  bool RealTimeScheduling() const;
  // The cable is pulled: the terminal hangs up (the far end's reads fail) and
  // the terminal device goes away.
  void HangUp();
  // The cable is plugged in again: a new terminal, the links point at it.
  bool Reconnect(std::string* error = nullptr);
  // Power cut and return; after PowerOn the main processor starts as at
  // power-up.
  void PowerOff();
  void PowerOn();

  // Waits until the condition holds for the unit's state and counters; it is
  // checked after every exchange and every change. False after the time-out.
  bool WaitUntil(const std::function<bool(const UnitState&, const UnitCounters&)>& condition,
                 std::chrono::milliseconds timeout) const;

 private:
  struct PendingWrite {
    Clock::time_point due;
    std::string bytes;
    std::string note;
    LineSettings line;
  };

  void Serve();
  void ServeOnce(std::unique_lock<std::mutex>& lock);
  void ReceiveBatch(const std::string& bytes, Clock::time_point now);
  void WriteDue(Clock::time_point now);
  void WriteNow(const PendingWrite& w, Clock::time_point now);
  void CloseTerminal();
  bool OpenTerminal(std::string* error);
  bool RelinkAll(std::string* error);
  LineSettings ReadLineSettings() const;
  void Wake();
  void Changed() { m_changed.notify_all(); }

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  UnitCore m_core;
  PacingSettings m_pacing;
  std::deque<PendingWrite> m_pending;
  Clock::time_point m_rxFreeAt{};
  Clock::time_point m_txFreeAt{};

  int m_master = -1;
  int m_keepOpen = -1;  // the unit's own descriptor of the terminal side
  std::string m_terminalPath;
  std::vector<std::string> m_links;
  int m_wake[2] = {-1, -1};
  std::thread m_thread;
  bool m_running = false;
  bool m_stop = false;
  bool m_askRealTime = true;
  bool m_realTime = false;
  bool m_hangUpRequested = false;
  uint64_t m_hangUpsDone = 0;
};

}  // namespace sim
