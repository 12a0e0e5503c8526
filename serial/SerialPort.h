// CSerialPort: the one object through which the installer talks to the unit.
//
// It owns the serial port, the line settings and time-outs, and the unit's
// identification state. Every operation on the unit is a method of this class;
// the methods of each subsystem are defined in that subsystem's folder
// (serial/ for the transport, exchange primitives and trace log).
#pragma once

#include "platform/SerialDevice.h"
#include "serial/ProgCtrl.h"

#include <cstdarg>
#include <cstdint>
#include <string>

// What answered at the last connection check.
inline constexpr int32_t CONNECT_LOADER = 0;       // main processor boot loader ("... ISP")
inline constexpr int32_t CONNECT_APPLICATION = 1;  // the unit's main application
inline constexpr int32_t CONNECT_PROGRAMMER = 2;   // the EEPROM/flash programmer firmware
inline constexpr int32_t CONNECT_DEBUG = 3;        // the application's debug mode
inline constexpr int32_t CONNECT_VIDEO_LOADER = 4; // the video board's boot loader
inline constexpr int32_t CONNECT_NONE = 5;         // nothing identified

// Baud rates by index; index 0 is 19200 (the table is not ascending).
inline constexpr uint32_t BAUD_TABLE[8] = {19200, 1200, 2400, 4800, 9600, 38400, 57600, 115200};

// Model codes (0 to 12) and the unknown model.
inline constexpr int32_t MODEL_SOLSTRAND_K4V = 11;
inline constexpr int32_t MODEL_SOLSTRAND_K4V_REV3 = 12;
inline constexpr int32_t MODEL_UNKNOWN = 13;

// Hardware variant flags of m_hwFlags.
inline constexpr uint16_t HW_240V = 0x0001;
inline constexpr uint16_t HW_OPTION_BIT1 = 0x0002;
inline constexpr uint16_t HW_OPTION_BIT2 = 0x0004;
inline constexpr uint16_t HW_GF9351 = 0x0010;
inline constexpr uint16_t HW_GF9351_REV2 = 0x0020;
inline constexpr uint16_t HW_GF9452V_ALT = 0x0040;
inline constexpr uint16_t HW_QOR90_VIDEO = 0x0100;
inline constexpr uint16_t HW_GF9452 = 0x0200;
inline constexpr uint16_t HW_GF9452V = 0x0400;
inline constexpr uint16_t HW_OKI_NEEDS_NEW_LOADER = 0x4000;
inline constexpr uint16_t HW_OKI_NEW_LOADER = 0x8000;

// The failure text of an unopenable port or unprogrammable line.
extern const char* const COMM_ERROR_TEXT;

class CSerialPort {
 public:
  CSerialPort();
  virtual ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // --- transport ----------------------------------------------------------
  void ResetUnitState();
  int OpenPort(std::string& errorText);
  void ClosePort();
  int ApplyBaudRate();
  int ApplyTimeouts();
  void FlushInput(bool logDiscarded);
  int64_t CurrentTimeMs();

  // Raw reads and writes under the port's time-outs (a closed port fails and
  // delivers nothing).
  bool ReadPort(void* buf, uint32_t n, uint32_t& got);
  bool WritePort(const void* buf, uint32_t n, uint32_t& written);
  // Waits on the device until input arrives or ms pass; on a closed or dead
  // port it sits out the time. Used by loops that run to a deadline.
  void WaitForInput(uint32_t ms);
  bool IsOpen() const { return m_hPort != platform::INVALID_SERIAL_HANDLE; }

  // --- command exchange primitives -------------------------------------------
  // Answer buffers hold capacity + 1 bytes: the answer and a NUL after it.
  // Capacities (and expected counts) above MAX_ANSWER_CAPACITY are refused.
  static constexpr uint32_t MAX_ANSWER_CAPACITY = 256;

