// The command exchange primitives against a scripted unit on a pseudo-terminal.
#include "serial/SerialPort.h"
#include "tests/support/PortOnPty.h"
#include "tests/support/ScriptedPeer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

using k4vtest::ScriptedPeer;
using k4vtest::ScriptStep;

namespace {

const std::string LF = "\n";

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct ExchangeFixture : ::testing::Test, k4vtest::PortOnPty {
  ExchangeFixture() : PortOnPty(1) {}
  void SetUp() override { ASSERT_EQ(port.OpenPort(status), 1); }
  // The command written n times with a wake-up LF before every repetition.
  static std::vector<ScriptStep> Repeated(const std::string& command, std::vector<std::string> replies) {
    std::vector<ScriptStep> steps;
    for (size_t i = 0; i < replies.size(); ++i) {
      if (i > 0) steps.push_back({LF, ""});
      steps.push_back({command, replies[i]});
    }
    return steps;
  }
  static size_t Count(const std::vector<k4vtest::ReceivedWrite>& writes, const std::string& bytes) {
    size_t n = 0;
    for (const auto& w : writes) n += w.bytes == bytes;
    return n;
  }
};

}  // namespace

TEST_F(ExchangeFixture, LfAcknowledgement) {
  struct Case {
    const char* name;
    std::vector<std::string> replies;  // one per attempt
    int result;
  };
  const Case cases[] = {
      {"a lone LF on the first attempt", {"\n"}, 1},
      {"a lone LF on the second attempt", {"", "\n"}, 1},
      {"silence: four attempts", {"", "", "", ""}, 0},
      {"OK + LF is not an acknowledgement", {"OK\n", "OK\n", "OK\n", "OK\n"}, 0},
  };
  for (const Case& c : cases) {
    ScriptedPeer unit(peer, Repeated("P1P0\n", c.replies));
    const int64_t t0 = port.CurrentTimeMs();
    EXPECT_EQ(port.WriteToQORAndWait("P1P0\n", 5, 150), c.result) << c.name;
    const int64_t took = port.CurrentTimeMs() - t0;
    EXPECT_TRUE(unit.WaitFinished(1000)) << c.name;
    EXPECT_EQ(unit.Unexpected(), "") << c.name;
    const auto writes = unit.Received();
    EXPECT_EQ(Count(writes, "P1P0\n"), c.replies.size()) << c.name;
    for (const auto& w : writes) EXPECT_TRUE(w.eightN2 && w.baudRate == 19200) << c.name;
    if (std::string(c.name).rfind("silence", 0) == 0) {
      EXPECT_GE(took, 4 * 150) << "about four times the time-out";
      EXPECT_LT(took, 4 * 150 + 2000);
    }
  }
}

TEST_F(ExchangeFixture, AnswerLines) {
  struct Case {
    const char* name;
    uint32_t capacity;
    bool skipLf;
    std::vector<std::string> replies;
    const char* answer;
    int result;
  };
  const Case cases[] = {
      {"leading LF dropped", 64, true, {"\n1234\r\n"}, "1234\r\n", 1},
      {"buffer full without LF", 5, false, {"abcdefghijklmnopqrst"}, "abcde", 1},
      {"silence", 64, false, {"", "", "", ""}, "", 0},
      {"a lone LF does not end the reading above capacity 2", 64, false, {"\n", "\n", "\n", "\n"}, "\n", 1},
      {"a lone LF ends it at capacity 2", 2, false, {"\n"}, "\n", 1},
      {"lone LFs skipped leave nothing", 64, true, {"\n", "\n", "\n", "\n"}, "", 0},
      {"a line on the third attempt", 9, false, {"", "", "8f2b\n"}, "8f2b\n", 1},
  };
  for (const Case& c : cases) {
    ScriptedPeer unit(peer, Repeated("dei\n", c.replies));
    char answer[65];
    std::memset(answer, 'Z', sizeof answer);
    EXPECT_EQ(port.WriteToQORAndWaitFor("dei\n", 4, 100, answer, c.capacity, c.skipLf, 3), c.result) << c.name;
    EXPECT_STREQ(answer, c.answer) << c.name;
    EXPECT_TRUE(unit.WaitFinished(1000)) << c.name;
    EXPECT_EQ(Count(unit.Received(), "dei\n"), c.replies.size()) << c.name;
    EXPECT_EQ(unit.Unexpected(), "") << c.name;
  }
}

