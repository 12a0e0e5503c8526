// The unit's side of the line: transcript and counters, the terminal across
// the far end's close and reopen, and pacing at the wire rate.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/sim/FarEnd.h"
#include "tests/support/PtyPeer.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;
using Kind = sim::TranscriptEntry::Kind;

TEST(Transcript, RecordsBytesEachWayWithProgramAndLineSettings) {
  k4vtest::TempDir dir;
  const std::string file = dir.Path() + "/transcript.txt";
  UnitOnLine u("k4v");
  ASSERT_TRUE(u.unit.SetTranscriptFile(file));
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  EXPECT_EQ(u.Ask("D7096.8\n"), "\n");

  const sim::UnitCounters c = u.unit.Counters();
  EXPECT_EQ(c.rxBytes, 10u);
  EXPECT_EQ(c.txBytes, APP_IDENT_LINE.size() + 1);
  EXPECT_EQ(c.exchanges, 2u);
  EXPECT_EQ(c.conformanceErrors, 0u);
  EXPECT_EQ(c.programStarts, 1u);

  std::vector<sim::TranscriptEntry> traffic;
  for (const auto& e : u.unit.Transcript())
    if (e.kind != Kind::Event) traffic.push_back(e);
  ASSERT_EQ(traffic.size(), 4u);
  EXPECT_EQ(traffic[0].kind, Kind::Received);
  EXPECT_EQ(traffic[0].bytes, "?\n");
  EXPECT_EQ(traffic[0].program, sim::Program::Application);
  EXPECT_EQ(traffic[0].line, (sim::LineSettings{19200, 8, 'N', 2}));
  EXPECT_EQ(traffic[1].kind, Kind::Sent);
  EXPECT_EQ(traffic[1].bytes, APP_IDENT_LINE);
  EXPECT_LE(traffic[0].timeMs, traffic[1].timeMs);
  EXPECT_EQ(traffic[2].bytes, "D7096.8\n");
  EXPECT_EQ(traffic[3].program, sim::Program::DebugMode);

  u.unit.Stop();
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find(" RX 19200 8N2 application \"?\\n\""), std::string::npos) << text.str();
  EXPECT_NE(text.str().find(" TX 19200 8N2 application \"Solstrand K4v v3.02\\r\\n\""), std::string::npos);
  EXPECT_NE(text.str().find("program started: debug-mode"), std::string::npos);
}

// While the far end has its port closed, the unit neither sees a hang-up nor
// wakes up; the far end's line settings are still there when it reopens.
TEST(Terminal, SurvivesTheFarEndClosingItsPortWithoutSpinning) {
  k4vtest::TempDir dir;
  const std::string link = dir.Path() + "/com2";
  UnitOnLine u("k4v-57600");
  ASSERT_TRUE(u.unit.LinkAs(link));
  u.far->SetLine(57600);
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  u.far->Close();

  const uint64_t wakeUps = u.unit.Counters().loopWakeUps;
  std::this_thread::sleep_for(500ms);
  EXPECT_LE(u.unit.Counters().loopWakeUps, wakeUps + 1);
  EXPECT_EQ(u.unit.CurrentLineSettings(), (sim::LineSettings{57600, 8, 'N', 2}));

  FarEnd again(link);
  EXPECT_EQ(again.Baud(), 57600u);
  EXPECT_EQ(Ask(u.unit, again, "?\n"), APP_IDENT_LINE);
  EXPECT_EQ(u.unit.Counters().hangUps, 0u);
}

TEST(Terminal, LinkReplacesAnOldLinkAndIsRemovedAtStop) {
  k4vtest::TempDir dir;
  const std::string link = dir.Path() + "/com4";
  std::filesystem::create_symlink("/nonexistent", link);
  UnitOnLine u("k4v");
  ASSERT_TRUE(u.unit.LinkAs(link));
  EXPECT_EQ(std::filesystem::read_symlink(link), u.unit.TerminalPath());
  std::ofstream(dir.Path() + "/com5") << "a plain file";
  std::string error;
  EXPECT_FALSE(u.unit.LinkAs(dir.Path() + "/com5", &error));
  EXPECT_FALSE(error.empty());
  u.unit.Stop();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/com5"));
}

double Delay(const sim::VirtualUnit& unit) {
  double rx = -1, tx = -1;
  for (const auto& e : unit.Transcript()) {
    if (e.kind == Kind::Received && rx < 0) rx = e.timeMs;
    if (e.kind == Kind::Sent && tx < 0) tx = e.timeMs;
  }
  return tx - rx;
}

// Paced, an answer is delivered no earlier than its last byte would arrive on
// the wire: the command's 2 bytes, the turnaround and the answer's 21 bytes at
// 11 bits each.
TEST(Pacing, AnswerArrivesNoEarlierThanTheWireAllows) {
  UnitOnLine u("k4v");
  u.unit.SetPacing({true, std::chrono::microseconds(5000)});
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  const double wireMs = (2 + APP_IDENT_LINE.size()) * 11 * 1000.0 / 19200 + 5.0;
  EXPECT_GE(Delay(u.unit), wireMs);
}

}  // namespace
}  // namespace simtest
