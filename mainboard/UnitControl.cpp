// Unit control: zones, power-up, the running program's baud rate, the clock,
// the serial number, and the way into and out of the debug mode.
#include "mainboard/MainBoard.h"
#include "mainboard/SerialNumberPrompt.h"
#include "platform/Clock.h"
#include "serial/SerialPort.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int ATTEMPTS = 3;
constexpr uint32_t DEBUG_EXIT_WAIT_MS = 2500;
constexpr uint32_t POWER_ON_WAIT_MS = 10000;
constexpr uint32_t DEBUG_STATE_POLL_WAIT_MS = 1000;
constexpr int64_t DEBUG_STATE_POLL_MS = 15000;
constexpr int64_t ZONE_WAIT_LOOP_MS = 35000;
constexpr uint32_t BAUD_CHANGE_WAIT_MS = 500;
constexpr uint32_t DISCARD_MAX = 64;
constexpr int DEBUG_STATE_READY = 9;
constexpr int SERIAL_NUMBER_READS = 3;

bool Contains(const char* text, const char* what) { return std::strstr(text, what) != nullptr; }

// A text command acknowledged with a lone LF.
int Send(CSerialPort& port, const char* command, uint32_t timeoutMs) {
  return port.WriteToQORAndWait(command, static_cast<uint32_t>(std::strlen(command)), timeoutMs);
}

// A text command answered with a line, with three retries.
int Ask(CSerialPort& port, const char* command, uint32_t timeoutMs, char* answer, uint32_t capacity) {
  answer[0] = '\0';
  return port.WriteToQORAndWaitFor(command, static_cast<uint32_t>(std::strlen(command)), timeoutMs, answer,
                                   capacity, false, 3);
}

// The debug state: "dP?" + LF, answered with a hexadecimal number of up to
// three bytes. -1 when nothing came.
int AskDebugState(CSerialPort& port) {
  uint8_t answer[4] = {};
  port.LoaderExchange("dP?\n", 4, 400, answer, 3, 3);
  if (answer[0] == 0) return -1;
  unsigned value = 0;
  if (std::sscanf(reinterpret_cast<const char*>(answer), "%x", &value) != 1) return -1;
  return static_cast<int>(value);
}

void DiscardInput(CSerialPort& port) {
  uint8_t discard[DISCARD_MAX];
  uint32_t got = 0;
  port.ReadPort(discard, DISCARD_MAX, got);
}

}  // namespace

int mainboard::UnitBaudCode(int32_t baudIndex) {
  static const int codes[8] = {4, 0, 1, 2, 3, 5, 6, 7};
  return baudIndex >= 0 && baudIndex < 8 ? codes[baudIndex] : 4;
}

bool mainboard::IsPlaceholderSerialNumber(const std::string& text) {
  static const char* const placeholders[] = {"01234567", "00000000", "0", "000000", " ", ""};
  for (const char* p : placeholders)
    if (text == p) return true;
  return false;
}

std::string mainboard::ClockTimeCommand(int hour, int minute, bool twentyFourHour) {
  char text[16];
  if (twentyFourHour) {
    std::snprintf(text, sizeof text, "STC%02d:%02d\n", hour % 24, minute % 60);
  } else {
    const int h12 = hour % 12 == 0 ? 12 : hour % 12;
    std::snprintf(text, sizeof text, "STC%02d:%02d%s\n", h12, minute % 60, hour % 24 < 12 ? "AM" : "PM");
  }
  return text;
}

int CSerialPort::EnterDebugMode(std::string& status) {
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    if (!CheckConnectTo(m_baudIndex)) continue;
    switch (m_connectState) {
      case CONNECT_DEBUG:
        return 1;
      case CONNECT_APPLICATION:
      case CONNECT_PROGRAMMER:
        WriteToQORAndWait("D7096.8\n", 8, 2000);
        break;
      case CONNECT_LOADER:
        LoaderSend("X", 1);
        break;
      default:
        break;
    }
  }
  status = "Failed to enter debug mode";
  return 0;
}

int CSerialPort::ExitDebugMode(std::string& status) {
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    if (!CheckConnectTo(m_baudIndex)) {
      OpenPort(status);
      WriteToQORAndWait("@0\n", 3, 900);
      continue;
    }
    switch (m_connectState) {
      case CONNECT_DEBUG:
        WriteToQORAndWait("dx\n", 3, 500);
        platform::SleepMs(DEBUG_EXIT_WAIT_MS);
        if (m_originalBaudIndex != -1) m_baudIndex = m_originalBaudIndex;
        break;
      case CONNECT_APPLICATION:
      case CONNECT_PROGRAMMER:
        return 1;
      case CONNECT_LOADER:
        LoaderSend("X", 1);
        platform::SleepMs(DEBUG_EXIT_WAIT_MS);
        break;
      default:
        break;
    }
  }
  status = "Failed to exit debug mode";
  ClosePort();
  return 0;
}