TEST_F(ExchangeFixture, VideoCommandsGoThroughTheTunnel) {
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"dwxv;abc;", "\n"}}));
    char answer[3];
    EXPECT_EQ(port.WriteToVideoAndWaitFor("abc\n", 4, 100, answer, 2), 1);
    EXPECT_TRUE(unit.WaitFinished(1000));
    EXPECT_EQ(unit.Unexpected(), "") << "9 bytes: no LF after the closing semicolon";
  }
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"dwxv;v50000abcd;", "\n"}}));
    EXPECT_EQ(port.WriteToVideoAndWait("v50000abcd\n", 11, 100), 1);
    EXPECT_TRUE(unit.WaitFinished(1000));
    EXPECT_EQ(unit.Unexpected(), "");
  }
  {
    // Retries 3 and no skipping of leading LFs.
    ScriptedPeer unit(peer, Repeated("dwxv;P;", {"", "", "", "3\n"}));
    char answer[3];
    EXPECT_EQ(port.WriteToVideoAndWaitFor("P\n", 2, 60, answer, 2), 1);
    EXPECT_STREQ(answer, "3\n");
    EXPECT_TRUE(unit.WaitFinished(1000));
  }
}

TEST_F(ExchangeFixture, ReadLine) {
  struct Case {
    const char* name;
    std::string incoming;
    uint32_t maximum;
    const char* line;
    int result;
  };
  const Case cases[] = {
      {"a line", "n\nX\n", 40, "n\n", 1},
      {"maximum reached", "00000000\r\n", 3, "000", 1},
      {"no line end in time", "ab", 5, "ab", 0},
      {"silence", "", 9, "", 0},
  };
  for (const Case& c : cases) {
    port.FlushInput(false);
    if (!c.incoming.empty()) peer.Write(c.incoming);
    char line[41];
    EXPECT_EQ(port.ReadLine(150, line, c.maximum), c.result) << c.name;
    EXPECT_STREQ(line, c.line) << c.name;
  }
}

TEST_F(ExchangeFixture, WriteAndWaitForByte) {
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"C\x10", "..\r"}}));
    EXPECT_EQ(port.WriteAndWaitForByte("C\x10", 2, 0x0D, 1000), 1);
  }
  // A unit that keeps sending without the terminator does not keep us reading.
  std::atomic<bool> stop{false};
  std::thread chatter([&] {
    while (!stop) peer.Write(std::string(64, 'x'));
  });
  const int64_t t0 = port.CurrentTimeMs();
  EXPECT_EQ(port.WriteAndWaitForByte("C\x10", 2, 0x0D, 300), 0);
  const int64_t took = port.CurrentTimeMs() - t0;
  stop = true;
  chatter.join();
  EXPECT_GE(took, 300);
  EXPECT_LT(took, 2300);
}

TEST_F(ExchangeFixture, LoaderCommandIgnoresOtherBytesBeforeItsCr) {
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"P", "xyz\r"}}));
    EXPECT_EQ(port.LoaderCommand("P", 1, 100), 1);
    EXPECT_TRUE(unit.WaitFinished(1000));
  }
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"e", ""}, {"e", ""}, {"e", "?"}, {"e", ""}}));
    EXPECT_EQ(port.LoaderCommand("e", 1, 60), 0);
    EXPECT_TRUE(unit.WaitFinished(1000)) << "four sends, no flush or wake-up between";
    EXPECT_EQ(unit.Unexpected(), "");
  }
}

TEST_F(ExchangeFixture, LoaderExchangeWithShortAnswers) {
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"s", "\x02\x98"}, {"s", "\x02\x98"}, {"s", "\x02\x98"}, {"s", "\x02\x98"}}));
    uint8_t answer[4];
    std::memset(answer, 0xEE, sizeof answer);
    EXPECT_EQ(port.LoaderExchange("s", 1, 80, answer, 3, 3), 0);
    EXPECT_EQ(answer[0], 0x02);
    EXPECT_EQ(answer[1], 0x98);
    EXPECT_EQ(answer[2], 0x00) << "the last two bytes and a NUL";
    EXPECT_EQ(answer[3], 0xEE) << "nothing written past capacity + 1";
    EXPECT_TRUE(unit.WaitFinished(1000));
    EXPECT_EQ(unit.Unexpected(), "");
  }
  ScriptedPeer full(peer, ScriptedPeer::Steps({{"V", "35"}}));
  uint8_t version[3];
  EXPECT_EQ(port.LoaderExchange("V", 1, 50, version, 2, 3), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version)), "35");
}

