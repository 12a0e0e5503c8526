// Finding and identifying the unit, against the virtual unit on
// pseudo-terminals mapped through SOLSTRAND_PORTS.
#include "platform/Clock.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/UnitFixture.h"

#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace {

const std::string NOT_FOUND =
    "Warning : Unable to locate Veltro hardware on any serial port. Check cable connection and try again";

using ScanTest = k4vtest::UnitFixture;

}  // namespace

TEST_F(ScanTest, ApplicationFoundOnCom2At19200) {
  AddSilentPort(1);
  AddUnit(2, "k4v");
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(status, "Solstrand K4v found");
  EXPECT_EQ(port.m_portNumber, 2);
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(port.m_connectState, CONNECT_APPLICATION);
  EXPECT_EQ(port.m_originalBaudIndex, 0);
  EXPECT_EQ(port.m_model, 11);
  EXPECT_FALSE(port.IsOpen()) << "the scan leaves the port closed";
}

TEST_F(ScanTest, ApplicationThatAnswersOnlyAt57600) {
  AddUnit(1, "k4v-57600");
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_baudIndex, 6);
  EXPECT_EQ(port.m_originalBaudIndex, 6);
  EXPECT_EQ(port.m_connectState, CONNECT_APPLICATION);
  EXPECT_EQ(port.m_model, 11);
}

TEST_F(ScanTest, LoaderMetDuringTheScan) {
  struct Case {
    const char* profile;
    int32_t state;
    int32_t model;
  };
  // The older loader answers "??": it is sent "X" and the application that
  // starts answers the next try (an application does not name the board
  // revision: model 11 until the loader is asked). The identifying loader is
  // recognised as it is, with its board revision.
  for (const Case c : {Case{"k4v-loader", CONNECT_APPLICATION, 11}, Case{"k4v-loader-ident", CONNECT_LOADER, 11},
                       Case{"k4v-rev3-loader", CONNECT_APPLICATION, 11}}) {
    SCOPED_TRACE(c.profile);
    CSerialPort fresh;
    auto& unit = AddUnit(3, c.profile);
    EXPECT_EQ(fresh.FindQOR(status), 1);
    EXPECT_EQ(fresh.m_portNumber, 3);
    EXPECT_EQ(fresh.m_connectState, c.state);
    EXPECT_EQ(fresh.m_model, c.model);
    EXPECT_EQ(fresh.m_hwFlags & HW_240V, 0);
    EXPECT_EQ(status, "Solstrand K4v found");
    EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application) << "the scan nudged the loader";
    unit.Stop();
  }
}

TEST_F(ScanTest, UnitInDebugModeIsTakenOutOfIt) {
  auto& unit = AddUnit(1, "k4v-debug");
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_connectState, CONNECT_APPLICATION);
  EXPECT_EQ(port.m_model, 11);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application);
}

TEST_F(ScanTest, NoUnitOnAnyPort) {
  for (int com = 1; com <= 8; ++com) AddSilentPort(com);
  const int64_t t0 = platform::MonotonicMs();
  EXPECT_EQ(port.FindQOR(status), 0);
  const int64_t took = platform::MonotonicMs() - t0;
  EXPECT_EQ(status, NOT_FOUND);
  EXPECT_EQ(port.m_portNumber, 9);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_GE(port.m_baudIndex, 0);
  EXPECT_LE(port.m_baudIndex, 7) << "the rate index stays inside the baud table";
  // 8 ports x 8 rates x 3 tries of a 20 ms wake-up pause, the answer wait
  // (50 ms on the test clock) and the 64-byte read (69 ms on a silent line).
  RecordProperty("scan_ms_on_test_clock", static_cast<int>(took));
  std::printf("scan of 8 silent ports took %lld ms on the test clock\n", static_cast<long long>(took));
}

