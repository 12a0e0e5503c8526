// Finding the unit: the port scan (FindQOR), the port probe (ProbePort) and
// the connection check (CheckConnectTo). All three send the identify command
// "?" + LF and classify the answer.
#include "discovery/ModelCatalogue.h"
#include "platform/Clock.h"
#include "serial/SerialPort.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t ANSWER_WAIT_MS = 500;
constexpr uint32_t ANSWER_READ_MAX = 64;
constexpr int TRIES_PER_RATE = 3;
constexpr uint32_t LOADER_IDENT_WAIT_MS = 450;
constexpr uint32_t LOADER_IDENT_MAX = 45;
constexpr uint32_t LOADER_NUDGE_WAIT_MS = 1000;
constexpr uint32_t VIDEO_IDENT_TIMEOUT_MS = 100;
constexpr uint32_t VIDEO_IDENT_MAX = 45;
constexpr int PORT_COUNT = 8;
// A unit that keeps changing between its boot loader and other programs
// could keep the probe loop of one port going; it gets this many probes.
constexpr int MAX_PROBES_PER_PORT = 32;

const char* const FAILED_TO_SWITCH_TEXT = "Failed to switch to 115200 kbs";
const char* const NOT_FOUND_TEXT =
    "Warning : Unable to locate Veltro hardware on any serial port. Check cable connection and try again";

// An answer from the unit as the text it stands for: up to its first NUL
// byte or its end, whichever comes first.
std::string AnswerText(const uint8_t* bytes, uint32_t count) {
  const auto* text = reinterpret_cast<const char*>(bytes);
  return std::string(text, strnlen(text, count));
}

}  // namespace

CSerialPort::TryResult CSerialPort::IdentifyTry(bool probe, std::string& status, std::string& answer,
                                                 uint32_t& lastRead) {
  using namespace catalogue;
  WriteCommand("?\n", 2, nullptr);
  platform::SleepMs(ANSWER_WAIT_MS);
  uint8_t buffer[ANSWER_READ_MAX];
  ReadPort(buffer, ANSWER_READ_MAX, lastRead);
  answer = AnswerText(buffer, lastRead);

  if (lastRead > 5) {
    if (FindApplicationEntry(answer)) {
      m_connectState = CONNECT_APPLICATION;
      if (m_originalBaudIndex == -1) m_originalBaudIndex = m_baudIndex;
      return TryResult::Recognised;
    }
    if (const CodedEntry* entry = FindProgrammerEntry(answer)) {
      m_connectState = CONNECT_PROGRAMMER;
      SetModelIfUnknown(entry->model);
      m_hwFlags |= entry->setFlags;
      return TryResult::Recognised;
    }
    if (const CodedEntry* entry = FindLoaderEntry(answer)) {
      m_connectState = CONNECT_LOADER;
      SetModelIfUnknown(entry->model);
      if (probe) {
        // Nudge the loader back to the application.
        LoaderSend("X", 1);
        platform::SleepMs(LOADER_NUDGE_WAIT_MS);
        if (!IsOpen()) OpenPort(status);
      }
      return TryResult::Recognised;
    }
    if (Contains(answer, "Invalid Command")) {
      if (!probe) return TryResult::DebugAnswer;
      // Take the unit out of its debug mode.
      WriteToQORAndWait("dx\n", 3, 1500);
      platform::SleepMs(2000);
      WriteToQORAndWait("@0\n", 3, 900);
      m_connectState = CONNECT_NONE;
    }
    return TryResult::Unanswered;
  }

  if (lastRead == 2) {
    if (answer.rfind("??", 0) == 0) {
      if (probe) {
        LoaderSend("X", 1);
        platform::SleepMs(LOADER_NUDGE_WAIT_MS);
        m_connectState = CONNECT_LOADER;
        if (!IsOpen()) OpenPort(status);
        return TryResult::Unanswered;
      }
      uint32_t n = 0;
      WritePort("S", 1, n);
      platform::SleepMs(LOADER_IDENT_WAIT_MS);
      uint8_t ident[LOADER_IDENT_MAX];
      ReadPort(ident, LOADER_IDENT_MAX, lastRead);
      answer = AnswerText(ident, lastRead);
      if (Contains(answer, "ISP")) {
        m_connectState = CONNECT_LOADER;
        return TryResult::Recognised;
      }
      return TryResult::Unanswered;
    }
    if (!probe && answer == "!\n") {
      uint32_t n = 0;
      WritePort("V\n", 2, n);
      char line[VIDEO_IDENT_MAX + 1];
      ReadLine(VIDEO_IDENT_TIMEOUT_MS, line, VIDEO_IDENT_MAX);
      lastRead = static_cast<uint32_t>(std::strlen(line));
      answer = line;
      if (ParseVideoLoaderIdent(line)) {
        m_connectState = CONNECT_VIDEO_LOADER;
        return TryResult::Recognised;
      }
    }
  }
  return TryResult::Unanswered;
}