TEST_F(ExchangeFixture, LoaderSendClosesThePortWhenNothingAcknowledges) {
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"X", ""}, {"X", ""}, {"X", "\r"}}));
    EXPECT_EQ(port.LoaderSend("X", 1), 1);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(unit.WaitFinished(1000));
  }
  {
    ScriptedPeer unit(peer, ScriptedPeer::Steps({{"X", ""}, {"X", ""}, {"X", ""}}));
    EXPECT_EQ(port.LoaderSend("X", 1), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(unit.WaitFinished(1000));
  }
}

TEST(DspPrefix, ByCoreAndMode) {
  CSerialPort port;
  struct Case {
    int core;
    int32_t state;
    const char* prefix;
  };
  for (const Case& c : {Case{0, CONNECT_APPLICATION, "s"}, Case{1, CONNECT_APPLICATION, "q"},
                        Case{2, CONNECT_APPLICATION, "n"}, Case{3, CONNECT_APPLICATION, "m"},
                        Case{2, CONNECT_DEBUG, "dn"}, Case{0, CONNECT_DEBUG, "ds"}, Case{7, CONNECT_APPLICATION, "s"},
                        Case{7, CONNECT_DEBUG, "ds"}}) {
    port.m_connectState = c.state;
    EXPECT_STREQ(port.DspCommandPrefix(c.core), c.prefix) << c.core << " " << c.state;
  }
}

TEST_F(ExchangeFixture, CapacitiesAbove256AreRefusedWithoutTouchingTheBuffer) {
  std::vector<char> buffer(300, 'Z');
  EXPECT_EQ(port.WriteToQORAndWaitFor("?\n", 2, 50, buffer.data(), 257, false, 0), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'Z');
  EXPECT_EQ(port.ReadLine(50, buffer.data(), 300), 0);
  EXPECT_EQ(buffer[1], 'Z');
  std::vector<uint8_t> bytes(300, 0x5A);
  EXPECT_EQ(port.LoaderExchange("s", 1, 50, bytes.data(), 257, 0), 0);
  EXPECT_EQ(bytes[1], 0x5A);
  EXPECT_EQ(peer.Read(100), "") << "a refused exchange writes nothing";

  // A full 256-byte answer fits, with its NUL at 256.
  peer.Write(std::string(300, 'a'));
  port.WaitForInput(2000);
  std::vector<char> exact(258, 'Z');
  EXPECT_EQ(port.ReadLine(200, exact.data(), 256), 1);
  EXPECT_EQ(exact[256], '\0');
  EXPECT_EQ(exact[257], 'Z');
}

TEST_F(ExchangeFixture, ClosedPortRunsIntoTheDeadlinesWithoutSpinning) {
  port.ClosePort();
  const double cpu0 = CpuSeconds();
  const int64_t t0 = port.CurrentTimeMs();
  EXPECT_EQ(port.WriteToQORAndWait("dx\n", 3, 100), 0);
  char answer[10];
  EXPECT_EQ(port.WriteToQORAndWaitFor("?\n", 2, 100, answer, 9, false, 1), 0);
  uint8_t bytes[3];
  EXPECT_EQ(port.LoaderExchange("V", 1, 50, bytes, 2, 1), 0);
  EXPECT_EQ(port.LoaderCommand("P", 1, 25), 0);
  EXPECT_EQ(port.LoaderSend("X", 1), 0);
  const int64_t took = port.CurrentTimeMs() - t0;
  EXPECT_GE(took, 4 * 100 + 2 * 100 + 2 * 50 + 4 * 25);
  EXPECT_LT(CpuSeconds() - cpu0, 0.15) << "waiting must block, not spin";
}

TEST_F(ExchangeFixture, WaitingOnASilentLineBurnsNoCpu) {
  port.m_nonBlockingReads = 1;
  ASSERT_EQ(port.ApplyTimeouts(), 1);
  const double cpu0 = CpuSeconds();
  EXPECT_EQ(port.WriteToQORAndWait("dx\n", 3, 250), 0);
  EXPECT_LT(CpuSeconds() - cpu0, 0.1);
}
