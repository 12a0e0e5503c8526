// Transport of CSerialPort: opening and closing the port, the line settings,
// the two time-out sets, purging and draining input, and the clock.
#include "serial/SerialPort.h"

#include "BuildConfig.h"
#include "platform/Clock.h"

const char* const COMM_ERROR_TEXT = "Communication Error : " K4V_MODEL_NAME " not programmed";

namespace {
// Bounds of FlushInput: a reopen every 128 drained bytes, at most 1025 reads.
constexpr uint32_t FLUSH_REOPEN_EVERY = 128;
constexpr uint32_t FLUSH_MAX_COUNT = 1024;
}  // namespace

CSerialPort::CSerialPort() {
  m_hwFlags = 0;
  m_logEnabled = K4V_TRACE_LOG_DEFAULT;
  ResetUnitState();
}

CSerialPort::~CSerialPort() { ClosePort(); }

void CSerialPort::ResetUnitState() {
  m_loaderVersion = 0;
  m_connectState = CONNECT_NONE;
  m_baudIndex = 0;
  m_originalBaudIndex = -1;
  m_fastBaudIndex = 7;
  m_portNumber = 1;
  m_model = MODEL_UNKNOWN;
  m_nonBlockingReads = 0;
  m_dspModuleKind = 4;
  m_hwFlags = static_cast<uint16_t>((m_hwFlags & ~HW_OPTION_BIT1) | HW_OPTION_BIT2);
}

int CSerialPort::OpenPort(std::string& errorText) {
  ClosePort();
  m_hPort = platform::SerialOpen(m_portName);
  if (m_hPort == platform::INVALID_SERIAL_HANDLE) {
    errorText = COMM_ERROR_TEXT;
    return 0;
  }
  if (!ApplyBaudRate()) {
    errorText = COMM_ERROR_TEXT;
    ClosePort();
    return 0;
  }
  if (!ApplyTimeouts()) {
    errorText = COMM_ERROR_TEXT;
    ClosePort();
    return 0;
  }
  ++m_counters.opens;
  return 1;
}

void CSerialPort::ClosePort() {
  if (m_hPort == platform::INVALID_SERIAL_HANDLE) return;
  platform::SerialClose(m_hPort);
  m_hPort = platform::INVALID_SERIAL_HANDLE;
}

int CSerialPort::ApplyBaudRate() {
  platform::SerialLineSettings line;
  if (m_baudIndex < 0 || m_baudIndex > 7) {
    // Not a rate of the table: refuse instead of reading past it.
    ClosePort();
    return 0;
  }
  if (!platform::SerialGetState(m_hPort, line)) {
    ClosePort();
    return 0;
  }
  line.baudRate = BAUD_TABLE[m_baudIndex];
  line.byteSize = 8;
  line.parity = platform::Parity::None;
  line.stopBits = platform::StopBits::Two;
  line.binary = true;
  line.outX = false;
  line.inX = false;
  // Bytes written at the old rate leave the port at the old rate.
  platform::SerialDrain(m_hPort);
  if (!platform::SerialSetState(m_hPort, line)) {
    ClosePort();
    return 0;
  }
  return 1;
}

int CSerialPort::ApplyTimeouts() {
  platform::SerialTimeouts timeouts;
  if (!platform::SerialGetTimeouts(m_hPort, timeouts)) {
    ClosePort();
    return 0;
  }
  if (m_nonBlockingReads == 0) {
    timeouts.readIntervalTimeout = 1;
    timeouts.readTotalTimeoutMultiplier = 1;
    timeouts.readTotalTimeoutConstant = 5;
    timeouts.writeTotalTimeoutMultiplier = 1;
    timeouts.writeTotalTimeoutConstant = 5;
  } else {
    timeouts.readIntervalTimeout = platform::SERIAL_MAXDWORD;
    timeouts.readTotalTimeoutMultiplier = 0;
    timeouts.readTotalTimeoutConstant = 0;
    timeouts.writeTotalTimeoutMultiplier = 0;
    timeouts.writeTotalTimeoutConstant = 0;
  }
  if (!platform::SerialPurge(m_hPort, platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR)) {
    // A failed purge reopens the port once; the reopen purges again, and a
    // second failure inside it gives up instead of reopening for ever.
    if (m_purgeReopenDepth > 0) {
      ClosePort();
      return 0;
    }
    std::string discarded;
    ++m_purgeReopenDepth;
    const int reopened = OpenPort(discarded);
    --m_purgeReopenDepth;
    if (!reopened) return 0;
  }
  if (!platform::SerialSetTimeouts(m_hPort, timeouts)) {
    ClosePort();
    return 0;
  }
  return 1;
}

void CSerialPort::FlushInput(bool logDiscarded) {
  std::string collected;
  uint8_t byte = 0;
  uint32_t got = 0;

  // Collect what is waiting, for the log. A unit that never stops sending
  // must not keep us here: the collection stops at the drain's own bound and
  // the purge below throws the rest away. With the log switched off there is
  // nothing to collect for, and the drain below still waits out late bytes.
  logDiscarded = logDiscarded && m_logEnabled;
  if (logDiscarded) {
    for (uint32_t i = 0; i < FLUSH_MAX_COUNT; ++i) {
      if (!ReadPort(&byte, 1, got) || got == 0) break;
      collected.push_back(static_cast<char>(byte));
    }
  }

  if (!platform::SerialPurge(m_hPort, platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR)) {
    std::string discarded;
    if (!OpenPort(discarded)) return;
  }

  // Drain what still trickles in; reopen after every 128 bytes of a unit
  // that keeps sending, and give up after 1025 reads.
  uint32_t count = 0;
  for (;;) {
    if (!ReadPort(&byte, 1, got)) break;
    if (got == 1 && logDiscarded) collected.push_back(static_cast<char>(byte));
    ++count;
    if (count % FLUSH_REOPEN_EVERY == 0) {
      std::string discarded;
      if (!OpenPort(discarded)) break;
    } else if (count > FLUSH_MAX_COUNT) {
      break;
    }
    if (got == 0) break;
  }

  if (logDiscarded && !collected.empty()) {
    LogText("  (\"", false);
    LogBytes(collected.data(), static_cast<uint32_t>(collected.size()), false);
    LogText("\")", false);
  }
}

int64_t CSerialPort::CurrentTimeMs() { return platform::MonotonicMs(); }

bool CSerialPort::ReadPort(void* buf, uint32_t n, uint32_t& got) {
  ++m_counters.reads;
  return platform::SerialRead(m_hPort, buf, n, &got);
}

bool CSerialPort::WritePort(const void* buf, uint32_t n, uint32_t& written) {
  ++m_counters.writes;
  return platform::SerialWrite(m_hPort, buf, n, &written);
}

void CSerialPort::WaitForInput(uint32_t ms) { platform::SerialWaitForInput(m_hPort, ms); }
