// The command exchange primitives: every conversation with the unit is made of
// these. Each writes its command, waits for the unit's reaction up to its own
// deadline (measured from after the write) and traces what it did. While
// waiting they block on the device for the time left, never spinning.
#include "platform/Clock.h"
#include "serial/SerialPort.h"

#include <string>

namespace {

constexpr uint8_t LF = 0x0A;
constexpr uint8_t CR = 0x0D;
constexpr uint32_t WAKE_UP_PAUSE_MS = 20;
constexpr int QOR_ATTEMPTS = 4;
constexpr int LOADER_COMMAND_ATTEMPTS = 4;
constexpr int LOADER_SEND_ATTEMPTS = 3;
constexpr int VIDEO_RETRIES = 3;

}  // namespace

bool CSerialPort::DeadlinePassed(int64_t start, uint32_t timeoutMs) {
  const int64_t elapsed = CurrentTimeMs() - start;
  return elapsed >= 0 && static_cast<uint64_t>(elapsed) >= timeoutMs;
}

bool CSerialPort::ReadBeforeDeadline(void* buf, uint32_t n, uint32_t& got, int64_t start, uint32_t timeoutMs) {
  got = 0;
  int64_t left = static_cast<int64_t>(timeoutMs) - (CurrentTimeMs() - start);
  if (left < 0) left = 0;
  if (left > static_cast<int64_t>(timeoutMs)) left = timeoutMs;  // the clock went backwards
  if (!platform::SerialWaitForInput(m_hPort, static_cast<uint32_t>(left))) return false;
  ReadPort(buf, n, got);
  return got > 0;
}

int CSerialPort::WriteCommand(const void* command, uint32_t count, uint32_t* written) {
  uint32_t n = 0;
  WritePort(&LF, 1, n);
  platform::SleepMs(WAKE_UP_PAUSE_MS);
  FlushInput(false);
  const bool ok = WritePort(command, count, n);
  if (written) *written = n;
  return ok ? 1 : 0;
}

void CSerialPort::StartQorAttempt(int attempt, const void* command, uint32_t count) {
  uint32_t n = 0;
  if (attempt > 0) {
    // A repetition: wake the line up first.
    LogText("  \"", false);
    WritePort(&LF, 1, n);
    LogBytes(&LF, 1, false);
    LogText("\"", false);
    platform::SleepMs(WAKE_UP_PAUSE_MS);
  }
  FlushInput(true);
  WritePort(command, count, n);
  LogText("  \"", false);
  LogBytes(command, count, false);
  LogText("\"  \"", false);
}

int CSerialPort::WriteToQORAndWait(const void* command, uint32_t count, uint32_t timeoutMs) {
  LogText("WriteToQORAndWait:", false);
  int attempt = 0;
  bool acknowledged = false;
  for (;; ++attempt) {
    StartQorAttempt(attempt, command, count);

    const int64_t start = CurrentTimeMs();
    uint32_t received = 0;
    uint8_t byte = 0;
    uint8_t last = 0;
    while (!DeadlinePassed(start, timeoutMs)) {
      uint32_t got = 0;
      if (!ReadBeforeDeadline(&byte, 1, got, start, timeoutMs)) continue;
      LogBytes(&byte, 1, false);
      ++received;
      last = byte;
      if (last == LF) break;
    }
    LogText("\"", false);

    acknowledged = received == 1 && last == LF;
    if (acknowledged || attempt == QOR_ATTEMPTS - 1) break;
  }
  LogText("\n", true);
  if (attempt > 0) LogMessage(1, "WriteToQORAndWait had retries.", 0);
  return acknowledged ? 1 : 0;
}

uint32_t CSerialPort::CollectAnswer(int64_t start, uint32_t timeoutMs, char* answer, uint32_t capacity,
                                    uint32_t needed, bool skipLeadingLf) {
  uint32_t stored = 0;
  uint8_t chunk[MAX_ANSWER_CAPACITY];
  for (;;) {
    uint32_t got = 0;
    if (ReadBeforeDeadline(chunk, capacity - stored, got, start, timeoutMs)) {
      for (uint32_t i = 0; i < got; ++i) {
        if (skipLeadingLf && stored == 0 && chunk[i] == LF) continue;
        answer[stored++] = static_cast<char>(chunk[i]);
      }
      LogBytes(chunk, got, false);
    }
    const bool endsInLf = stored > 0 && static_cast<uint8_t>(answer[stored - 1]) == LF;
    if (DeadlinePassed(start, timeoutMs) || stored >= capacity || (stored >= needed && endsInLf)) return stored;
  }
}

int CSerialPort::WriteToQORAndWaitFor(const void* command, uint32_t count, uint32_t timeoutMs, char* answer,
                                      uint32_t capacity, bool skipLeadingLf, int retries) {
  answer[0] = '\0';
  if (capacity == 0 || capacity > MAX_ANSWER_CAPACITY) return 0;
  LogText("WriteToQORAndWaitFor:", false);
  const uint32_t needed = capacity > 2 ? 2 : 1;
  uint32_t stored = 0;
  int attempt = 0;
  for (;; ++attempt) {
    StartQorAttempt(attempt, command, count);

    stored = CollectAnswer(CurrentTimeMs(), timeoutMs, answer, capacity, needed, skipLeadingLf);
    LogText("\"", false);

    const bool endsInLf = stored > 0 && static_cast<uint8_t>(answer[stored - 1]) == LF;
    if (attempt >= retries || stored >= capacity || (stored >= needed && endsInLf)) break;
  }
  answer[stored] = '\0';
  LogText("\n", true);
  if (attempt > 0) LogMessage(1, "WriteToQORAndWaitFor had retries.", 0);
  const bool endsInLf = stored > 0 && static_cast<uint8_t>(answer[stored - 1]) == LF;
  return (stored >= capacity || endsInLf) ? 1 : 0;
}