int CSerialPort::SwitchZonesOff() {
  Send(*this, "P1P0\n", 100);
  Send(*this, "P2P0\n", 100);
  Send(*this, "P3P0\n", 100);
  for (int pass = 0; pass < 4; ++pass) {
    int off = 0;
    for (int zone = 1; zone <= 3; ++zone) {
      char query[8], on[8], offText[8], command[8];
      std::snprintf(query, sizeof query, "P%dP?\n", zone);
      std::snprintf(on, sizeof on, "P%dP1", zone);
      std::snprintf(offText, sizeof offText, "P%dP0", zone);
      std::snprintf(command, sizeof command, "P%dP0\n", zone);
      char answer[8];
      Ask(*this, query, zone == 1 ? 400 : 200, answer, 7);
      if (Contains(answer, on))
        Send(*this, command, 50);
      else if (Contains(answer, offText))
        ++off;
    }
    if (off == 3) return 1;
  }
  return 0;
}

int CSerialPort::PowerUpUnit(bool needDebugMode) {
  std::string privateStatus;  // this operation's texts are not shown
  if (!CheckConnectTo(m_baudIndex)) return 0;

  if (m_connectState == CONNECT_DEBUG) {
    if (needDebugMode && AskDebugState(*this) == DEBUG_STATE_READY) return 1;
    if (!ExitDebugMode(privateStatus)) return 0;
  }

  char answer[8];
  Send(*this, "SST0\n", 2000);
  Ask(*this, "P1P?\n", 400, answer, 5);
  if (Contains(answer, "P1P1")) {
    Send(*this, "SVM0\n", 400);
    Send(*this, "P1M1\n", 200);
    Send(*this, "P1S4\n", 400);
    platform::SleepMs(100);
  } else {
    Send(*this, "P1P1\n", 200);
    if (needDebugMode) {
      Send(*this, "D7096.8\n", 2000);
      if (!EnterDebugMode(privateStatus)) return 0;
      const int64_t noted = CurrentTimeMs();
      do {
        platform::SleepMs(DEBUG_STATE_POLL_WAIT_MS);
        if (AskDebugState(*this) == DEBUG_STATE_READY) return 1;
      } while (CurrentTimeMs() - noted < DEBUG_STATE_POLL_MS);
      if (!ExitDebugMode(privateStatus)) {
        ClosePort();
        return 0;
      }
    } else {
      Send(*this, "P1S4\n", 400);
      Send(*this, "SVM0\n", 400);
      Send(*this, "P1M1\n", 200);
      platform::SleepMs(POWER_ON_WAIT_MS);
    }
  }

  // Wait for zone 1 to report on.
  const int64_t loopStart = CurrentTimeMs();
  answer[0] = '\0';
  while (CurrentTimeMs() - loopStart < ZONE_WAIT_LOOP_MS) {
    std::memset(answer, 0, sizeof answer);
    Ask(*this, "P1P?\n", 2000, answer, 5);
    if (Contains(answer, "P1P1")) {
      Send(*this, "P1S4\n", 400);
      Send(*this, "SVM0\n", 4000);
      Send(*this, "P1M1\n", 200);
      break;
    }
    if (Contains(answer, "P1P0")) {
      Send(*this, "P1P1\n", 200);
      Send(*this, "P1S4\n", 400);
      Send(*this, "SVM0\n", 4000);
      Send(*this, "P1M1\n", 200);
      platform::SleepMs(POWER_ON_WAIT_MS);
    }
  }
  if (Contains(answer, "P1P1")) {
    if (needDebugMode && !EnterDebugMode(privateStatus)) return 0;
    return 1;
  }
  ClosePort();
  return 0;
}

