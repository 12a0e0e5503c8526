// The serial trace log ("debug.log"): a process-wide file created at the first
// write that finds the log switched on, flushed after every record. It serves
// the engineers who diagnose a failed upgrade; logging never disturbs the
// installation, also when the file cannot be created.
#include "serial/SerialPort.h"

#include "platform/Clock.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const LOG_FILE_NAME = "debug.log";
const char* const PROGRAM_NAME = "Installer";
constexpr size_t LOG_PRINTF_BUFFER = 4096;

std::FILE* g_logFile = nullptr;
bool g_logOpenFailed = false;
std::string g_buildDate = __DATE__;
std::string g_buildTime = __TIME__;

// The classic 24-character date form with its line end, independent of the
// locale: "Wed Jun 30 21:49:08 1993\n".
std::string ClassicTime() {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  if (!platform::GetLocalTime(t)) return "???\n";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", days[(t.tm_wday % 7 + 7) % 7],
                months[(t.tm_mon % 12 + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
  return buf;
}

// Opens the file and writes the header, once per process.
std::FILE* LogFile() {
  if (g_logFile || g_logOpenFailed) return g_logFile;
  const std::string now = ClassicTime();
  g_logFile = std::fopen(LOG_FILE_NAME, "w");
  if (!g_logFile) {
    g_logOpenFailed = true;
    return nullptr;
  }
  std::fprintf(g_logFile, "%s compiled:  %s  %s\n", PROGRAM_NAME, g_buildDate.c_str(), g_buildTime.c_str());
  std::fprintf(g_logFile, "Time:  %s", now.c_str());
  return g_logFile;
}

const char* LevelName(int level) {
  switch (level) {
    case 0: return "Info";
    case 1: return "Warning";
    default: return "Error";
  }
}

// The method name without its class: the part after the first "::".
const char* WithoutClass(const char* name) {
  const char* sep = std::strstr(name, "::");
  return sep ? sep + 2 : name;
}

}  // namespace

void SetTraceLogBuildStamp(const std::string& date, const std::string& time) {
  g_buildDate = date;
  g_buildTime = time;
}

void CSerialPort::LogBytes(const void* bytes, uint32_t count, bool literalLf) {
  if (!m_logEnabled) return;
  std::FILE* f = LogFile();
  if (!f) return;
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = p[i];
    if (b >= 0x20 && b <= 0x7E)
      std::fputc(b, f);
    else if (b == 0x0A && literalLf)
      std::fputc('\n', f);
    else
      std::fprintf(f, "<%2.2x>", b);
  }
  std::fflush(f);
}

void CSerialPort::LogText(const char* text, bool literalLf) {
  if (!m_logEnabled) return;
  LogBytes(text, static_cast<uint32_t>(std::strlen(text)), literalLf);
}

void CSerialPort::LogString(const std::string& text, bool literalLf) {
  if (!m_logEnabled) return;
  LogBytes(text.data(), static_cast<uint32_t>(text.size()), literalLf);
}

void CSerialPort::LogPrintf(const char* format, ...) {
  if (!m_logEnabled) return;
  char buffer[LOG_PRINTF_BUFFER];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  LogText(buffer, false);
}

void CSerialPort::LogTime() {
  if (!m_logEnabled) return;
  LogText(("Time:  " + ClassicTime()).c_str(), true);
}

void CSerialPort::LogMessage(int level, const std::string& text, int line) {
  if (!m_logEnabled) return;
  char head[64];
  if (line != 0)
    std::snprintf(head, sizeof head, "%s at line %i:  ", LevelName(level), line);
  else
    std::snprintf(head, sizeof head, "%s:  ", LevelName(level));
  LogString(head + text + "\n", true);
}

void CSerialPort::LogFunctionEnter(const char* name) {
  if (!m_logEnabled) return;
  LogText("FunctionEnter:  ", false);
  LogText(WithoutClass(name), false);
  LogText("\n", true);
}

void CSerialPort::LogFunctionExit(const char* name) {
  if (!m_logEnabled) return;
  LogText("FunctionExit:  ", false);
  LogText(WithoutClass(name), false);
  LogText("\n", true);
}