int CSerialPort::AcceptAndStoreModel(const std::string& answer, bool probe) {
  using namespace catalogue;
  const Check check = probe ? Check::Probe : Check::Connection;
  if (!IsAccepted(answer, check)) return 0;
  SetModelIfUnknown(ModelFromList(answer, check));
  if (m_connectState == CONNECT_LOADER) {
    if (Contains(answer, "240V"))
      m_hwFlags |= HW_240V;
    else
      m_hwFlags &= static_cast<uint16_t>(~HW_240V);
  }
  return 1;
}

int CSerialPort::ProbePort(std::string& status) {
  if (!ApplyBaudRate()) {
    status = FAILED_TO_SWITCH_TEXT;
    ClosePort();
    return 0;
  }
  for (int tryNo = 0; tryNo < TRIES_PER_RATE; ++tryNo) {
    std::string answer;
    uint32_t lastRead = 0;
    if (IdentifyTry(true, status, answer, lastRead) == TryResult::Recognised)
      return lastRead > 0 ? AcceptAndStoreModel(answer, true) : 0;
  }
  return 0;
}

int CSerialPort::CheckConnectTo(int32_t startBaudIndex) {
  static const char* const name = "CSerialPort::CheckConnectTo";
  LogFunctionEnter(name);
  CFunctionTrace trace(*this, name);

  m_baudIndex = startBaudIndex;
  if (!IsOpen()) {
    std::string discarded;
    OpenPort(discarded);
  }
  m_nonBlockingReads = 0;

  for (;;) {
    if (!ApplyBaudRate()) {
      ClosePort();
      trace.Exit();
      return 0;
    }
    int debugAnswers = 0;
    TryResult result = TryResult::Unanswered;
    std::string answer;
    uint32_t lastRead = 0;
    for (int tryNo = 0; tryNo < TRIES_PER_RATE && result != TryResult::Recognised; ++tryNo) {
      std::string discarded;
      result = IdentifyTry(false, discarded, answer, lastRead);
      if (result == TryResult::DebugAnswer) ++debugAnswers;
    }
    if (lastRead > 0) {
      if (result == TryResult::Recognised) {
        if (AcceptAndStoreModel(answer, false) || catalogue::Contains(answer, "DVB BOOT")) {
          trace.Exit();
          return 1;
        }
      } else if (debugAnswers == TRIES_PER_RATE) {
        m_connectState = CONNECT_DEBUG;
        trace.Exit();
        return 1;
      }
    }
    // This rate failed: the next one, wrapping from 7 to 0, until all were tried.
    m_baudIndex = (m_baudIndex + 1) % 8;
    if (m_baudIndex == startBaudIndex) {
      trace.Exit();
      return 0;
    }
  }
}

int CSerialPort::FindQOR(std::string& status) {
  static const char* const name = "CSerialPort::FindQOR";
  LogFunctionEnter(name);
  CFunctionTrace trace(*this, name);

  if (m_connectState == CONNECT_NONE || m_portNumber >= PORT_COUNT + 1 || m_portNumber < 1) m_portNumber = 1;
  for (; m_portNumber <= PORT_COUNT; ++m_portNumber) {
    m_baudIndex = 0;
    // A unit found earlier is looked for under the name of its port until a
    // probe forgets it.
    if (m_connectState == CONNECT_NONE) {
      char portName[32];
      std::snprintf(portName, sizeof portName, "\\\\.\\COM%d", m_portNumber);
      m_portName = portName;
    }
    if (!OpenPort(status)) continue;
    m_nonBlockingReads = 0;
    if (!ApplyTimeouts() && !OpenPort(status)) continue;

    for (int probes = 0; !ProbePort(status); ++probes) {
      if (probes + 1 == MAX_PROBES_PER_PORT) {
        m_baudIndex = 8;  // give up on this port
        break;
      }
      if (m_connectState != CONNECT_LOADER) {
        if (++m_baudIndex == 8) break;
      } else if (m_baudIndex != 0) {
        m_baudIndex = 0;
      } else {
        break;
      }
    }
    ClosePort();
    if (m_baudIndex < 8) break;  // the unit answers on this port
  }

  if (m_portNumber > PORT_COUNT) {
    // No unit: the rate index returns to the table (it ran past its end).
    m_baudIndex = 0;
    status = NOT_FOUND_TEXT;
    trace.Exit();
    return 0;
  }
  trace.Exit();
  return GetModelFoundText(status);
}