TEST_F(ScanTest, PortsThatCannotBeOpenedAreSkipped) {
  // COM1: a file that is not a terminal; COM2: a terminal whose other side was
  // never unlocked; COM3: held under flock by another program; COM4: missing.
  ports.PlainFile(1);
  const int locked = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(locked, 0);
  grantpt(locked);
  ports.Link(2, ptsname(locked));
  k4vtest::PtyPeer held;
  ports.Link(3, held.TerminalPath());
  const int holder = open(held.TerminalPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  AddUnit(5, "k4v");
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_portNumber, 5);
  EXPECT_EQ(status, "Solstrand K4v found");
  close(holder);
  close(locked);
}

TEST_F(ScanTest, AScanAfterAFindReusesThePortOfTheFind) {
  AddUnit(2, "k4v");
  ASSERT_EQ(port.FindQOR(status), 1);
  ASSERT_EQ(port.m_portNumber, 2);
  // The state is not CONNECT_NONE: the next scan opens the same port name
  // again, starting from COM2, and does not see the unit now on COM1.
  AddUnit(1, "k4v-57600");
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_portNumber, 2);
  EXPECT_EQ(port.m_baudIndex, 0);
  // After a reset it walks the port names from COM1 again.
  port.ResetUnitState();
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_portNumber, 1);
  EXPECT_EQ(port.m_baudIndex, 6);
}

TEST_F(ScanTest, ConnectionCheckClassifiesWhatAnswers) {
  struct Case {
    const char* profile;
    int32_t state;
    int32_t model;
  };
  for (const Case c : {Case{"k4v", CONNECT_APPLICATION, 11}, Case{"k4v-debug", CONNECT_DEBUG, MODEL_UNKNOWN},
                       Case{"k4v-loader", CONNECT_LOADER, 11}, Case{"k4v-rev3-loader", CONNECT_LOADER, 12},
                       Case{"k4v-programmer", CONNECT_PROGRAMMER, 11},
                       Case{"k4v-rev3-programmer", CONNECT_PROGRAMMER, 12},
                       Case{"k4v-video-loader", CONNECT_VIDEO_LOADER, MODEL_UNKNOWN}}) {
    SCOPED_TRACE(c.profile);
    auto& unit = AddUnit(4, c.profile);
    CSerialPort check;
    check.m_portName = k4vtest::PortDirectory::ComName(4);
    EXPECT_EQ(check.CheckConnectTo(0), 1);
    EXPECT_EQ(check.m_connectState, c.state);
    EXPECT_EQ(check.m_model, c.model) << "the debug mode leaves the model untouched";
    EXPECT_EQ(check.m_baudIndex, 0);
    EXPECT_TRUE(check.IsOpen());
    if (c.state == CONNECT_VIDEO_LOADER) {
      EXPECT_NE(check.m_hwFlags & HW_GF9452V, 0);
      EXPECT_FLOAT_EQ(check.m_videoLoaderVersion, 0.24f);
    }
    check.ClosePort();
    unit.Stop();
  }
}

TEST_F(ScanTest, ConnectionCheckLeavesTheLoaderWhereItIs) {
  auto& unit = AddUnit(1, "k4v-loader");
  Use(1);
  ASSERT_EQ(port.CheckConnectTo(0), 1);
  EXPECT_EQ(port.m_connectState, CONNECT_LOADER);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::BootLoader) << "no nudge from the connection check";
}

TEST_F(ScanTest, DebugAnswersMustBeThreeOfThree) {
  k4vtest::PtyPeer peer;
  ports.Link(1, peer.TerminalPath());
  Use(1);
  // Two "Invalid Command" answers and a silence: the rate fails; the other
  // seven rates see nothing at all.
  k4vtest::ScriptedPeer unit(peer, {{"\n", ""}, {"?\n", "Invalid Command\r\n"}, {"\n", ""},
                                    {"?\n", "Invalid Command\r\n"}, {"\n", ""}, {"?\n", ""}});
  EXPECT_EQ(port.CheckConnectTo(0), 0);
  EXPECT_EQ(port.m_connectState, CONNECT_NONE);
  EXPECT_EQ(port.m_baudIndex, 0);
}