  // LF wake-up, 20 ms, flush, then the command; nothing is read.
  int WriteCommand(const void* command, uint32_t count, uint32_t* written);
  // A command acknowledged with a lone LF; four attempts.
  int WriteToQORAndWait(const void* command, uint32_t count, uint32_t timeoutMs);
  // A command answered with a line of text; retries + 1 attempts.
  int WriteToQORAndWaitFor(const void* command, uint32_t count, uint32_t timeoutMs, char* answer,
                           uint32_t capacity, bool skipLeadingLf, int retries);
  // Video-board commands (ending in LF), relayed through the main processor.
  int WriteToVideoAndWait(const void* command, uint32_t count, uint32_t timeoutMs);
  int WriteToVideoAndWaitFor(const void* command, uint32_t count, uint32_t timeoutMs, char* answer,
                             uint32_t capacity);
  // Reads a line (or maximum bytes) without writing anything.
  int ReadLine(uint32_t timeoutMs, char* buffer, uint32_t maximum);
  // Writes the bytes and waits for the terminator byte.
  int WriteAndWaitForByte(const void* bytes, uint32_t count, uint8_t terminator, uint32_t timeoutMs);
  // Boot-loader commands answered with a known number of bytes.
  int LoaderExchange(const void* command, uint32_t count, uint32_t timeoutMs, uint8_t* answer, uint32_t expected,
                     int retries);
  // Boot-loader commands acknowledged with CR; four attempts.
  int LoaderCommand(const void* command, uint32_t count, uint32_t timeoutMs);
  // One-letter boot-loader commands that answer CR at once; three attempts,
  // the port is closed when none was acknowledged.
  int LoaderSend(const void* command, uint32_t count);
  // The prefix of a DSP core's commands ("s", "q", "n", "m"; "d" in front in
  // debug mode). The text lives in this object until the next call.
  const char* DspCommandPrefix(int core);

  // --- finding and identifying the unit (discovery/) -------------------------
  // Scans COM1 to COM8 and their rates; the status names the model found.
  int FindQOR(std::string& status);
  // One identification attempt at the current port and rate, nudging a boot
  // loader or the debug mode towards the application.
  int ProbePort(std::string& status);
  // The connection check: cycles the rates from the starting index and
  // reports what answered, without nudging.
  int CheckConnectTo(int32_t startBaudIndex);
  void SetModelIfUnknown(int32_t model);
  int GetModelFoundText(std::string& status);
  int ParseVideoLoaderIdent(const char* identification);

  // --- main processor boot loader (mainboard/) --------------------------------
  int ConnectLoader(std::string& status);
  int ConnectLoaderAtHighSpeed(std::string& status);
  int SetLoaderBaudRate(bool highSpeed, std::string& status);
  int ExitLoader(std::string& status, bool toDefaultBaud);
  int CheckProcessorSignature();
  uint8_t ReadEepromByte(uint16_t address);
  int WriteEepromByte(uint8_t value, uint16_t address);

  // --- unit control and debug mode (mainboard/) -------------------------------
  int EnterDebugMode(std::string& status);
  int ExitDebugMode(std::string& status);
  int SwitchZonesOff();
  int PowerUpUnit(bool needDebugMode);
  int ChangeUnitBaudRate();
  int SetUnitClock();
  // buffer: at least 9 bytes.
  int ReadSerialNumber(char* buffer, std::string& status);
  int WriteSerialNumber(const std::string& serialNumber, std::string& status);
  int ConfirmSerialNumber(std::string& status);

  // --- main processor flash (mainboard/) -------------------------------------
  int ProgramMainFlash(std::string& status, CProgCtrl& progress, bool programmerImage);
  int VerifyMainFlash(std::string& status, CProgCtrl& progress, bool programmerImage);
  int VerifyFlashCodeChecksum(std::string& status, bool programmerImage);
  int SetFuseByte(char readCommand, uint8_t value);
  int StoreOptionByte(std::string& status);
  // The 16-bit flash checksum a running program reports for the image's first
  // m_codeSize words, in a flash of flashWords words. Words past the image's
  // own wordCount count as erased.
  static uint16_t MainFlashChecksum(const uint16_t* words, uint32_t wordCount, uint32_t codeSize,
                                    uint32_t flashWords);

