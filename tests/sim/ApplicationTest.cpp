// The application's unit control commands (zones, start-up from standby,
// rate, clock, flash checksum), the debug mode's state query and rate change,
// and the programmer firmware's commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "images/StartingFirmware.h"
#include "tests/sim/FarEnd.h"

namespace simtest {
namespace {

using sim::Program;

const std::string ACK = "\n";
const std::string INVALID = "Invalid Command\r\n";

struct Line {
  std::string send;
  std::string answer;
};

// Each line answered as given, in order.
void Converse(UnitOnLine& u, const std::vector<Line>& lines) {
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(u.AskN(lines[i].send, lines[i].answer.size()), lines[i].answer)
        << "line " << i << ": " << sim::EscapeBytes(lines[i].send);
}

TEST(Zones, AreSwitchedAndReported) {
  UnitOnLine u("k4v");
  Converse(u, {{"P1P?\n", "P1P1\r\n"}, {"P2P?\n", "P2P0\r\n"}, {"P3P?\n", "P3P0\r\n"},
               {"P2P1\n", ACK}, {"P2P?\n", "P2P1\r\n"},
               {"P1P0\n", ACK}, {"P2P0\n", ACK}, {"P3P0\n", ACK},
               {"P1P?\n", "P1P0\r\n"}, {"P2P?\n", "P2P0\r\n"},
               {"P1P5\n", INVALID}, {"P4P0\n", INVALID}});
  EXPECT_EQ(u.unit.Snapshot().zones.on, (std::array<bool, 3>{false, false, false}));
  // The power-up command group is acknowledged.
  Converse(u, {{"SST0\n", ACK}, {"SVM0\n", ACK}, {"P1M1\n", ACK}, {"P1S4\n", ACK}, {"P1S\n", INVALID}});
}

TEST(Zones, AZoneThatStaysOn) {
  UnitOnLine u("k4v");
  sim::FaultSettings f;
  f.zoneStaysOn[1] = true;
  u.unit.SetFaults(f);
  for (int pass = 0; pass < 4; ++pass)
    Converse(u, {{"P2P0\n", ACK}, {"P2P?\n", "P2P1\r\n"}, {"P1P0\n", ACK}, {"P1P?\n", "P1P0\r\n"}});
}

// A unit in standby switched on: zone 1 and the debug state follow the
// profile's rules, counted in queries.
TEST(PowerUp, ZoneOneAndDebugStateFollowTheQueryRules) {
  UnitOnLine u("k4v-standby");
  Converse(u, {{"P1P?\n", "P1P0\r\n"}, {"D7096.8\n", ACK}, {"dP?\n", "0\r\n"}, {"dx\n", ACK},
               {"SST0\n", ACK}, {"P1P1\n", ACK},
               {"P1P?\n", "P1P0\r\n"}, {"P1P?\n", "P1P0\r\n"}, {"P1P?\n", "P1P1\r\n"}, {"P1P?\n", "P1P1\r\n"},
               {"D7096.8\n", ACK},
               {"dP?\n", "1\r\n"}, {"dP?\n", "1\r\n"}, {"dP?\n", "9\r\n"}, {"dP?\n", "9\r\n"}});
  // A power cut puts it back in standby.
  u.unit.PowerOff();
  u.unit.PowerOn();
  Converse(u, {{"P1P?\n", "P1P0\r\n"}});
  // A unit on from the start is ready at once.
  UnitOnLine on("k4v-debug");
  Converse(on, {{"dP?\n", "9\r\n"}});
}

// The time rules, on the unit without its terminal so that the clock is the
// test's.
TEST(PowerUp, ZoneOneAndDebugStateFollowTheTimeRules) {
  sim::Profile p = sim::Profile::ByName("k4v-standby");
  p.powerUp = sim::PowerUpRules{0, 5000, 0, 8000};
  const auto t0 = sim::UnitCore::Clock::now();
  sim::UnitCore core(p.MakeState(), t0);
  const sim::LineSettings line{19200, 8, 'N', 2};
  auto at = [&](int ms, const std::string& bytes) {
    return core.Receive(bytes, line, t0 + std::chrono::milliseconds(ms)).bytes;
  };
  EXPECT_EQ(at(0, "P1P1\n"), ACK);
  EXPECT_EQ(at(4999, "P1P?\n"), "P1P0\r\n");
  EXPECT_EQ(at(5000, "P1P?\n"), "P1P1\r\n");
  EXPECT_EQ(at(5001, "D7096.8\n"), ACK);
  EXPECT_EQ(at(7999, "dP?\n"), "1\r\n");
  EXPECT_EQ(at(8000, "dP?\n"), "9\r\n");
}

// "SSB" and "dB" + code: acknowledged at the old rate, then the program
// listens at the new one.
TEST(RateChange, ApplicationAndDebugModeFollowTheirCode) {
  UnitOnLine u("k4v");
  Converse(u, {{"SSB7\n", ACK}});
  EXPECT_EQ(u.Ask("?\n"), "");
  u.far->SetLine(115200);
  Converse(u, {{"?\n", APP_IDENT_LINE}, {"SSB8\n", INVALID}, {"SSB\n", INVALID}, {"D7096.8\n", ACK}, {"dB6\n", ACK}});
  u.far->SetLine(57600);
  Converse(u, {{"?\n", INVALID}, {"dB9\n", INVALID}, {"dx\n", ACK}, {"?\n", APP_IDENT_LINE}, {"SSB4\n", ACK}});
  u.far->SetLine(19200);
  Converse(u, {{"?\n", APP_IDENT_LINE}});
  const sim::UnitState s = u.unit.Snapshot();
  EXPECT_EQ(s.main.lineBaud, 19200u);
  EXPECT_EQ(s.main.applicationBaud, 19200u);  // the rate it starts at stays
}

struct ClockCase {
  const char* name;
  const char* profile;
  std::vector<Line> lines;
  int weekday;
  const char* timeOfDay;
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.name; }

class UnitClock : public ::testing::TestWithParam<ClockCase> {};

TEST_P(UnitClock, TakesDayAndTimeInItsForm) {
  const ClockCase& c = GetParam();
  UnitOnLine u(c.profile);
  Converse(u, c.lines);
  const sim::UnitState s = u.unit.Snapshot();
  EXPECT_EQ(s.clock.weekday, c.weekday);
  EXPECT_EQ(s.clock.timeOfDay, c.timeOfDay);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, UnitClock,
    ::testing::Values(
        ClockCase{"h24", "k4v",
                  {{"STF?\n", "STF1\r\n"}, {"STD1\n", ACK}, {"STC15:07\n", ACK}, {"STC03:07PM\n", INVALID},
                   {"STC24:00\n", INVALID}, {"STC9:07\n", INVALID}, {"STD0\n", INVALID}, {"STD8\n", INVALID}},
                  1, "15:07"},
        ClockCase{"h24_midnight", "k4v", {{"STD7\n", ACK}, {"STC00:00\n", ACK}}, 7, "00:00"},
        ClockCase{"h12", "k4v-12h",
                  {{"STF?\n", "STF0\r\n"}, {"STD4\n", ACK}, {"STC03:07PM\n", ACK}, {"STC15:07\n", INVALID},
                   {"STC00:07AM\n", INVALID}, {"STC03:07pm\n", INVALID}},
                  4, "03:07PM"}),
    [](const auto& info) { return std::string(info.param.name); });

// The checksum the installer expects of an image: both bytes of its words,
// and 0x1FE for each erased word of the flash beyond it.
uint16_t ExpectedChecksum(const std::string& image, uint32_t flashWords) {
  const startfw::Blob blob = startfw::Find(image);
  uint32_t sum = 0;
  for (size_t i = 0; i < blob.size; ++i) sum += blob.data[i];
  sum += 0x1FE * (flashWords - static_cast<uint32_t>(blob.size / 2));
  return static_cast<uint16_t>(sum);
}

std::string ChecksumLine(uint16_t sum, bool blank = true) {
  char text[32];
  std::snprintf(text, sizeof text, "Checksum:%s%04X\r\n", blank ? " " : "", sum);
  return text;
}

struct ChecksumCase {
  const char* profile;
  std::string answer;
};

void PrintTo(const ChecksumCase& c, std::ostream* os) { *os << c.profile; }

class FlashChecksum : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(FlashChecksum, CoversTheBoardsFlash) {
  UnitOnLine u(GetParam().profile);
  EXPECT_EQ(u.AskN("CS\n", GetParam().answer.size()), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, FlashChecksum,
    ::testing::Values(ChecksumCase{"k4v", ChecksumLine(ExpectedChecksum("main_app", 0x20000))},
                      ChecksumCase{"k4v-rev3", ChecksumLine(ExpectedChecksum("main_app_v3", 0x1F000))},
                      ChecksumCase{"k4v-cs-no-blank", ChecksumLine(ExpectedChecksum("main_app", 0x20000), false)},
                      ChecksumCase{"k4v-programmer", ChecksumLine(ExpectedChecksum("programmer", 0x20000))},
                      ChecksumCase{"k4v-rev3-programmer", ChecksumLine(ExpectedChecksum("programmer_v3", 0x1F000))}),
    [](const auto& info) {
      std::string name = info.param.profile;
      for (auto& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

// The checksum is of the flash as it is now: a changed word shows, and so
// does a byte garbled on the way.
TEST(FlashChecksum, FollowsTheFlashAndCanBeGarbled) {
  UnitOnLine u("k4v");
  const uint16_t image = ExpectedChecksum("main_app", 0x20000);
  u.unit.Mutate([](sim::UnitState& s) { s.main.flash[0x30000] = 0x00; });  // an erased byte cleared
  Converse(u, {{"CS\n", ChecksumLine(static_cast<uint16_t>(image - 0xFF))}});
  sim::FaultSettings f;
  f.answerDamage.push_back(sim::AnswerDamage{"CS", sim::FaultPoint{}, 13, false});
  u.unit.SetFaults(f);
  std::string garbled = ChecksumLine(static_cast<uint16_t>(image - 0xFF));
  garbled[13] = static_cast<char>(garbled[13] ^ 1);
  Converse(u, {{"CS\n", garbled}, {"CS\n", ChecksumLine(static_cast<uint16_t>(image - 0xFF))}});
  // The debug mode has no such command.
  Converse(u, {{"D7096.8\n", ACK}, {"CS\n", INVALID}});
}

// The programmer firmware: identification, checksum, rate change, the jump
// into the loader, and the debug mode's exit commands acknowledged.
TEST(Programmer, AnswersItsCommands) {
  UnitOnLine u("k4v-programmer");
  Converse(u, {{"dx\n", ACK}, {"@0\n", ACK}, {"P1P?\n", INVALID}, {"D7096.8\n", INVALID}, {"SSB7\n", ACK}});
  u.far->SetLine(115200);
  Converse(u, {{"?\n", "Solstrand K4v EEPROM Prog v3.02\r\n"}, {"dei\n", "b7bf\r\n"}, {"SSB4\n", ACK}});
  u.far->SetLine(19200);
  Converse(u, {{"Z31862.4\n", ACK}, {"Z\n", ""}, {"S", "SOLSTRAND K4v2 ISP"}});
  EXPECT_EQ(u.unit.Snapshot().main.program, Program::BootLoader);
}

// What the unit leaves in EEPROM for the installer's serial-number check.
struct SerialCase {
  const char* profile;
  std::string stored;  // what the serial number's place holds, 10 bytes from 0x40
  const char* valid;   // what UnitState::SerialNumber reads
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.profile; }

class SerialNumber : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumber, IsStoredAsTheProfileSays) {
  const SerialCase& c = GetParam();
  const sim::UnitState s = sim::Profile::ByName(c.profile).MakeState();
  EXPECT_EQ(std::string(s.main.eeprom.begin() + 0x40, s.main.eeprom.begin() + 0x4A), c.stored);
  EXPECT_EQ(s.SerialNumber(), c.valid);
}

std::string WithSum(const std::string& digits, int adjust = 0) {
  int sum = adjust;
  for (char ch : digits) sum += ch;
  std::string s = digits;
  if (s.size() < 8) s.push_back('\0');
  s.push_back(static_cast<char>(sum & 0xFF));
  s.push_back(static_cast<char>((sum >> 8) & 0xFF));
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, SerialNumber,
    ::testing::Values(SerialCase{"k4v", WithSum("10473921"), "10473921"},
                      SerialCase{"k4v-serial-placeholder", WithSum("01234567"), "01234567"},
                      SerialCase{"k4v-serial-bad-checksum", WithSum("10473921", 1), ""},
                      SerialCase{"k4v-serial-none", std::string(10, '\xFF'), ""}),
    [](const auto& info) {
      std::string name = info.param.profile;
      for (auto& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

}  // namespace
}  // namespace simtest