int CSerialPort::ChangeUnitBaudRate() {
  const int code = mainboard::UnitBaudCode(m_baudIndex);
  platform::SerialLineSettings line;
  if (!platform::SerialGetState(m_hPort, line)) {
    ClosePort();
    return 0;
  }
  if (m_baudIndex < 0 || m_baudIndex > 7) {
    ClosePort();
    return 0;
  }
  if (line.baudRate != BAUD_TABLE[m_baudIndex]) {
    char command[8];
    if (m_connectState == CONNECT_DEBUG) {
      std::snprintf(command, sizeof command, "dB%d\n", code);
    } else {
      std::snprintf(command, sizeof command, "SSB%d\n", code);
      platform::SleepMs(BAUD_CHANGE_WAIT_MS);
    }
    WriteCommand(command, static_cast<uint32_t>(std::strlen(command)), nullptr);
    platform::SleepMs(BAUD_CHANGE_WAIT_MS);
    DiscardInput(*this);
    // The port follows: bytes still queued leave at the old rate first. A
    // port that refuses the settings is closed; the probes' flush reopens it.
    ApplyBaudRate();
    DiscardInput(*this);
  }
  platform::SleepMs(BAUD_CHANGE_WAIT_MS);

  char answer[65] = {};
  for (int probe = 0; probe < 3; ++probe) {
    DiscardInput(*this);
    Ask(*this, "?\n", 500, answer, 64);
    if (answer[0] == '\0') continue;
    if (m_connectState == CONNECT_DEBUG && probe >= 1 && Contains(answer, "Invalid")) return 1;
    if (Contains(answer, "Invalid") || answer[0] == '\n') continue;
    for (const char* name : {"QOR 70", "QOR 80", "QOR 90", "QOR 60", "Solstrand K"})
      if (Contains(answer, name)) return 1;
    ClosePort();
    return 0;
  }
  if (answer[0] != '\0') return 1;
  ClosePort();
  return 0;
}

int CSerialPort::SetUnitClock() {
  char format[8];
  if (!Ask(*this, "STF?\n", 4000, format, 5)) return 0;
  if (!Contains(format, "STF")) return 0;

  std::tm now{};
  const bool haveTime = platform::GetLocalTime(now);
  char day[8];
  std::snprintf(day, sizeof day, "STD%d\n", haveTime ? (now.tm_wday % 7) + 1 : 0);
  if (!Send(*this, day, 500)) return 0;
  const std::string time = mainboard::ClockTimeCommand(haveTime ? now.tm_hour : 0, haveTime ? now.tm_min : 0,
                                                       format[3] == '1');
  return Send(*this, time.c_str(), 500);
}

int CSerialPort::ReadSerialNumber(char* buffer, std::string& status) {
  buffer[0] = '\0';
  if (!ConnectLoader(status) || !LoaderCommand("P", 1, 100)) return 0;
  uint16_t sum = 0;
  uint32_t n = 0;
  while (n < 8) {
    const uint8_t byte = ReadEepromByte(static_cast<uint16_t>(mainboard::SERIAL_NUMBER_ADDRESS + n));
    buffer[n++] = static_cast<char>(byte);
    sum = static_cast<uint16_t>(sum + byte);
    if (byte == 0) break;
  }
  buffer[n] = '\0';
  const uint8_t high = ReadEepromByte(static_cast<uint16_t>(mainboard::SERIAL_NUMBER_ADDRESS + n + 1));
  const uint8_t low = ReadEepromByte(static_cast<uint16_t>(mainboard::SERIAL_NUMBER_ADDRESS + n));
  return sum == static_cast<uint16_t>(low | (high << 8)) ? 1 : 0;
}

int CSerialPort::WriteSerialNumber(const std::string& serialNumber, std::string& status) {
  if (!ConnectLoader(status) || !LoaderCommand("P", 1, 100)) return 0;
  uint16_t sum = 0;
  uint32_t n = 0;
  while (n < 8) {
    const uint8_t ch = n < serialNumber.size() ? static_cast<uint8_t>(serialNumber[n]) : 0;
    if (!WriteEepromByte(ch, static_cast<uint16_t>(mainboard::SERIAL_NUMBER_ADDRESS + n))) return 0;
    ++n;
    if (ch == 0) break;
    sum = static_cast<uint16_t>(sum + ch);
  }
  if (!WriteEepromByte(static_cast<uint8_t>(sum & 0xFF), static_cast<uint16_t>(mainboard::SERIAL_NUMBER_ADDRESS + n)))
    return 0;
  return WriteEepromByte(static_cast<uint8_t>(sum >> 8), static_cast<uint16_t>(mainboard::SERIAL_NUMBER_ADDRESS + n + 1));
}

int CSerialPort::ConfirmSerialNumber(std::string& status) {
  // A stored number is never replaced because of one bad read: it is read
  // again before the user is asked.
  for (int read = 0; read < SERIAL_NUMBER_READS; ++read) {
    char stored[10] = {};
    if (ReadSerialNumber(stored, status)) {
      if (mainboard::IsPlaceholderSerialNumber(stored)) break;
      status = std::string("Serial number ") + stored;
      return 1;
    }
    if (m_connectState != CONNECT_LOADER) break;  // no loader: nothing to read again
  }
  int32_t value = 0;
  ISerialNumberPrompt* prompt = GetSerialNumberPrompt();
  if (prompt && prompt->AskSerialNumber(0, value) && value >= 1 && value <= 99999999) {
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
    if (WriteSerialNumber(text, status)) {
      status = std::string("Serial number ") + text;
      return 1;
    }
  }
  status = "**Failed to set serial number";
  return 0;
}