  // --- main board external flash (mainboard/) --------------------------------
  int ProgramXflash(std::string& status, CProgCtrl& progress);
  // Fills the image buffer (XFLASH_IMAGE_SIZE bytes) for this unit's model.
  void BuildXflashImage(uint32_t& usedPages, uint32_t directoryPage, uint8_t* image);
  // Status code of one page write ("S" when done, "R" when nothing answered).
  char SendXflashPage(uint32_t page, const uint8_t* data);
  bool ReadXflashPageCrc(uint32_t page, uint32_t& crc);
  bool ReadXflashCrc(uint32_t offset, uint32_t length, uint32_t& crc);
  char ProgramXflashPage(uint32_t page, const uint8_t* data, bool force);

  // --- trace log ------------------------------------------------------------
  void LogBytes(const void* bytes, uint32_t count, bool literalLf);
  void LogText(const char* text, bool literalLf);
  void LogString(const std::string& text, bool literalLf);
  void LogPrintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogTime();
  void LogMessage(int level, const std::string& text, int line);
  void LogFunctionEnter(const char* name);
  void LogFunctionExit(const char* name);

  // --- data (public, as the installer's Parts read and write them) ----------
  platform::SerialHandle m_hPort = platform::INVALID_SERIAL_HANDLE;
  std::string m_portName;
  uint32_t m_codeSize = 0;
  int32_t m_loaderVersion = 0;
  int32_t m_connectState = CONNECT_NONE;
  int32_t m_baudIndex = 0;
  int32_t m_originalBaudIndex = -1;
  int32_t m_fastBaudIndex = 7;
  int32_t m_portNumber = 1;
  int32_t m_model = MODEL_UNKNOWN;
  int32_t m_nonBlockingReads = 0;
  int32_t m_logEnabled = 0;
  int32_t m_dspModuleKind = 4;
  float m_videoLoaderVersion = 0.0f;
  float m_mainVersion = 0.0f;
  uint16_t m_hwFlags = 0;

  // Transport counters, for diagnostics and tests.
  struct Counters {
    uint64_t opens = 0;   // successful OpenPort calls
    uint64_t reads = 0;   // read calls issued
    uint64_t writes = 0;  // write calls issued
  } m_counters;

 private:
  // Reads up to n bytes, waiting on the device first for at most the time
  // left before the deadline (start + timeoutMs), so that no loop spins.
  // Returns false when nothing arrived within the time left.
  bool ReadBeforeDeadline(void* buf, uint32_t n, uint32_t& got, int64_t start, uint32_t timeoutMs);
  bool DeadlinePassed(int64_t start, uint32_t timeoutMs);
  // The start of an attempt of WriteToQORAndWait(For): the wake-up on a
  // repetition, the flush, the command, and their trace.
  void StartQorAttempt(int attempt, const void* command, uint32_t count);
  // The read loop of WriteToQORAndWaitFor's attempts.
  uint32_t CollectAnswer(int64_t start, uint32_t timeoutMs, char* answer, uint32_t capacity, uint32_t needed,
                         bool skipLeadingLf);

  // One "?" try of the port probe and the connection check (discovery/).
  enum class TryResult { Recognised, DebugAnswer, Unanswered };
  TryResult IdentifyTry(bool probe, std::string& status, std::string& answer, uint32_t& lastRead);
  // The acceptance and model steps on a recognised answer: 1 accepted,
  // 0 not accepted.
  int AcceptAndStoreModel(const std::string& answer, bool probe);

  // Depth of the reopen that a failed purge starts; bounds it to one.
  int m_purgeReopenDepth = 0;
  char m_dspPrefix[3] = {};
};

// Scope object of the trace log. A traced method logs its exit through Exit()
// on every normal return; when an exception leaves the method instead, the
// destructor logs it. Either way there is one exit record per call.
class CFunctionTrace {
 public:
  CFunctionTrace(CSerialPort& port, const char* name) : m_port(port), m_name(name) {}
  ~CFunctionTrace() { Exit(); }
  CFunctionTrace(const CFunctionTrace&) = delete;
  CFunctionTrace& operator=(const CFunctionTrace&) = delete;

  void Exit() {
    if (m_exited) return;
    m_exited = true;
    m_port.LogFunctionExit(m_name);
  }

 private:
  CSerialPort& m_port;
  const char* m_name;
  bool m_exited = false;
};

// Test hook: the build stamp written into the trace log's header.
void SetTraceLogBuildStamp(const std::string& date, const std::string& time);
