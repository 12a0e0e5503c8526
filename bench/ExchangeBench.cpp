// Exchange primitives: the cost of one WriteToQORAndWait and one
// LoaderExchange against a unit that answers at once, beyond the pauses the
// protocol itself prescribes (the flush's reads; no wake-up pause is due on a
// first attempt that succeeds).
#include "bench/BenchUtil.h"
#include "serial/SerialPort.h"
#include "tests/support/PtyPeer.h"

#include <atomic>
#include <chrono>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Answers "P1P0\n" with a lone LF and "V" with "35", at once.
void Responder(k4vtest::PtyPeer& peer, std::atomic<bool>& stop) {
  sched_param param{};
  param.sched_priority = 1;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  std::string pending;
  while (!stop) {
    pollfd p{peer.MasterFd(), POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[256];
    const ssize_t r = read(peer.MasterFd(), buf, sizeof buf);
    if (r <= 0) continue;
    pending.append(buf, static_cast<size_t>(r));
    for (;;) {
      if (pending.rfind("P1P0\n", 0) == 0) {
        pending.erase(0, 5);
        peer.Write(std::string("\n"));
      } else if (!pending.empty() && pending[0] == 'V') {
        pending.erase(0, 1);
        peer.Write(std::string("35"));
      } else if (!pending.empty() && pending[0] == '\n') {
        pending.erase(0, 1);
      } else {
        break;
      }
    }
  }
}

void Measure(CSerialPort& port, const char* mode) {
  std::vector<double> flush, qor, loader;
  const double cpu0 = bench::CpuSeconds();
  for (int i = 0; i < 300; ++i) {
    double t0 = NowMs();
    port.FlushInput(false);
    flush.push_back(NowMs() - t0);
    t0 = NowMs();
    if (!port.WriteToQORAndWait("P1P0\n", 5, 1000)) std::fprintf(stderr, "WriteToQORAndWait failed\n");
    qor.push_back(NowMs() - t0);
    uint8_t answer[3];
    t0 = NowMs();
    if (!port.LoaderExchange("V", 1, 1000, answer, 2, 3)) std::fprintf(stderr, "LoaderExchange failed\n");
    loader.push_back(NowMs() - t0);
  }
  const double cpu = bench::CpuSeconds() - cpu0;
  std::printf("%s\n", mode);
  bench::PrintDistribution("  FlushInput alone (prescribed)", flush);
  bench::PrintDistribution("  WriteToQORAndWait (flush included)", qor);
  bench::PrintDistribution("  LoaderExchange (flush included)", loader);
  std::vector<double> qorOver, loaderOver;
  for (size_t i = 0; i < qor.size(); ++i) {
    qorOver.push_back(qor[i] - flush[i]);
    loaderOver.push_back(loader[i] - flush[i]);
  }
  bench::PrintDistribution("  WriteToQORAndWait beyond the flush", qorOver);
  bench::PrintDistribution("  LoaderExchange beyond the flush", loaderOver);
  std::printf("  CPU: %.3f ms per pair of exchanges\n", cpu * 1000 / 300);
}

}  // namespace

int main() {
  k4vtest::PortDirectory ports;
  k4vtest::PtyPeer peer;
  ports.Link(1, peer.TerminalPath());
  std::atomic<bool> stop{false};
  std::thread responder([&] { Responder(peer, stop); });
  CSerialPort port;
  port.m_portName = k4vtest::PortDirectory::ComName(1);
  std::string status;
  if (!port.OpenPort(status)) return 1;
  Measure(port, "Normal time-outs:");
  port.m_nonBlockingReads = 1;
  port.ApplyTimeouts();
  Measure(port, "Non-blocking reads:");
  stop = true;
  responder.join();
  return 0;
}
