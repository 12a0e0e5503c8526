// CSerialPort's transport against a real pseudo-terminal mapped as a COM port.
#include "serial/SerialPort.h"
#include "tests/support/PortOnPty.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string COMM_ERROR = "Communication Error : Solstrand K4v not programmed";

struct TransportFixture : ::testing::Test, k4vtest::PortOnPty {
  TransportFixture() : PortOnPty(2) {}
};

// A unit that never stops sending.
struct Flood {
  std::atomic<bool> stop{false};
  std::thread thread;
  explicit Flood(const k4vtest::PtyPeer& peer) {
    thread = std::thread([this, &peer] {
      const std::string chunk(256, 'U');
      while (!stop) peer.Write(chunk);
    });
  }
  ~Flood() {
    stop = true;
    thread.join();
  }
};

}  // namespace

TEST(SerialPortState, FreshObjectAndReset) {
  CSerialPort port;
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(port.m_model, 13);
  EXPECT_EQ(port.m_connectState, CONNECT_NONE);
  EXPECT_EQ(port.m_originalBaudIndex, -1);
  EXPECT_EQ(port.m_fastBaudIndex, 7);
  EXPECT_EQ(port.m_portNumber, 1);
  EXPECT_EQ(port.m_dspModuleKind, 4);
  EXPECT_EQ(port.m_hwFlags, 0x0004);
  EXPECT_EQ(port.m_logEnabled, 0);
  EXPECT_FALSE(port.IsOpen());

  port.m_hwFlags = 0x0213;
  port.m_baudIndex = 7;
  port.m_model = 11;
  port.m_loaderVersion = 305;
  port.ResetUnitState();
  EXPECT_EQ(port.m_hwFlags, 0x0215) << "bit 0x0002 cleared, bit 0x0004 set, the rest kept";
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(port.m_model, MODEL_UNKNOWN);
  EXPECT_EQ(port.m_loaderVersion, 0);
}

TEST_F(TransportFixture, OpenPortOnAMissingNameFails) {
  port.m_portName = k4vtest::PortDirectory::ComName(5);
  EXPECT_EQ(port.OpenPort(status), 0);
  EXPECT_EQ(status, COMM_ERROR);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(TransportFixture, OpenPortProgramsTheLineAndReopensAnOpenPort) {
  ASSERT_EQ(port.OpenPort(status), 1);
  EXPECT_EQ(peer.BaudRate(), 19200u);
  EXPECT_TRUE(peer.Is8N2());
  const auto first = port.m_hPort;
  ASSERT_EQ(port.OpenPort(status), 1) << "called on an open port it closes and reopens";
  EXPECT_TRUE(port.IsOpen());
  (void)first;
  for (int index = 0; index < 8; ++index) {
    port.m_baudIndex = index;
    ASSERT_EQ(port.ApplyBaudRate(), 1);
    EXPECT_EQ(peer.BaudRate(), BAUD_TABLE[index]);
    EXPECT_TRUE(peer.Is8N2());
  }
}

TEST_F(TransportFixture, SecondOpenOfTheSamePortIsRefused) {
  ASSERT_EQ(port.OpenPort(status), 1);
  CSerialPort other;
  other.m_portName = port.m_portName;
  EXPECT_EQ(other.OpenPort(status), 0);
  EXPECT_EQ(status, COMM_ERROR);
  port.ClosePort();
  EXPECT_EQ(other.OpenPort(status), 1);
}

TEST_F(TransportFixture, BothTimeoutSetsOnASilentLine) {
  uint8_t b;
  uint32_t got = 0;
  port.m_nonBlockingReads = 1;
  ASSERT_EQ(port.OpenPort(status), 1);
  int64_t t0 = port.CurrentTimeMs();
  ASSERT_TRUE(port.ReadPort(&b, 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(port.CurrentTimeMs() - t0, 50);

  port.m_nonBlockingReads = 0;
  ASSERT_EQ(port.ApplyTimeouts(), 1);
  t0 = port.CurrentTimeMs();
  ASSERT_TRUE(port.ReadPort(&b, 1, got));
  const int64_t took = port.CurrentTimeMs() - t0;
  EXPECT_EQ(got, 0u);
  EXPECT_GE(took, 5);
  EXPECT_LT(took, 100);
}

TEST_F(TransportFixture, FlushInputOnASilentLineReadsOnce) {
  ASSERT_EQ(port.OpenPort(status), 1);
  const auto reads = port.m_counters.reads;
  port.FlushInput(false);
  EXPECT_EQ(port.m_counters.reads - reads, 1u);
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(TransportFixture, FlushInputAgainstAUnitThatNeverStopsSending) {
  ASSERT_EQ(port.OpenPort(status), 1);
  Flood flood(peer);
  ASSERT_TRUE(peer.Read(0).empty());
  port.WaitForInput(2000);
  const auto reads = port.m_counters.reads;
  const auto opens = port.m_counters.opens;
  port.FlushInput(false);
  EXPECT_LE(port.m_counters.reads - reads, 1025u);
  EXPECT_EQ(port.m_counters.opens - opens, 8u) << "a reopen after every 128 bytes";
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(TransportFixture, FlushInputWithLoggingStillReturnsAgainstAFlood) {
  k4vtest::TempDir cwd;
  ASSERT_EQ(chdir(cwd.Path().c_str()), 0);
  port.m_logEnabled = 1;
  ASSERT_EQ(port.OpenPort(status), 1);
  Flood flood(peer);
  port.WaitForInput(2000);
  const auto reads = port.m_counters.reads;
  port.FlushInput(true);
  EXPECT_LE(port.m_counters.reads - reads, 1024u + 1025u);
  EXPECT_EQ(access("debug.log", F_OK), 0) << "the discarded bytes went to the log";
}

TEST_F(TransportFixture, PortVanishingWhileOpen) {
  ASSERT_EQ(port.OpenPort(status), 1);
  peer.Vanish();
  uint8_t b;
  uint32_t n = 0;
  EXPECT_FALSE(port.ReadPort(&b, 1, n));
  EXPECT_FALSE(port.WritePort("?\n", 2, n));
  port.FlushInput(true);  // neither crashes nor hangs
  const int64_t t0 = port.CurrentTimeMs();
  port.WaitForInput(100);
  EXPECT_GE(port.CurrentTimeMs() - t0, 95) << "a wait on a vanished port sits out its time";
  EXPECT_EQ(port.OpenPort(status), 0) << "the terminal is gone";
  EXPECT_EQ(status, COMM_ERROR);
}

TEST_F(TransportFixture, ClosedPortReadsAndWritesFail) {
  uint8_t b;
  uint32_t n = 7;
  EXPECT_FALSE(port.ReadPort(&b, 1, n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(port.WritePort("x", 1, n));
  port.ClosePort();  // closing a closed port does nothing
  EXPECT_FALSE(port.IsOpen());
}
