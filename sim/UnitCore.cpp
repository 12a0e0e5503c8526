#include "sim/UnitCore.h"

#include <algorithm>

#include "sim/FlashIdentification.h"

namespace sim {

namespace {

size_t ProgramIndex(Program program) { return static_cast<size_t>(program); }

void Resize(std::vector<uint8_t>& memory, size_t size) {
  if (memory.size() != size) memory.resize(size, 0xFF);
}

}  // namespace

UnitCore::UnitCore(UnitState state, Clock::time_point start) : m_state(std::move(state)), m_start(start), m_now(start) {
  m_handlers[ProgramIndex(Program::Application)] = MakeMainApplication();
  m_handlers[ProgramIndex(Program::DebugMode)] = MakeDebugMode();
  m_handlers[ProgramIndex(Program::BootLoader)] = MakeBootLoader();
  m_handlers[ProgramIndex(Program::Programmer)] = MakeProgrammerFirmware();
  m_handlers[ProgramIndex(Program::VideoBoardLoader)] = MakeVideoBoardLoader();
  Normalise();
  SetFaults(FaultSettings{});
}

UnitCore::~UnitCore() = default;

ProgramHandler& UnitCore::Handler(Program program) { return *m_handlers[ProgramIndex(program)]; }

void UnitCore::Normalise() {
  Resize(m_state.main.flash, MAIN_FLASH_BYTES);
  Resize(m_state.main.eeprom, MAIN_EEPROM_BYTES);
  Resize(m_state.xflash.data, XFLASH_BYTES);
}

void UnitCore::Replace(UnitState state) {
  m_state = std::move(state);
  Normalise();
  for (auto& h : m_handlers) h->Reset();
  m_powerRestoreAt.reset();
}

void UnitCore::SetFaults(const FaultSettings& faults) {
  m_faults = faults;
  // Independent streams per direction, so that the damage to one direction
  // does not depend on how the other's bytes were batched.
  m_rxDice = FaultDice(faults.seed * 3 + 1);
  m_txDice = FaultDice(faults.seed * 3 + 2);
  m_garbageDice = FaultDice(faults.seed * 3 + 3);
  m_rxSinceFaults = 0;
  m_powerLossFired = m_hangUpFired = false;
  m_blockFault = m_eraseFault = m_pageAnswerFault = FaultCounter{};
  m_damageCounters.assign(faults.answerDamage.size(), FaultCounter{});
  m_flashPagesSinceFaults = m_xflashPagesSinceFaults = 0;
  m_silenceRequested = false;
}

double UnitCore::NowMs() const { return std::chrono::duration<double, std::milli>(m_now - m_start).count(); }

bool UnitCore::Strikes(FaultKind kind, std::optional<uint32_t> where) {
  auto strikes = [&](const std::optional<FaultPoint>& point, FaultCounter& counter) {
    return point && counter.Strikes(*point, where);
  };
  switch (kind) {
    case FaultKind::FlashBlockUnacknowledged: return strikes(m_faults.flashBlockUnacknowledged, m_blockFault);
    case FaultKind::XflashEraseAnsweredOne: return strikes(m_faults.xflashEraseAnsweredOne, m_eraseFault);
    case FaultKind::XflashPageAnswer: return strikes(m_faults.xflashPageAnswerFault, m_pageAnswerFault);
  }
  return false;
}

void UnitCore::AnswerTo(std::string_view command, std::string_view bytes, std::optional<uint32_t> where) {
  std::string answer(bytes);
  for (size_t i = 0; i < m_faults.answerDamage.size(); ++i) {
    const AnswerDamage& d = m_faults.answerDamage[i];
    if (d.command != command || !m_damageCounters[i].Strikes(d.point, where)) continue;
    if (d.byteIndex >= answer.size()) continue;
    if (d.lose) {
      answer.erase(d.byteIndex, 1);
      ++m_counters.lostBytes;
    } else {
      answer[d.byteIndex] = static_cast<char>(answer[d.byteIndex] ^ 0x01);
      ++m_counters.corruptedBytes;
    }
    Note(std::string("answer to ") + std::string(command) + (d.lose ? ": byte lost at " : ": byte garbled at ") +
         std::to_string(d.byteIndex));
  }
  Answer(answer);
}

void UnitCore::ChangeRate(uint32_t baud) {
  m_state.main.lineBaud = baud;
  Note(std::string(ProgramName(m_state.main.program)) + " now listens at " + std::to_string(baud));
}

void UnitCore::CountErased(std::string_view memory, uint64_t n) { m_counters.memories[std::string(memory)].erased += n; }

void UnitCore::CountRead(std::string_view memory, uint64_t n) { m_counters.memories[std::string(memory)].read += n; }

void UnitCore::CountWritten(std::string_view memory, uint64_t n) {
  m_counters.memories[std::string(memory)].written += n;
  auto reached = [&](uint64_t& count, const std::optional<uint64_t>& point) {
    const uint64_t before = count;
    count += n;
    return point && before < *point && count >= *point;
  };
  if (memory == MAIN_FLASH && reached(m_flashPagesSinceFaults, m_faults.silentAfterFlashPages))
    m_silenceRequested = true;
  if (memory == XFLASH && reached(m_xflashPagesSinceFaults, m_faults.silentAfterXflashPages))
    m_silenceRequested = true;
}

bool UnitCore::TakeHangUpRequest() {
  const bool r = m_hangUpRequested;
  m_hangUpRequested = false;
  return r;
}

void UnitCore::Record(TranscriptEntry::Kind kind, const std::string& bytes, const std::string& note) {
  TranscriptEntry e;
  e.kind = kind;
  e.timeMs = std::chrono::duration<double, std::milli>(m_now - m_start).count();
  e.bytes = bytes;
  e.note = note;
  e.program = m_state.main.program;
  e.powered = m_state.powered;
  e.line = m_line;
  if (m_transcriptFile.is_open()) m_transcriptFile << FormatTranscriptEntry(e) << '\n';
  if (m_transcriptFull) return;
  m_transcriptBytes += e.bytes.size() + e.note.size() + sizeof e;
  if (m_transcriptBytes > TRANSCRIPT_LIMIT_BYTES) {
    m_transcriptFull = true;
    e.kind = TranscriptEntry::Kind::Event;
    e.bytes = "transcript full: later entries are not kept in memory";
    e.note.clear();
  }
  m_transcript.push_back(std::move(e));
}

void UnitCore::ClearTranscript() {
  m_transcript.clear();
  m_transcriptBytes = 0;
  m_transcriptFull = false;
}

bool UnitCore::SetTranscriptFile(const std::string& path, std::string* error) {
  if (m_transcriptFile.is_open()) m_transcriptFile.close();
  if (path.empty()) return true;
  m_transcriptFile.open(path, std::ios::out | std::ios::trunc);
  if (!m_transcriptFile) {
    if (error) *error = "cannot write transcript file " + path;
    return false;
  }
  return true;
}

void UnitCore::FlushTranscriptFile() {
  if (m_transcriptFile.is_open()) m_transcriptFile.flush();
}

void UnitCore::RecordEvent(const std::string& text, const LineSettings& line, Clock::time_point now) {
  m_now = now;
  m_line = line;
  Record(TranscriptEntry::Kind::Event, text, {});
}

void UnitCore::Note(const std::string& text) { Record(TranscriptEntry::Kind::Event, text, {}); }

void UnitCore::StartProgram(Program program, uint32_t baud) {
  m_state.main.program = program;
  m_state.main.lineBaud = baud;
  m_state.xflash.writable = false;
  Handler(program).Reset();
  ++m_counters.programStarts;
  Note(std::string("program started: ") + ProgramName(program) + ", listening at " + std::to_string(baud));
}

void UnitCore::StartFlashProgram() {
  const StartDecision d = DecideStartProgram(m_state);
  Note(d.reason);
  StartProgram(d.program, d.baud);
}

std::string UnitCore::DamageOnLine(const std::string& bytes, double lossRate, double corruptRate, FaultDice& dice,
                                   std::string& note) {
  if (lossRate <= 0.0 && corruptRate <= 0.0) return bytes;
  std::string out;
  size_t lost = 0, corrupted = 0;
  for (char c : bytes) {
    if (dice.Roll(lossRate)) {
      ++lost;
      continue;
    }
    if (dice.Roll(corruptRate)) {
      ++corrupted;
      const uint8_t flip = static_cast<uint8_t>(1u << (dice.Next() % 8));
      c = static_cast<char>(static_cast<uint8_t>(c) ^ flip);
    }
    out.push_back(c);
  }
  m_counters.lostBytes += lost;
  m_counters.corruptedBytes += corrupted;
  if (lost || corrupted) {
    if (!note.empty()) note += ", ";
    note += "line lost " + std::to_string(lost) + " and corrupted " + std::to_string(corrupted) + " bytes";
  }
  return out;
}

UnitCore::Outgoing UnitCore::Receive(const std::string& raw, const LineSettings& line, Clock::time_point now) {
  m_now = now;
  m_line = line;
  m_answer.clear();
  ++m_counters.exchanges;
  m_counters.rxBytes += raw.size();

  std::string note;
  if (!line.Is8N2()) {
    ++m_counters.conformanceErrors;
    note = "not 8N2";
  }
  if (m_state.powered && line.baud != m_state.main.lineBaud) {
    if (!note.empty()) note += ", ";
    note += std::string("wrong rate: ") + ProgramName(m_state.main.program) + " listens at " +
            std::to_string(m_state.main.lineBaud);
  }

  // Fault points: the bytes up to the point are taken in, then the power goes
  // or the cable is pulled.
  const uint64_t before = m_rxSinceFaults;
  m_rxSinceFaults += raw.size();
  size_t taken = raw.size();
  auto crossed = [&](const std::optional<uint64_t>& point, bool& fired) {
    if (!point || fired || m_rxSinceFaults < *point) return false;
    fired = true;
    taken = std::min<size_t>(taken, static_cast<size_t>(*point - std::min(before, *point)));
    return true;
  };
  const bool powerLoss = crossed(m_faults.powerLossAfterRxBytes, m_powerLossFired);
  const bool hangUp = crossed(m_faults.hangUpAfterRxBytes, m_hangUpFired);

  if (!m_state.powered) {
    if (!note.empty()) note += ", ";
    note += "powered off";
  }
  if (m_state.powered) {
    const std::string damaged = DamageOnLine(raw.substr(0, taken), m_faults.rxLossRate, m_faults.rxCorruptRate, m_rxDice, note);
    Record(TranscriptEntry::Kind::Received, raw, note);
    Process(damaged);
  } else {
    Record(TranscriptEntry::Kind::Received, raw, note);
  }

  if (m_silenceRequested) {
    // The page that reached the point is written and acknowledged; then the
    // unit goes silent.
    m_silenceRequested = false;
    PowerOff("silent after the pages written that the fault asked for", line, now);
  }
  if (powerLoss) {
    PowerOff("power cut after " + std::to_string(*m_faults.powerLossAfterRxBytes) + " bytes received", line, now);
    m_answer.clear();
  }
  if (hangUp) {
    m_hangUpRequested = true;
    m_answer.clear();
  }

  Outgoing out;
  if (m_answer.empty()) return out;
  std::string answer;
  answer.swap(m_answer);
  if (m_garbageDice.Roll(m_faults.garbageAnswerRate)) {
    for (auto& c : answer) c = static_cast<char>(m_garbageDice.Byte());
    ++m_counters.garbageAnswers;
    out.note = "answer replaced by garbage";
  }
  out.bytes = DamageOnLine(answer, m_faults.txLossRate, m_faults.txCorruptRate, m_txDice, out.note);
  return out;
}

void UnitCore::Process(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size() && !m_silenceRequested; ++i) {
    if (m_line.baud != m_state.main.lineBaud) {
      // Misframed characters: the program understands none of them.
      const size_t rest = bytes.size() - i;
      ++m_counters.wrongRateExchanges;
      if (i > 0)
        Note(std::to_string(rest) + " bytes discarded: " + ProgramName(m_state.main.program) + " listens at " +
             std::to_string(m_state.main.lineBaud));
      if (m_faults.garbageAtWrongRate) {
        for (size_t k = 0; k < std::min<size_t>(rest, 64); ++k) m_answer.push_back(static_cast<char>(m_garbageDice.Byte()));
        ++m_counters.garbageAnswers;
      }
      return;
    }
    Handler(m_state.main.program).Receive(static_cast<uint8_t>(bytes[i]), *this);
  }
}

