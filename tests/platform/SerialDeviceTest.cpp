// The POSIX serial device against a real pseudo-terminal pair.
#include "platform/Clock.h"
#include "platform/SerialDevice.h"
#include "tests/support/PtyPeer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace platform;

namespace {

const SerialTimeouts kNormal{1, 1, 5, 1, 5};
const SerialTimeouts kNonBlocking{SERIAL_MAXDWORD, 0, 0, 0, 0};

struct Device {
  SerialHandle h = INVALID_SERIAL_HANDLE;
  explicit Device(const std::string& path) : h(SerialOpen(path)) {}
  ~Device() { SerialClose(h); }
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST(SerialDevice, OneByteReadOnASilentLineFollowsTheTimeoutSet) {
  k4vtest::PtyPeer peer;
  Device dev(peer.TerminalPath());
  ASSERT_NE(dev.h, INVALID_SERIAL_HANDLE);
  uint8_t b = 0;
  uint32_t got = 99;

  ASSERT_TRUE(SerialSetTimeouts(dev.h, kNonBlocking));
  int64_t t0 = MonotonicMs();
  EXPECT_TRUE(SerialRead(dev.h, &b, 1, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(MonotonicMs() - t0, 50) << "the non-blocking set returns at once";

  ASSERT_TRUE(SerialSetTimeouts(dev.h, kNormal));
  t0 = MonotonicMs();
  EXPECT_TRUE(SerialRead(dev.h, &b, 1, &got));
  const int64_t took = MonotonicMs() - t0;
  EXPECT_EQ(got, 0u);
  EXPECT_GE(took, 5) << "the normal set gives one byte 1 x 1 + 5 ms";
  EXPECT_LT(took, 100);
}

TEST(SerialDevice, NormalReadReturnsAsSoonAsTheBytesAreThere) {
  k4vtest::PtyPeer peer;
  Device dev(peer.TerminalPath());
  ASSERT_TRUE(SerialSetTimeouts(dev.h, kNormal));
  peer.Write(std::string("abc"));
  uint8_t buf[3] = {};
  uint32_t got = 0;
  // A generous wait for the bytes to cross the terminal, then the read.
  ASSERT_TRUE(SerialWaitForInput(dev.h, 2000));
  ASSERT_TRUE(SerialRead(dev.h, buf, 3, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
}

TEST(SerialDevice, LineSettingsReachTheLine) {
  k4vtest::PtyPeer peer;
  Device dev(peer.TerminalPath());
  SerialLineSettings line;
  ASSERT_TRUE(SerialGetState(dev.h, line));
  for (uint32_t rate : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
    line.baudRate = rate;
    line.byteSize = 8;
    line.parity = Parity::None;
    line.stopBits = StopBits::Two;
    ASSERT_TRUE(SerialSetState(dev.h, line)) << rate;
    EXPECT_EQ(peer.BaudRate(), rate);
    EXPECT_TRUE(peer.Is8N2());
    SerialLineSettings back;
    ASSERT_TRUE(SerialGetState(dev.h, back));
    EXPECT_EQ(back.baudRate, rate);
    EXPECT_EQ(back.stopBits, StopBits::Two);
  }
  line.baudRate = 12345;
  EXPECT_FALSE(SerialSetState(dev.h, line)) << "a rate the line cannot run is refused";
}

TEST(SerialDevice, PortIsExclusiveAlsoForTheSuperUser) {
  k4vtest::PtyPeer peer;
  {
    Device first(peer.TerminalPath());
    ASSERT_NE(first.h, INVALID_SERIAL_HANDLE);
    Device second(peer.TerminalPath());
    EXPECT_EQ(second.h, INVALID_SERIAL_HANDLE) << "a second open of an open port is refused";
  }
  Device again(peer.TerminalPath());
  EXPECT_NE(again.h, INVALID_SERIAL_HANDLE) << "after the close the port opens again";
}

TEST(SerialDevice, PortsThatCannotBeOpened) {
  k4vtest::TempDir dir;
  // Missing.
  EXPECT_EQ(SerialOpen(dir.Path() + "/nothing"), INVALID_SERIAL_HANDLE);
  // A file that is not a terminal.
  const std::string plain = dir.Path() + "/plain";
  close(open(plain.c_str(), O_CREAT | O_WRONLY, 0600));
  EXPECT_EQ(SerialOpen(plain), INVALID_SERIAL_HANDLE);
  // A pseudo-terminal whose other side was never unlocked.
  const int locked = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(locked, 0);
  grantpt(locked);
  EXPECT_EQ(SerialOpen(ptsname(locked)), INVALID_SERIAL_HANDLE);
  close(locked);
  // A port held under flock by another program.
  k4vtest::PtyPeer peer;
  const int holder = open(peer.TerminalPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
  EXPECT_EQ(SerialOpen(peer.TerminalPath()), INVALID_SERIAL_HANDLE);
  int exclusive = 0;
  ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0) << "the refused open leaves the holder's exclusive mode alone";
  close(holder);
}

TEST(SerialDevice, WriteToAPeerThatStopsReadingIsBounded) {
  k4vtest::PtyPeer peer;
  Device dev(peer.TerminalPath());
  SerialLineSettings line;
  ASSERT_TRUE(SerialGetState(dev.h, line));
  line.baudRate = 115200;
  ASSERT_TRUE(SerialSetState(dev.h, line));
  ASSERT_TRUE(SerialSetTimeouts(dev.h, kNonBlocking));
  // Fill the terminal until it takes nothing more.
  std::vector<uint8_t> chunk(4096, 0x55);
  uint32_t written = 0;
  const int64_t t0 = MonotonicMs();
  for (int i = 0; i < 256; ++i) {
    ASSERT_TRUE(SerialWrite(dev.h, chunk.data(), static_cast<uint32_t>(chunk.size()), &written));
    if (written < chunk.size()) break;
  }
  EXPECT_LT(written, chunk.size()) << "the peer's buffer never filled";
  EXPECT_LT(MonotonicMs() - t0, 30000);

  // The normal set gives a write n x 1 + 5 ms.
  ASSERT_TRUE(SerialSetTimeouts(dev.h, kNormal));
  const int64_t t1 = MonotonicMs();
  ASSERT_TRUE(SerialWrite(dev.h, chunk.data(), 10, &written));
  EXPECT_LT(MonotonicMs() - t1, 500);
}

TEST(SerialDevice, VanishedPeerFailsAtOnceAndNothingSpins) {
  k4vtest::PtyPeer peer;
  Device dev(peer.TerminalPath());
  ASSERT_TRUE(SerialSetTimeouts(dev.h, kNormal));
  peer.Vanish();
  uint8_t b = 0;
  uint32_t n = 0;
  EXPECT_FALSE(SerialRead(dev.h, &b, 1, &n));
  EXPECT_TRUE(SerialIsDead(dev.h));
  EXPECT_FALSE(SerialWrite(dev.h, "x", 1, &n));
  EXPECT_FALSE(SerialRead(dev.h, &b, 1, &n)) << "every later read fails at once";

  // A loop waiting to a deadline on the dead port sleeps instead of spinning.
  const double cpu0 = CpuSeconds();
  const int64_t t0 = MonotonicMs();
  EXPECT_FALSE(SerialWaitForInput(dev.h, 300));
  EXPECT_GE(MonotonicMs() - t0, 290);
  EXPECT_LT(CpuSeconds() - cpu0, 0.1);
}
