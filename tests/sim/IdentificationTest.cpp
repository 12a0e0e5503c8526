// What each profile's unit answers to the identify command, at which rate,
// and how it counts exchanges not made at 8N2.
#include <gtest/gtest.h>

#include <vector>

#include "tests/sim/FarEnd.h"

namespace simtest {
namespace {

struct IdentCase {
  const char* profile;
  uint32_t baud;
  const char* answer;
};

void PrintTo(const IdentCase& c, std::ostream* os) { *os << c.profile; }

class Identification : public ::testing::TestWithParam<IdentCase> {};

// At its own rate the unit identifies; at other rates it stays silent and
// throws the bytes away whole, so that the next command at the right rate is
// understood.
TEST_P(Identification, AnswersOnlyAtItsRate) {
  const IdentCase& c = GetParam();
  UnitOnLine u(c.profile);
  for (uint32_t wrong : {9600u, 115200u, c.baud == 19200 ? 57600u : 19200u}) {
    u.far->SetLine(wrong);
    EXPECT_EQ(u.Ask("?\n"), "") << "at " << wrong;
  }
  EXPECT_EQ(u.unit.Counters().wrongRateExchanges, 3u);
  u.far->SetLine(c.baud);
  EXPECT_EQ(u.Ask("?\n"), c.answer);
  EXPECT_EQ(u.unit.ConformanceErrors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, Identification,
    ::testing::Values(IdentCase{"k4v", 19200, "Solstrand K4v v3.02\r\n"},
                      IdentCase{"k4v-rev3", 19200, "Solstrand K4v v3.02\r\n"},
                      IdentCase{"k4v-57600", 57600, "Solstrand K4v v3.02\r\n"},
                      IdentCase{"k4v-loader", 19200, "??"},
                      IdentCase{"k4v-loader-ident", 19200, "SOLSTRAND K4v2 ISP"},
                      IdentCase{"k4v-debug", 19200, "Invalid Command\r\n"},
                      IdentCase{"k4v-programmer", 19200, "Solstrand K4v EEPROM Prog v3.02\r\n"},
                      IdentCase{"k4v-rev3-programmer", 19200, "Solstrand K4v FLASH Prog v3.02\r\n"},
                      IdentCase{"k4v-video-loader", 19200, "!\n"},
                      IdentCase{"k4", 19200, "??"},
                      IdentCase{"qor60v", 19200, "??"}),
    [](const auto& info) {
      std::string name = info.param.profile;
      for (auto& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

// Over a pseudo-terminal only the rate and the stop bits reach the unit (the
// terminal keeps 8 data bits and no parity whatever the far end sets).
TEST(Conformance, ExchangeWithOneStopBitIsAConformanceError) {
  UnitOnLine u("k4v");
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  EXPECT_EQ(u.unit.ConformanceErrors(), 0u);
  u.far->SetLine(19200, CS8);
  // The framing is checked but does not stop the unit from answering at the
  // right rate: the error is for the test to see.
  EXPECT_EQ(u.Ask("?\n"), APP_IDENT_LINE);
  EXPECT_EQ(u.unit.ConformanceErrors(), 1u);
  const auto transcript = u.unit.Transcript();
  std::vector<sim::TranscriptEntry> received;
  for (const auto& e : transcript)
    if (e.kind == sim::TranscriptEntry::Kind::Received) received.push_back(e);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].note, "");
  EXPECT_EQ(received[1].note, "not 8N2");
  EXPECT_EQ(received[1].line, (sim::LineSettings{19200, 8, 'N', 1}));
}

struct FramingCase {
  const char* name;
  tcflag_t cflag;
  sim::LineSettings expected;
  int bitsPerCharacter;
};

void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.name; }

class Framing : public ::testing::TestWithParam<FramingCase> {};

// The settings a serial port can carry, as the unit reads them, and the
// conformance error for each exchange not made at 8N2.
TEST_P(Framing, IsReadAndCounted) {
  const FramingCase& c = GetParam();
  termios t{};
  t.c_cflag = c.cflag;
  cfsetospeed(&t, B115200);
  const sim::LineSettings line = sim::DecodeLineSettings(t);
  EXPECT_EQ(line, c.expected);
  EXPECT_EQ(line.BitsPerCharacter(), c.bitsPerCharacter);

  const auto now = sim::UnitCore::Clock::now();
  sim::UnitState state = sim::Profile::K4vStandard().MakeState();
  state.main.lineBaud = 115200;
  sim::UnitCore core(std::move(state), now);
  EXPECT_EQ(core.Receive("?\n", line, now).bytes, APP_IDENT_LINE);
  EXPECT_EQ(core.Counters().conformanceErrors, line.Is8N2() ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, Framing,
    ::testing::Values(FramingCase{"8N2", CS8 | CSTOPB, {115200, 8, 'N', 2}, 11},
                      FramingCase{"8N1", CS8, {115200, 8, 'N', 1}, 10},
                      FramingCase{"7N2", CS7 | CSTOPB, {115200, 7, 'N', 2}, 10},
                      FramingCase{"8E2", CS8 | PARENB | CSTOPB, {115200, 8, 'E', 2}, 12},
                      FramingCase{"8O1", CS8 | PARENB | PARODD, {115200, 8, 'O', 1}, 11}),
    [](const auto& info) { return std::string(info.param.name); });

// A wrong rate and a wrong framing at once: silent, and still counted.
TEST(Conformance, WrongFramingAtWrongRateIsCountedToo) {
  UnitOnLine u("k4v");
  u.far->SetLine(115200, CS8);
  EXPECT_EQ(u.Ask("?\n"), "");
  EXPECT_EQ(u.unit.ConformanceErrors(), 1u);
  EXPECT_EQ(u.unit.Counters().wrongRateExchanges, 1u);
}

}  // namespace
}  // namespace simtest
