// The main processor's boot loader: getting into it from whatever program
// runs, reading its version, moving it and the port between 19200 and 115200
// baud, leaving it, and its small operations: the processor signature and
// single EEPROM bytes.
#include "mainboard/MainBoard.h"
#include "platform/Clock.h"
#include "serial/SerialPort.h"

#include <cstring>

namespace {

constexpr int LOADER_ATTEMPTS = 3;
constexpr uint32_t JUMP_WAIT_MS = 3000;
constexpr uint32_t EXIT_WAIT_MS = 2500;
constexpr uint32_t DEBUG_EXIT_WAIT_MS = 1500;
constexpr uint32_t IDENT_WAIT_MS = 45;
constexpr uint32_t IDENT_MAX = 45;

// The identifications a loader may give to "S" after a rate change.
const char* const LOADER_IDENTIFICATIONS[] = {
    "QOR ISP",      "QOR 70 ISP",         "QOR 80 ISP",       "QOR 90 ISP",       "QOR 90arc ISP",
    "QOR 60arc ISP", "QOR 60 ISP",        "QOR 60v2 ISP",     "QOR 60v3 ISP",     "SOLSTRAND K4v3 ISP",
    "SOLSTRAND K3 ISP", "SOLSTRAND K4 ISP", "SOLSTRAND K4v2 ISP",
};

bool NamesALoader(const char* answer) {
  for (const char* ident : LOADER_IDENTIFICATIONS)
    if (std::strstr(answer, ident)) return true;
  return false;
}

// The "h" divisor byte for a rate, by loader version; false: no command.
bool BaudDivisor(int32_t version, bool highSpeed, uint8_t& divisor) {
  if (version >= 300) {
    divisor = highSpeed ? 0x04 : 0x1D;
    return true;
  }
  if (version >= 200) {
    divisor = highSpeed ? 0x01 : 0x0B;
    return true;
  }
  return false;
}

// True when the byte string (up to its first NUL) contains the sequence.
bool ContainsBytes(const uint8_t* text, const uint8_t* sequence, size_t length) {
  const size_t n = strnlen(reinterpret_cast<const char*>(text), 3);
  for (size_t i = 0; i + length <= n; ++i)
    if (std::memcmp(text + i, sequence, length) == 0) return true;
  return false;
}

}  // namespace

int32_t mainboard::LoaderVersionFromDigits(uint8_t d0, uint8_t d1) {
  if (d0 < '1' || d0 > '9') return 0;
  return (d0 - '0') * 100 + (static_cast<int32_t>(d1) - '0');
}

int CSerialPort::ConnectLoader(std::string& status) {
  static const char* const name = "CSerialPort::ConnectLoader";
  LogFunctionEnter(name);
  CFunctionTrace trace(*this, name);

  for (int attempt = 0; attempt < LOADER_ATTEMPTS; ++attempt) {
    if (!CheckConnectTo(m_baudIndex)) {
      LogPrintf("%s@%s[%d] Error: %s", "SerialPort", name, 2371, "CheckConnectTo returned false");
      continue;
    }
    switch (m_connectState) {
      case CONNECT_APPLICATION:
      case CONNECT_PROGRAMMER:
        // Ask the running program to jump into the loader; the next
        // attempt's connection check confirms it.
        WriteToQORAndWait("Z31862.4\n", 9, 1000);
        WriteCommand("Z\n", 2, nullptr);
        platform::SleepMs(JUMP_WAIT_MS);
        FlushInput(false);
        m_baudIndex = 0;
        break;
      case CONNECT_DEBUG:
        WriteToQORAndWait("gwyr28\n", 7, 50);
        m_baudIndex = 0;
        break;
      case CONNECT_LOADER: {
        if (m_loaderVersion == 0) {
          uint8_t digits[3] = {};
          // A version read only in part stays unknown and is asked again.
          if (LoaderExchange("V", 1, 50, digits, 2, 3))
            m_loaderVersion = mainboard::LoaderVersionFromDigits(digits[0], digits[1]);
        }
        const bool optionBit1 = (m_model == 9 && m_loaderVersion <= 304) || (m_model == 2 && m_loaderVersion <= 300) ||
                                m_model == 1;
        m_hwFlags = static_cast<uint16_t>(optionBit1 ? (m_hwFlags | HW_OPTION_BIT1) : (m_hwFlags & ~HW_OPTION_BIT1));
        if (m_model == 9 && m_loaderVersion == 305) m_hwFlags |= HW_QOR90_VIDEO;
        FlushInput(false);
        if (m_baudIndex != 0 && !SetLoaderBaudRate(false, status)) break;
        trace.Exit();
        return 1;
      }
      default:
        break;
    }
  }
  m_connectState = CONNECT_NONE;
  status = mainboard::LOADER_NOT_RESPONDING_TEXT;
  ClosePort();
  trace.Exit();
  return 0;
}

