// Serial transport: how fast a waiting read returns after a byte arrives, and
// how much CPU a long wait on a silent line burns.
#include "bench/BenchUtil.h"
#include "serial/SerialPort.h"
#include "tests/support/PtyPeer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A primitive's wait: one-byte reads of the port until a byte comes.
bool ReadOneByteUntil(CSerialPort& port, double deadlineMs) {
  uint8_t b;
  uint32_t got = 0;
  while (NowMs() < deadlineMs) {
    if (port.m_nonBlockingReads) port.WaitForInput(static_cast<uint32_t>(deadlineMs - NowMs()) + 1);
    port.ReadPort(&b, 1, got);
    if (got) return true;
  }
  return false;
}

void MeasureLatency(CSerialPort& port, k4vtest::PtyPeer& peer, const char* what) {
  std::vector<double> samples;
  std::atomic<double> sentAt{0};
  for (int i = 0; i < 1000; ++i) {
    std::thread sender([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(300 + (i * 37) % 2000));
      sentAt = NowMs();
      peer.Write(std::string("\n"));
    });
    const bool got = ReadOneByteUntil(port, NowMs() + 1000);
    const double returned = NowMs();
    sender.join();
    if (got) samples.push_back(returned - sentAt.load());
  }
  bench::PrintDistribution(what, samples);
}

void MeasureSilentWait(CSerialPort& port, const char* what, double seconds) {
  const double cpu0 = bench::CpuSeconds();
  const double t0 = NowMs();
  ReadOneByteUntil(port, t0 + seconds * 1000);
  const double wall = (NowMs() - t0) / 1000;
  const double cpu = bench::CpuSeconds() - cpu0;
  std::printf("%-48s %.1f s wall, %.3f s CPU = %.3f %% of one core\n", what, wall, cpu, 100 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const double waitSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  k4vtest::PortDirectory ports;
  k4vtest::PtyPeer peer;
  ports.Link(1, peer.TerminalPath());
  CSerialPort port;
  port.m_portName = k4vtest::PortDirectory::ComName(1);
  std::string status;
  if (!port.OpenPort(status)) {
    std::fprintf(stderr, "cannot open the terminal: %s\n", status.c_str());
    return 1;
  }
  std::printf("Byte arrival to the return of a waiting read:\n");
  MeasureLatency(port, peer, "  normal time-outs (1-byte reads, 6 ms each)");
  port.m_nonBlockingReads = 1;
  port.ApplyTimeouts();
  MeasureLatency(port, peer, "  non-blocking reads (waiting on the device)");

  std::printf("CPU of a wait on a silent line:\n");
  MeasureSilentWait(port, "  non-blocking reads (waiting on the device)", waitSeconds);
  port.m_nonBlockingReads = 0;
  port.ApplyTimeouts();
  MeasureSilentWait(port, "  normal time-outs (1-byte reads, 6 ms each)", waitSeconds);

  // What the exchange primitives do: wait on the device up to their deadline.
  const double cpu0 = bench::CpuSeconds();
  const double t0 = NowMs();
  port.WriteToQORAndWaitFor("?\n", 2, static_cast<uint32_t>(waitSeconds * 1000), std::array<char, 65>{}.data(), 64,
                            false, 0);
  const double wall = (NowMs() - t0) / 1000;
  const double cpu = bench::CpuSeconds() - cpu0;
  std::printf("%-48s %.1f s wall, %.3f s CPU = %.3f %% of one core\n", "  an exchange primitive's wait (normal time-outs)",
              wall, cpu, 100 * cpu / wall);
  return 0;
}