void UnitCore::RecordSent(const std::string& bytes, const std::string& note, const LineSettings& line,
                          Clock::time_point now) {
  m_now = now;
  m_line = line;
  m_counters.txBytes += bytes.size();
  Record(TranscriptEntry::Kind::Sent, bytes, note);
}

void UnitCore::PowerOff(const std::string& why, const LineSettings& line, Clock::time_point now) {
  m_now = now;
  m_line = line;
  if (!m_state.powered) return;
  Note("power off: " + why);
  m_state.powered = false;
  ++m_counters.powerLosses;
  for (auto& h : m_handlers) h->Reset();
  if (m_faults.powerOffMs > 0)
    m_powerRestoreAt = now + std::chrono::milliseconds(m_faults.powerOffMs);
  else
    m_powerRestoreAt.reset();
}

void UnitCore::PowerOn(const LineSettings& line, Clock::time_point now) {
  m_now = now;
  m_line = line;
  m_powerRestoreAt.reset();
  if (m_state.powered) return;
  m_state.powered = true;
  // The unit comes back in standby, with the main processor starting as at
  // power-up: the boot loader hands over to the program in flash if it may.
  m_state.zones.on = {false, false, false};
  m_state.zones.zone1Starting = false;
  m_state.zones.switchedOnAtMs.reset();
  Note("power on");
  StartFlashProgram();
}

}  // namespace sim