TEST_F(ScanTest, ConnectionCheckCyclesEveryRateOnce) {
  k4vtest::PtyPeer peer;
  ports.Link(1, peer.TerminalPath());
  Use(1);
  // Record the rate of every identify command that reaches the line.
  std::vector<uint32_t> rates;
  std::atomic<bool> stop{false};
  std::thread recorder([&] {
    while (!stop) {
      const std::string got = peer.Read(20);
      if (got.find('?') != std::string::npos) rates.push_back(peer.BaudRate());
    }
  });
  EXPECT_EQ(port.CheckConnectTo(3), 0);
  stop = true;
  recorder.join();
  EXPECT_EQ(port.m_baudIndex, 3);
  std::vector<uint32_t> expected;
  for (int index : {3, 4, 5, 6, 7, 0, 1, 2})
    for (int tryNo = 0; tryNo < 3; ++tryNo) expected.push_back(BAUD_TABLE[index]);
  EXPECT_EQ(rates, expected);
}

TEST_F(ScanTest, TracedScanHasOneExitRecordPerReturn) {
  k4vtest::TempDir cwd;
  ASSERT_EQ(chdir(cwd.Path().c_str()), 0);
  port.m_logEnabled = 1;
  AddUnit(1, "k4v");
  ASSERT_EQ(port.FindQOR(status), 1);
  Use(1);
  ASSERT_EQ(port.CheckConnectTo(0), 1);
  std::ifstream log("debug.log");
  std::string line;
  int enterScan = 0, exitScan = 0, enterCheck = 0, exitCheck = 0;
  while (std::getline(log, line)) {
    enterScan += line == "FunctionEnter:  FindQOR";
    exitScan += line == "FunctionExit:  FindQOR";
    enterCheck += line.find("FunctionEnter:  CheckConnectTo") != std::string::npos;
    exitCheck += line.find("FunctionExit:  CheckConnectTo") != std::string::npos;
  }
  EXPECT_EQ(enterScan, 1);
  EXPECT_EQ(exitScan, 1);
  EXPECT_EQ(enterCheck, 1);
  EXPECT_EQ(exitCheck, 1);
}

TEST_F(ScanTest, ALoaderOfAnotherModelIsFoundButNotAccepted) {
  // A loader that names its model: the probe stores the model from the loader
  // table, nudges it (the flash is erased, so it stays) and returns 0 because
  // the probe's lists lack "SOLSTRAND K4"; the scan accepts the port because
  // the loader was met at index 0.
  sim::Profile k4 = sim::Profile::ByName("k4");
  k4.loaderQueryAnswer = sim::LoaderQueryAnswer::Identification;
  AddUnit(1, k4);
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_connectState, CONNECT_LOADER);
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(port.m_model, 10);
  EXPECT_EQ(status, "Solstrand K4 found");

  // The connection check knows the capital-letter names.
  Use(1);
  CSerialPort check;
  check.m_portName = port.m_portName;
  EXPECT_EQ(check.CheckConnectTo(0), 1);
  EXPECT_EQ(check.m_connectState, CONNECT_LOADER);
  EXPECT_EQ(check.m_model, 10);
}

TEST_F(ScanTest, ALoaderMetAtAnotherRateIsProbedAgainAt19200) {
  // A loader left at 115200 answers "??" at index 7: the probe nudges it with
  // "X" (the application starts, at 19200) and the scan probes once more at
  // index 0, where the application answers.
  auto& unit = AddUnit(1, "k4v-loader-115200");
  EXPECT_EQ(port.FindQOR(status), 1);
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(port.m_connectState, CONNECT_APPLICATION);
  EXPECT_EQ(port.m_model, 11);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application);
}
