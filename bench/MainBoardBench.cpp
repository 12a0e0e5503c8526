// Main board transfers against the virtual unit paced at the wire rate:
// programming and verifying the main processor's application, and the
// external flash's first programming and repeated run. Each time is shown
// next to its wire-time floor: the bytes each way at the rate they crossed
// the line (11 bits a byte at 8N2) plus the fixed waits the protocol
// prescribes; and the installer thread's CPU time.
#include "engine/FirmwareImages.h"
#include "mainboard/SerialNumberPrompt.h"
#include "platform/Clock.h"
#include "serial/SerialPort.h"
#include "sim/VirtualUnit.h"
#include "tests/support/PtyPeer.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

struct NoProgress : CProgCtrl {
  void SetRange(int32_t, int32_t) override {}
  void SetPos(int32_t) override {}
  void Show(int32_t) override {}
};

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Wire time of everything in the transcript from entry `from` on, in seconds.
double WireSeconds(const std::vector<sim::TranscriptEntry>& t, size_t from, uint64_t& bytes) {
  double seconds = 0;
  bytes = 0;
  for (size_t i = from; i < t.size(); ++i) {
    const auto& e = t[i];
    if (e.kind == sim::TranscriptEntry::Kind::Event || e.line.baud == 0) continue;
    bytes += e.bytes.size();
    seconds += static_cast<double>(e.bytes.size()) * 11.0 / e.line.baud;
  }
  return seconds;
}

template <typename F>
void Measure(const char* what, sim::VirtualUnit& unit, F&& operation) {
  const size_t from = unit.Transcript().size();
  const uint64_t slept0 = platform::TotalSleptMs();
  const double cpu0 = ThreadCpuSeconds();
  const int64_t t0 = platform::MonotonicMs();
  std::string status;
  const int result = operation(status);
  const double took = static_cast<double>(platform::MonotonicMs() - t0) / 1000;
  const double cpu = ThreadCpuSeconds() - cpu0;
  const double waits = static_cast<double>(platform::TotalSleptMs() - slept0) / 1000;
  uint64_t bytes = 0;
  const double wire = WireSeconds(unit.Transcript(), from, bytes);
  std::printf("%-40s %s (%s)\n", what, result ? "ok" : "FAILED", status.c_str());
  std::printf("    took %7.1f s; floor %7.1f s = wire %6.1f s (%llu bytes) + fixed waits %5.1f s; installer CPU %.2f s\n",
              took, wire + waits, wire, static_cast<unsigned long long>(bytes), waits, cpu);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  k4vtest::PortDirectory ports;
  sim::VirtualUnit unit(sim::Profile::ByName("k4v"));
  unit.SetPacing(sim::PacingSettings{true, std::chrono::microseconds(100)});
  std::string error;
  if (!unit.Start(&error) || !unit.LinkAs(ports.Path() + "/com1", &error)) {
    std::fprintf(stderr, "virtual unit: %s\n", error.c_str());
    return 1;
  }
  CSerialPort port;
  port.m_portName = k4vtest::PortDirectory::ComName(1);
  NoProgress progress;
  std::printf("Virtual unit paced at the wire rate, 0.1 ms turnaround; real clock.\n");

  if (!port.CheckConnectTo(0)) return 1;
  Measure("External flash, first programming", unit, [&](std::string& s) {
    unit.Mutate([](sim::UnitState& st) { std::fill(st.xflash.data.begin(), st.xflash.data.end(), 0xFF); });
    return port.ProgramXflash(s, progress);
  });
  if (!port.CheckConnectTo(port.m_baudIndex)) return 1;
  Measure("External flash, repeated run", unit, [&](std::string& s) { return port.ProgramXflash(s, progress); });

  if (!quick) {
    Measure("Main flash, programming the application", unit,
            [&](std::string& s) { return port.ConnectLoader(s) && port.ProgramMainFlash(s, progress, false); });
    Measure("Main flash, verifying the application", unit,
            [&](std::string& s) { return port.VerifyMainFlash(s, progress, false); });
  }
  unit.Stop();
  return 0;
}