int CSerialPort::ConnectLoaderAtHighSpeed(std::string& status) {
  if (!ConnectLoader(status)) return 0;
  return SetLoaderBaudRate(true, status);
}

int CSerialPort::SetLoaderBaudRate(bool highSpeed, std::string& status) {
  for (int attempt = 0; attempt < LOADER_ATTEMPTS; ++attempt) {
    uint8_t divisor = 0;
    if (BaudDivisor(m_loaderVersion, highSpeed, divisor)) {
      const uint8_t command[2] = {'h', divisor};
      LoaderSend(command, 2);
    }
    if (!IsOpen()) OpenPort(status);
    m_baudIndex = highSpeed ? 7 : 0;
    if (!ApplyBaudRate()) {
      status = COMM_ERROR_TEXT;
      ClosePort();
      return 0;
    }
    m_nonBlockingReads = 0;
    if (!ApplyTimeouts() && !OpenPort(status)) return 0;

    FlushInput(false);
    uint32_t n = 0;
    WritePort("S", 1, n);
    platform::SleepMs(IDENT_WAIT_MS);
    char answer[IDENT_MAX + 1] = {};
    uint32_t got = 0;
    ReadPort(answer, IDENT_MAX, got);
    answer[got] = '\0';
    if (got == 0) {
      if (!ApplyBaudRate()) {
        status = "Failed to switch to 115200 kbs";
        ClosePort();
        return 0;
      }
      continue;
    }
    if (NamesALoader(answer)) {
      status = "Loader Baud Rate Changed";
      m_connectState = CONNECT_LOADER;
      return 1;
    }
  }
  status = highSpeed ? mainboard::LOADER_NOT_RESPONDING_FAST_TEXT : mainboard::LOADER_NOT_RESPONDING_TEXT;
  ClosePort();
  return 0;
}

int CSerialPort::ExitLoader(std::string& status, bool toDefaultBaud) {
  for (int attempt = 0; attempt < LOADER_ATTEMPTS; ++attempt) {
    if (!CheckConnectTo(m_baudIndex)) continue;
    switch (m_connectState) {
      case CONNECT_APPLICATION:
      case CONNECT_PROGRAMMER:
        return 1;
      case CONNECT_LOADER:
        LoaderCommand("y", 1, 45);
        LoaderSend("X", 1);
        platform::SleepMs(EXIT_WAIT_MS);
        FlushInput(false);
        m_baudIndex = toDefaultBaud || m_originalBaudIndex == -1 ? 0 : m_originalBaudIndex;
        break;
      case CONNECT_DEBUG:
        WriteToQORAndWait("dx\n", 3, 500);
        platform::SleepMs(DEBUG_EXIT_WAIT_MS);
        if (m_originalBaudIndex != -1) m_baudIndex = m_originalBaudIndex;
        break;
      default:
        break;
    }
  }
  m_connectState = CONNECT_NONE;
  status = "Loader failed to exit";
  return 0;
}

int CSerialPort::CheckProcessorSignature() {
  uint8_t answer[4] = {};
  if (!LoaderExchange("s", 1, 80, answer, 3, 3)) return 0;
  // The three signature bytes, last byte first, taken as a zero-terminated
  // byte string that must contain an accepted sequence.
  static const uint8_t atmega2561[] = {0x02, 0x98, 0x1E};
  static const uint8_t older[][3] = {{0x01, 0x01, 0x1E}, {0x01, 0x97, 0x1E}, {0xFF, 0xFF, 0xFF}};
  static const uint8_t olderShort[] = {0x02, 0x01};
  if (m_loaderVersion >= 300) return ContainsBytes(answer, atmega2561, 3) ? 1 : 0;
  for (const auto& sequence : older)
    if (ContainsBytes(answer, sequence, 3)) return 1;
  return ContainsBytes(answer, olderShort, 2) ? 1 : 0;
}

uint8_t CSerialPort::ReadEepromByte(uint16_t address) {
  const uint8_t setAddress[3] = {'a', static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)};
  LoaderCommand(setAddress, 3, 45);
  uint8_t answer[2] = {};
  LoaderExchange("D", 1, 45, answer, 1, 3);
  return answer[0];
}

int CSerialPort::WriteEepromByte(uint8_t value, uint16_t address) {
  const uint8_t setAddress[3] = {'a', static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)};
  const uint8_t write[2] = {'d', value};
  for (int attempt = 0; attempt < 6; ++attempt) {
    LoaderCommand(setAddress, 3, 45);
    uint8_t answer[2] = {};
    // Only a byte actually read back counts: a silent loader must not pass
    // for one that holds the value (a zero value would look written).
    if (LoaderExchange("D", 1, 45, answer, 1, 3) && answer[0] == value) return 1;
    LoaderCommand(setAddress, 3, 45);
    LoaderCommand(write, 2, 45);
  }
  return 0;
}