namespace {
// "dwxv;" + the video command without its final LF + ";".
std::string TunnelCommand(const void* command, uint32_t count) {
  std::string tunnel = "dwxv;";
  if (count > 0) tunnel.append(static_cast<const char*>(command), count - 1);
  tunnel += ';';
  return tunnel;
}
}  // namespace

int CSerialPort::WriteToVideoAndWait(const void* command, uint32_t count, uint32_t timeoutMs) {
  const std::string tunnel = TunnelCommand(command, count);
  FlushInput(false);
  return WriteToQORAndWait(tunnel.data(), static_cast<uint32_t>(tunnel.size()), timeoutMs);
}

int CSerialPort::WriteToVideoAndWaitFor(const void* command, uint32_t count, uint32_t timeoutMs, char* answer,
                                        uint32_t capacity) {
  const std::string tunnel = TunnelCommand(command, count);
  FlushInput(false);
  return WriteToQORAndWaitFor(tunnel.data(), static_cast<uint32_t>(tunnel.size()), timeoutMs, answer, capacity,
                              false, VIDEO_RETRIES);
}

int CSerialPort::ReadLine(uint32_t timeoutMs, char* buffer, uint32_t maximum) {
  buffer[0] = '\0';
  if (maximum == 0 || maximum > MAX_ANSWER_CAPACITY) return 0;
  const int64_t start = CurrentTimeMs();
  uint32_t stored = 0;
  for (;;) {
    uint32_t got = 0;
    uint8_t byte = 0;
    if (ReadBeforeDeadline(&byte, 1, got, start, timeoutMs)) buffer[stored++] = static_cast<char>(byte);
    const bool endsInLf = stored > 0 && static_cast<uint8_t>(buffer[stored - 1]) == LF;
    if (DeadlinePassed(start, timeoutMs) || stored >= maximum || endsInLf) break;
  }
  buffer[stored] = '\0';
  const bool endsInLf = stored > 0 && static_cast<uint8_t>(buffer[stored - 1]) == LF;
  return (stored >= maximum || endsInLf) ? 1 : 0;
}

int CSerialPort::WriteAndWaitForByte(const void* bytes, uint32_t count, uint8_t terminator, uint32_t timeoutMs) {
  uint32_t n = 0;
  WritePort(bytes, count, n);
  const int64_t start = CurrentTimeMs();
  uint8_t last = static_cast<uint8_t>(terminator - 1);
  // Bytes that keep arriving without the terminator do not extend the wait:
  // the deadline is checked between bytes too, so a unit that never stops
  // sending cannot keep the installer reading for ever.
  while (last != terminator && !DeadlinePassed(start, timeoutMs)) {
    uint32_t got = 0;
    uint8_t byte = 0;
    if (ReadBeforeDeadline(&byte, 1, got, start, timeoutMs)) last = byte;
  }
  return last == terminator ? 1 : 0;
}

int CSerialPort::LoaderExchange(const void* command, uint32_t count, uint32_t timeoutMs, uint8_t* answer,
                                uint32_t expected, int retries) {
  answer[0] = 0;
  if (expected == 0 || expected > MAX_ANSWER_CAPACITY) return 0;
  FlushInput(false);
  uint32_t got = 0;
  for (int attempt = 0;; ++attempt) {
    uint32_t n = 0;
    WritePort(command, count, n);
    const int64_t start = CurrentTimeMs();
    got = 0;
    while (got < expected && !DeadlinePassed(start, timeoutMs)) {
      uint32_t arrived = 0;
      if (ReadBeforeDeadline(answer + got, expected - got, arrived, start, timeoutMs)) got += arrived;
    }
    if (attempt >= retries || got >= expected) break;
  }
  answer[got] = 0;
  return got >= expected ? 1 : 0;
}

int CSerialPort::LoaderCommand(const void* command, uint32_t count, uint32_t timeoutMs) {
  FlushInput(false);
  for (int attempt = 0; attempt < LOADER_COMMAND_ATTEMPTS; ++attempt) {
    uint32_t n = 0;
    WritePort(command, count, n);
    const int64_t start = CurrentTimeMs();
    while (!DeadlinePassed(start, timeoutMs)) {
      uint32_t got = 0;
      uint8_t byte = 0;
      if (ReadBeforeDeadline(&byte, 1, got, start, timeoutMs) && byte == CR) return 1;
    }
  }
  return 0;
}

int CSerialPort::LoaderSend(const void* command, uint32_t count) {
  FlushInput(false);
  for (int attempt = 0; attempt < LOADER_SEND_ATTEMPTS; ++attempt) {
    uint32_t n = 0;
    WritePort(command, count, n);
    // One read under the port's own time-outs: about 6 ms in the normal set,
    // none at all in the non-blocking set.
    uint8_t byte = 0;
    uint32_t got = 0;
    ReadPort(&byte, 1, got);
    if (got == 1 && byte == CR) return 1;
  }
  ClosePort();
  return 0;
}

const char* CSerialPort::DspCommandPrefix(int core) {
  static const char letters[] = {'s', 'q', 'n', 'm'};
  if (core < 0 || core > 3) core = 0;
  if (m_connectState == CONNECT_DEBUG) {
    m_dspPrefix[0] = 'd';
    m_dspPrefix[1] = letters[core];
    m_dspPrefix[2] = '\0';
  } else {
    m_dspPrefix[0] = letters[core];
    m_dspPrefix[1] = '\0';
  }
  return m_dspPrefix;
}
