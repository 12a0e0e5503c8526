// Fault injection: damage on the line, power cuts, the cable pulled.
#include <gtest/gtest.h>

#include <filesystem>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "tests/sim/FarEnd.h"
#include "tests/support/PtyPeer.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;

// Ten identifications through a line that loses bytes of the unit's answers.
std::string AnswersThroughLossyLine(uint64_t seed, uint64_t* lost) {
  UnitOnLine u("k4v");
  sim::FaultSettings f;
  f.seed = seed;
  f.txLossRate = 0.2;
  u.unit.SetFaults(f);
  std::string all;
  for (int i = 0; i < 10; ++i) all += u.Ask("?\n") + "|";
  *lost = u.unit.Counters().lostBytes;
  return all;
}

TEST(Faults, LostBytesAreTheSameForTheSameSeed) {
  uint64_t lostA = 0, lostB = 0, lostC = 0;
  const std::string a = AnswersThroughLossyLine(7, &lostA);
  const std::string b = AnswersThroughLossyLine(7, &lostB);
  const std::string c = AnswersThroughLossyLine(8, &lostC);
  EXPECT_EQ(a, b);
  EXPECT_EQ(lostA, lostB);
  EXPECT_NE(a, c);
  EXPECT_GT(lostA, 0u);
  // Every byte the unit meant to send either arrived or was counted lost.
  EXPECT_EQ(a.size() - 10 + lostA, 10 * APP_IDENT_LINE.size());
}

TEST(Faults, CorruptedCommandIsNotUnderstood) {
  UnitOnLine u("k4v");
  sim::FaultSettings f;
  f.rxCorruptRate = 1.0;  // every byte towards the unit has one bit flipped
  u.unit.SetFaults(f);
  EXPECT_EQ(u.Ask("?\n"), "");  // the LF did not arrive as LF: no line yet
  EXPECT_EQ(u.unit.Counters().corruptedBytes, 2u);
  u.unit.SetFaults({});
  // The wake-up LF ends the damaged line, which the application refuses.
  EXPECT_EQ(u.Ask("\n?\n"), "Invalid Command\r\n" + APP_IDENT_LINE);
}

TEST(Faults, GarbageAnswersKeepTheirLength) {
  UnitOnLine u("k4v");
  sim::FaultSettings f;
  f.garbageAnswerRate = 1.0;
  u.unit.SetFaults(f);
  const std::string answer = u.Ask("?\n");
  EXPECT_EQ(answer.size(), APP_IDENT_LINE.size());
  EXPECT_NE(answer, APP_IDENT_LINE);
  EXPECT_EQ(u.unit.Counters().garbageAnswers, 1u);
}

TEST(Faults, GarbageAtAWrongRateWhenAsked) {
  UnitOnLine u("k4v");
  u.far->SetLine(115200);
  EXPECT_EQ(u.Ask("?\n"), "");
  sim::FaultSettings f;
  f.garbageAtWrongRate = true;
  u.unit.SetFaults(f);
  EXPECT_EQ(u.Ask("?\n").size(), 2u);
  EXPECT_EQ(u.unit.Counters().wrongRateExchanges, 2u);
}

TEST(Faults, PowerCutSilencesTheUnitUntilPowerReturns) {
  UnitOnLine u("k4v");
  sim::FaultSettings f;
  f.powerLossAfterRxBytes = 3;  // the second "?" gets in, its LF does not
  u.unit.SetFaults(f);
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  EXPECT_EQ(u.Ask("?\n"), "");
  EXPECT_EQ(u.Ask("?\n"), "");
  EXPECT_FALSE(u.unit.Snapshot().powered);
  u.unit.PowerOn();
  // A fresh start: the half-received line was lost with the power.
  EXPECT_EQ(u.Ask("\n?\n"), APP_IDENT_LINE);
  const auto s = u.unit.Snapshot();
  EXPECT_TRUE(s.powered);
  EXPECT_EQ(s.zones.on, (std::array<bool, 3>{false, false, false}));
  EXPECT_EQ(u.unit.Counters().powerLosses, 1u);
}

TEST(Faults, PowerComesBackByItselfAfterTheGivenTime) {
  UnitOnLine u("k4v-debug");
  sim::FaultSettings f;
  f.powerLossAfterRxBytes = 0;
  f.powerOffMs = 300;
  u.unit.SetFaults(f);
  EXPECT_EQ(u.Ask("?\n"), "");
  ASSERT_TRUE(u.unit.WaitUntil([](const sim::UnitState& s, const sim::UnitCounters&) { return s.powered; }, 10s));
  // At power-up the main processor starts its application, not the debug mode.
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
}

TEST(Faults, PowerUpWithoutProgrammedFlashStaysInTheLoader) {
  UnitOnLine u("k4v");
  u.unit.Mutate([](sim::UnitState& s) { s.main.eeprom[0] = 0; });
  u.unit.PowerOff();
  EXPECT_EQ(u.Ask("?\n"), "");
  u.unit.PowerOn();
  EXPECT_EQ(u.Ask("?\n"), "??");
}

