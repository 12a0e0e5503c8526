// The unit without its terminal: state, programs, faults, transcript and
// counters. It is fed the bytes of each exchange with the line settings they
// came at and returns what the unit sends back. Not thread-safe: VirtualUnit
// serialises every call.
#pragma once

#include <array>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/Faults.h"
#include "sim/LineSettings.h"
#include "sim/Programs.h"
#include "sim/Transcript.h"
#include "sim/UnitState.h"

namespace sim {

class UnitCore : private UnitContext {
 public:
  using Clock = std::chrono::steady_clock;

  UnitCore(UnitState state, Clock::time_point start);
  ~UnitCore() override;

  struct Outgoing {
    std::string bytes;  // what goes on the line, in one write
    std::string note;   // what the line did to it, for the transcript
  };

  // One exchange: the bytes received in one read.
  Outgoing Receive(const std::string& raw, const LineSettings& line, Clock::time_point now);
  // The bytes actually written (after a paced delay, possibly short).
  void RecordSent(const std::string& bytes, const std::string& note, const LineSettings& line, Clock::time_point now);
  void RecordOverrun(size_t bytes) { m_counters.overrunBytes += bytes; }
  void RecordEvent(const std::string& text, const LineSettings& line, Clock::time_point now);
  void CountWakeUp() { ++m_counters.loopWakeUps; }
  void CountHangUp() { ++m_counters.hangUps; }

  // A fault point crossed in the last exchange asks the terminal to hang up.
  bool TakeHangUpRequest();

  void PowerOff(const std::string& why, const LineSettings& line, Clock::time_point now);
  void PowerOn(const LineSettings& line, Clock::time_point now);
  // When a power cut with a duration ends; nothing while powered or when the
  // power comes back only on request.
  std::optional<Clock::time_point> PowerRestoreDue() const { return m_powerRestoreAt; }

  const UnitState& View() const { return m_state; }
  // A test changes the state; memory sizes are kept and the program that holds
  // the line afterwards starts fresh if it changed.
  template <class F>
  void Mutate(F&& change) {
    const Program before = m_state.main.program;
    change(m_state);
    Normalise();
    if (m_state.main.program != before) Handler(m_state.main.program).Reset();
  }
  void Replace(UnitState state);

  void SetFaults(const FaultSettings& faults);
  const FaultSettings& Faults() const override { return m_faults; }

  const UnitCounters& Counters() const { return m_counters; }
  void ResetCounters() { m_counters = UnitCounters{}; }
  const std::vector<TranscriptEntry>& Transcript() const { return m_transcript; }
  void ClearTranscript();
  // The transcript is also written to this file as it grows ("" stops it).
  bool SetTranscriptFile(const std::string& path, std::string* error);
  void FlushTranscriptFile();

  static constexpr size_t TRANSCRIPT_LIMIT_BYTES = 64u << 20;

 private:
  // UnitContext
  UnitState& State() override { return m_state; }
  void Answer(std::string_view bytes) override { m_answer.append(bytes); }
  void AnswerTo(std::string_view command, std::string_view bytes, std::optional<uint32_t> where) override;
  void ChangeRate(uint32_t baud) override;
  void StartProgram(Program program, uint32_t baud) override;
  void StartFlashProgram() override;
  void Note(const std::string& text) override;
  double NowMs() const override;
  bool Strikes(FaultKind kind, std::optional<uint32_t> where) override;
  void CountErased(std::string_view memory, uint64_t n) override;
  void CountWritten(std::string_view memory, uint64_t n) override;
  void CountRead(std::string_view memory, uint64_t n) override;

  ProgramHandler& Handler(Program program);
  void Normalise();
  void Record(TranscriptEntry::Kind kind, const std::string& bytes, const std::string& note);
  // Applies byte loss and corruption; describes what it did in note.
  std::string DamageOnLine(const std::string& bytes, double lossRate, double corruptRate, FaultDice& dice,
                           std::string& note);
  void Process(const std::string& bytes);

  UnitState m_state;
  std::array<std::unique_ptr<ProgramHandler>, 5> m_handlers;
  FaultSettings m_faults;
  FaultDice m_rxDice, m_txDice, m_garbageDice;
  uint64_t m_rxSinceFaults = 0;
  bool m_powerLossFired = false;
  bool m_hangUpFired = false;
  bool m_hangUpRequested = false;
  // Targeted faults: what each has seen and done since the faults were set.
  FaultCounter m_blockFault, m_eraseFault, m_pageAnswerFault;
  std::vector<FaultCounter> m_damageCounters;
  uint64_t m_flashPagesSinceFaults = 0;
  uint64_t m_xflashPagesSinceFaults = 0;
  bool m_silenceRequested = false;  // a page-count fault point was reached
  std::optional<Clock::time_point> m_powerRestoreAt;

  UnitCounters m_counters;
  std::vector<TranscriptEntry> m_transcript;
  size_t m_transcriptBytes = 0;
  bool m_transcriptFull = false;
  std::ofstream m_transcriptFile;

  Clock::time_point m_start;
  // Context of the exchange being processed.
  Clock::time_point m_now;
  LineSettings m_line;
  std::string m_answer;
};

}  // namespace sim
