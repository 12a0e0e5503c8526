// The trace log's records, byte for byte. The log file is process-wide and
// never closed, so each test works in a fresh directory of its own (and, as
// every test case, in a process of its own).
#include "platform/Clock.h"
#include "serial/SerialPort.h"
#include "tests/support/PortOnPty.h"
#include "tests/support/ScriptedPeer.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TraceLogFixture : ::testing::Test {
  k4vtest::TempDir dir;
  void SetUp() override {
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    std::tm pinned{};
    pinned.tm_year = 2026 - 1900;
    pinned.tm_mon = 6;  // July
    pinned.tm_mday = 5;
    pinned.tm_wday = 0;  // a Sunday
    pinned.tm_hour = 9;
    pinned.tm_min = 4;
    pinned.tm_sec = 3;
    platform::SetTestLocalTime(&pinned);
    SetTraceLogBuildStamp("Jul  5 2013", "11:34:38");
  }
  void TearDown() override { platform::SetTestLocalTime(nullptr); }
};

// A port with its trace log switched on, open on a pseudo-terminal as COM1.
struct LoggingPort : k4vtest::PortOnPty {
  LoggingPort() : PortOnPty(1) {
    port.m_logEnabled = 1;
    port.OpenPort(status);
  }
};

}  // namespace

TEST_F(TraceLogFixture, NothingIsCreatedWhenTheLogIsOff) {
  CSerialPort port;
  ASSERT_EQ(port.m_logEnabled, 0);
  const uint8_t bytes[] = {'?', 0x0A, 0x00};
  port.LogBytes(bytes, 3, false);
  port.LogText("text", true);
  port.LogString("text", false);
  port.LogPrintf("%d", 1);
  port.LogTime();
  port.LogMessage(1, "WriteToQORAndWait had retries.", 0);
  port.LogFunctionEnter("CSerialPort::FindQOR");
  port.LogFunctionExit("CSerialPort::FindQOR");
  { CFunctionTrace trace(port, "CSerialPort::CheckConnectTo"); }
  std::string status;
  port.FlushInput(true);
  EXPECT_NE(access("debug.log", F_OK), 0);
}

TEST_F(TraceLogFixture, RecordShapesMatchTheGoldenLog) {
  {
    std::ofstream old("debug.log");
    old << "an old log that the first write truncates\n";
  }
  CSerialPort port;
  port.m_logEnabled = 1;
  const uint8_t bytes[] = {0x3F, 0x0A, 0x00};
  port.LogBytes(bytes, 3, false);
  port.LogText("\n", true);
  port.LogBytes(bytes, 3, true);
  port.LogMessage(1, "WriteToQORAndWait had retries.", 0);
  port.LogMessage(2, "something failed", 6151);
  port.LogMessage(5, "level five", 0);
  port.LogMessage(0, "information", 0);
  port.LogFunctionEnter("CSerialPort::FindQOR");
  port.LogFunctionExit("NoClassName");
  port.LogTime();
  port.LogPrintf("%s@%s[%d] Error: %s", "SerialPort", "CSerialPort::ConnectLoader", 2371,
                 "CheckConnectTo returned false");
  port.LogText("\n", true);
  {
    CFunctionTrace trace(port, "CSerialPort::CheckConnectTo");
    trace.Exit();  // a normal return: one exit record, not two
  }
  try {
    CFunctionTrace trace(port, "CSerialPort::ConnectLoader");
    throw 1;
  } catch (int) {
  }
  const uint8_t controls[] = {0x0D, 0x1B, 0x7F, 0x80, 0xFF, ' ', '~'};
  port.LogBytes(controls, sizeof controls, true);
  port.LogText("\n", true);

  const std::string golden = ReadFile(K4V_GOLDEN_DIR "/trace_records.log");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(ReadFile("debug.log"), golden);
}

TEST_F(TraceLogFixture, PrintfRecordsAreCutAt4095Characters) {
  CSerialPort port;
  port.m_logEnabled = 1;
  const std::string longText(5000, 'x');
  port.LogPrintf("%s", longText.c_str());
  const std::string log = ReadFile("debug.log");
  const size_t header = log.find('x');
  ASSERT_NE(header, std::string::npos);
  EXPECT_EQ(log.size() - header, 4095u);
}

TEST_F(TraceLogFixture, DiscardedInputRecord) {
  LoggingPort logging;
  CSerialPort& port = logging.port;
  ASSERT_TRUE(port.IsOpen());
  logging.peer.Write(std::string("OK\n\x01", 4));
  port.WaitForInput(2000);
  platform::WaitMs(50);  // the rest of the bytes cross the terminal
  port.FlushInput(true);
  const std::string log = ReadFile("debug.log");
  EXPECT_NE(log.find("  (\"OK<0a><01>\")"), std::string::npos) << log;
}

TEST_F(TraceLogFixture, ALogThatCannotBeCreatedDisturbsNothing) {
  ASSERT_EQ(chdir("/proc"), 0);  // no file can be created here
  CSerialPort port;
  port.m_logEnabled = 1;
  port.LogText("lost\n", true);
  port.LogMessage(1, "lost too", 0);
  SUCCEED();
}

TEST_F(TraceLogFixture, ExchangeThatNeededRetries) {
  LoggingPort logging;
  CSerialPort& port = logging.port;
  k4vtest::PtyPeer& peer = logging.peer;
  ASSERT_TRUE(port.IsOpen());
  {
    // The first answer is not an acknowledgement; the unit answers the
    // wake-up with stray bytes, which the next flush discards and logs.
    k4vtest::ScriptedPeer unit(peer, {{"P1P0\n", "OK\n"}, {"\n", "stray"}, {"P1P0\n", "\n"}});
    ASSERT_EQ(port.WriteToQORAndWait("P1P0\n", 5, 200), 1);
  }
  {
    k4vtest::ScriptedPeer unit(peer, {{"P1P?\n", "\nP1P0\r\n"}});
    char answer[8];
    ASSERT_EQ(port.WriteToQORAndWaitFor("P1P?\n", 5, 200, answer, 7, true, 3), 1);
  }
  const std::string log = ReadFile("debug.log");
  const std::string records = log.substr(log.find("WriteToQORAndWait:"));
  EXPECT_EQ(records,
            "WriteToQORAndWait:  \"P1P0<0a>\"  \"OK<0a>\"  \"<0a>\"  (\"stray\")  \"P1P0<0a>\"  \"<0a>\"\n"
            "Warning:  WriteToQORAndWait had retries.\n"
            "WriteToQORAndWaitFor:  \"P1P?<0a>\"  \"<0a>P1P0<0d><0a>\"\n");
}