bool SeesHangUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) <= 0) return false;
  char c;
  return (p.revents & (POLLHUP | POLLERR)) || read(fd, &c, 1) <= 0;
}

TEST(Faults, PulledCableHangsUpAndPluggingInAgainRelinks) {
  k4vtest::TempDir dir;
  const std::string link = dir.Path() + "/com3";
  UnitOnLine u("k4v");
  ASSERT_TRUE(u.unit.LinkAs(link));
  const std::string firstPath = u.unit.TerminalPath();
  u.unit.HangUp();
  EXPECT_TRUE(SeesHangUp(u.far->Fd()));
  EXPECT_EQ(u.unit.Counters().hangUps, 1u);

  ASSERT_TRUE(u.unit.Reconnect());
  EXPECT_NE(u.unit.TerminalPath(), firstPath);
  EXPECT_EQ(std::filesystem::read_symlink(link), u.unit.TerminalPath());
  FarEnd again(link);
  again.SetLine(19200);
  EXPECT_EQ(Ask(u.unit, again, "?\n"), APP_IDENT_LINE);
}

TEST(Faults, CablePulledAfterGivenBytes) {
  UnitOnLine u("k4v");
  sim::FaultSettings f;
  f.hangUpAfterRxBytes = 3;
  u.unit.SetFaults(f);
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  u.far->Send("?\n");
  EXPECT_TRUE(SeesHangUp(u.far->Fd()));
  EXPECT_TRUE(u.unit.WaitUntil([](const sim::UnitState&, const sim::UnitCounters& c) { return c.hangUps == 1; }, 10s));
}

TEST(Faults, ItemsOfTheProgramOption) {
  sim::FaultSettings f;
  std::string error;
  for (const char* item : {"seed=42", "rx-loss=0.5", "tx-corrupt=0.25", "garbage=1", "wrong-rate-garbage",
                           "power-loss-after=100", "power-off-ms=250", "hangup-after=7"})
    EXPECT_TRUE(sim::ApplyFaultItem(f, item, &error)) << item << ": " << error;
  EXPECT_EQ(f.seed, 42u);
  EXPECT_EQ(f.rxLossRate, 0.5);
  EXPECT_EQ(f.txCorruptRate, 0.25);
  EXPECT_EQ(f.garbageAnswerRate, 1.0);
  EXPECT_TRUE(f.garbageAtWrongRate);
  EXPECT_EQ(f.powerLossAfterRxBytes, 100u);
  EXPECT_EQ(f.powerOffMs, 250u);
  EXPECT_EQ(f.hangUpAfterRxBytes, 7u);
  for (const char* bad : {"rx-loss=1.5", "rx-loss=-0.1", "rx-loss=x", "seed=", "wrong-rate-garbage=1", "power=1", "hangup-after=-1"}) {
    sim::FaultSettings g;
    EXPECT_FALSE(sim::ApplyFaultItem(g, bad, &error)) << bad;
    EXPECT_TRUE(g == sim::FaultSettings{}) << bad;
  }
}

TEST(Faults, ItemsOfTheTargetedFaults) {
  sim::FaultSettings f;
  std::string error;
  for (const char* item : {"block-unacknowledged=5", "silent-after-flash-pages=100", "silent-after-xflash-pages=3",
                           "garble=R,1,256", "lose=CS,10,*:2:0", "xflash-erase-one=*", "xflash-page-answer=lf-zero,7:1:0",
                           "zone-stays-on=2"})
    EXPECT_TRUE(sim::ApplyFaultItem(f, item, &error)) << item << ": " << error;
  EXPECT_EQ(f.flashBlockUnacknowledged, (sim::FaultPoint{5, 1, 1}));
  EXPECT_EQ(f.silentAfterFlashPages, 100u);
  EXPECT_EQ(f.silentAfterXflashPages, 3u);
  ASSERT_EQ(f.answerDamage.size(), 2u);
  EXPECT_EQ(f.answerDamage[0], (sim::AnswerDamage{"R", sim::FaultPoint{256, 1, 1}, 1, false}));
  EXPECT_EQ(f.answerDamage[1], (sim::AnswerDamage{"CS", sim::FaultPoint{std::nullopt, 2, 0}, 10, true}));
  EXPECT_EQ(f.xflashEraseAnsweredOne, (sim::FaultPoint{}));
  EXPECT_EQ(f.xflashPageAnswerFault, (sim::FaultPoint{7, 1, 0}));
  EXPECT_EQ(f.xflashPageAnswer, sim::PageWriteAnswer::LfThenZero);
  EXPECT_EQ(f.zoneStaysOn, (std::array<bool, 3>{false, true, false}));
  for (const char* bad : {"block-unacknowledged=x", "block-unacknowledged=5:0", "garble=R", "garble=,1", "lose=CS,x",
                          "xflash-page-answer=maybe", "xflash-page-answer=none,q", "zone-stays-on=4", "zone-stays-on=0"}) {
    sim::FaultSettings g;
    EXPECT_FALSE(sim::ApplyFaultItem(g, bad, &error)) << bad;
    EXPECT_TRUE(g == sim::FaultSettings{}) << bad;
  }
}

}  // namespace
}  // namespace simtest
