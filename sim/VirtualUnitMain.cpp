// solstrand-virtual-unit: a virtual Solstrand K4v on a pseudo-terminal, served
// until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "sim/StateFile.h"
#include "sim/VirtualUnit.h"

namespace {

const char* USAGE =
    "usage: solstrand-virtual-unit [options]\n"
    "\n"
    "Serves a virtual unit on a pseudo-terminal until SIGINT or SIGTERM. Prints\n"
    "the terminal's path on the first line of its output.\n"
    "\n"
    "  --profile NAME       the unit's starting state (default k4v); see --list-profiles\n"
    "  --list-profiles      list the profiles and exit\n"
    "  --link PATH          put a symbolic link to the terminal at PATH, e.g.\n"
    "                       $SOLSTRAND_PORTS/com3 for \\\\.\\COM3 (may be repeated)\n"
    "  --state FILE         load the unit from FILE when it exists (instead of the\n"
    "                       profile) and save it there when stopped\n"
    "  --pace               pace answers at the wire rate of the terminal's line\n"
    "                       setting (11 bits per byte at 8N2)\n"
    "  --turnaround-us N    turnaround latency of paced answers (default 1000)\n"
    "  --transcript FILE    write the transcript (bytes each way, time, program,\n"
    "                       line settings) to FILE as it grows\n"
    "  --counters FILE      write the counters to FILE when stopped\n"
    "  --fault ITEM         inject a fault (may be repeated); ITEM is one of\n"
    "                         seed=N                random seed of all faults (default 1)\n"
    "                         rx-loss=R, rx-corrupt=R   per byte towards the unit, 0..1\n"
    "                         tx-loss=R, tx-corrupt=R   per byte from the unit, 0..1\n"
    "                         garbage=R             per answer: replaced by random bytes\n"
    "                         wrong-rate-garbage    noise answered to bytes at a wrong rate\n"
    "                         power-loss-after=N    power cut after N bytes received\n"
    "                         power-off-ms=N        power back after N ms (0: never)\n"
    "                         hangup-after=N        cable pulled after N bytes received\n"
    "                       targeted faults; POINT is AT[:FROM[:TIMES]]: the page,\n"
    "                       sector or word (* for any), from its FROM-th command\n"
    "                       (default 1), TIMES times (default 1, 0 for always)\n"
    "                         block-unacknowledged=POINT   flash block (\"C\") of a page dropped\n"
    "                         silent-after-flash-pages=N   silent after N main flash pages\n"
    "                         silent-after-xflash-pages=N  silent after N external flash pages\n"
    "                         garble=CMD,BYTE[,POINT]      a byte of CMD's answer garbled\n"
    "                         lose=CMD,BYTE[,POINT]        a byte of CMD's answer lost\n"
    "                         xflash-erase-one=POINT       sector erase answered \"1\"\n"
    "                         xflash-page-answer=KIND[,POINT]  page write answered\n"
    "                                               lf-status, lf-zero or none\n"
    "                         zone-stays-on=Z       zone Z (1..3) stays on\n"
    "  --help               show this text\n"
    "\n"
    "The unit answers only at the rate its running program listens at and counts\n"
    "every exchange not made at 8 data bits, no parity, two stop bits as a\n"
    "conformance error (see --counters).\n";

struct Options {
  std::string profile = "k4v";
  std::vector<std::string> links;
  std::string stateFile;
  std::string transcriptFile;
  std::string countersFile;
  sim::PacingSettings pacing;
  sim::FaultSettings faults;
};

int Fail(const std::string& message) {
  std::cerr << "solstrand-virtual-unit: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help") {
      std::cout << USAGE;
      return 0;
    } else if (arg == "--list-profiles") {
      for (const auto& p : sim::Profile::All()) std::cout << p.name << "\t" << p.description << "\n";
      return 0;
    } else if (arg == "--profile" && value(v)) {
      if (!sim::Profile::Find(v)) return Fail("unknown profile '" + v + "' (see --list-profiles)");
      o.profile = v;
    } else if (arg == "--link" && value(v)) {
      o.links.push_back(v);
    } else if (arg == "--state" && value(v)) {
      o.stateFile = v;
    } else if (arg == "--transcript" && value(v)) {
      o.transcriptFile = v;
    } else if (arg == "--counters" && value(v)) {
      o.countersFile = v;
    } else if (arg == "--pace") {
      o.pacing.enabled = true;
    } else if (arg == "--turnaround-us" && value(v)) {
      char* end = nullptr;
      const long us = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || us < 0) return Fail("bad turnaround '" + v + "'");
      o.pacing.turnaround = std::chrono::microseconds(us);
    } else if (arg == "--fault" && value(v)) {
      std::string error;
      if (!sim::ApplyFaultItem(o.faults, v, &error)) return Fail(error);
    } else {
      return Fail("bad argument '" + arg + "' (see --help)\n");
    }
  }

  // SIGINT and SIGTERM are taken by sigwait below, in no thread asynchronously.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  sim::UnitState state;
  std::error_code ec;
  try {
    if (!o.stateFile.empty() && std::filesystem::exists(o.stateFile, ec)) {
      std::string error;
      auto loaded = sim::LoadStateFile(o.stateFile, &error);
      if (!loaded) return Fail(error);
      state = std::move(*loaded);
    } else {
      state = sim::Profile::ByName(o.profile).MakeState();
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }

  sim::VirtualUnit unit(std::move(state));
  unit.SetPacing(o.pacing);
  unit.SetFaults(o.faults);
  std::string error;
  if (!o.transcriptFile.empty() && !unit.SetTranscriptFile(o.transcriptFile, &error)) return Fail(error);
  if (!unit.Start(&error)) return Fail(error);
  for (const auto& link : o.links)
    if (!unit.LinkAs(link, &error)) return Fail(error);
  std::cout << unit.TerminalPath() << std::endl;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  unit.Stop();

  int status = 0;
  if (!o.stateFile.empty() && !unit.SaveState(o.stateFile, &error)) status = Fail(error);
  if (!o.countersFile.empty()) {
    std::ofstream out(o.countersFile, std::ios::trunc);
    out << sim::FormatCounters(unit.Counters());
    if (!out) status = Fail("cannot write " + o.countersFile);
  }
  return status;
}
