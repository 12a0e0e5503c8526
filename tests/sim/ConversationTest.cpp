// Conversations with the unit's programs: the commands that identify them and
// the nudges that move the main processor between them.
#include <gtest/gtest.h>

#include <vector>

#include "tests/sim/FarEnd.h"

namespace simtest {
namespace {

using sim::Program;

struct Step {
  uint32_t baud;  // the far end's rate for this step; 0 keeps it
  std::string send;
  std::string answer;
};

struct ConversationCase {
  const char* name;
  const char* profile;
  uint32_t startBaud;
  std::vector<Step> steps;
  Program program;  // what runs afterwards
  uint32_t lineBaud;
};

void PrintTo(const ConversationCase& c, std::ostream* os) { *os << c.name; }

const std::string PROGRAMMER_IDENT_LINE = "Solstrand K4v EEPROM Prog v3.02\r\n";
const std::string INVALID = "Invalid Command\r\n";

class Conversation : public ::testing::TestWithParam<ConversationCase> {};

TEST_P(Conversation, GoesAsTheUnitWould) {
  const ConversationCase& c = GetParam();
  UnitOnLine u(c.profile);
  u.far->SetLine(c.startBaud);
  for (size_t i = 0; i < c.steps.size(); ++i) {
    const Step& s = c.steps[i];
    if (s.baud) u.far->SetLine(s.baud);
    EXPECT_EQ(u.Ask(s.send), s.answer) << "step " << i << ": " << sim::EscapeBytes(s.send);
  }
  const sim::UnitState st = u.unit.Snapshot();
  EXPECT_EQ(st.main.program, c.program) << sim::ProgramName(st.main.program);
  EXPECT_EQ(st.main.lineBaud, c.lineBaud);
  EXPECT_EQ(u.unit.ConformanceErrors(), 0u);
}

const std::string LONG_LINE = std::string(300, 'A') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Programs, Conversation,
    ::testing::Values(
        // The application.
        ConversationCase{"application_ignores_wake_up", "k4v", 19200,
                         {{0, "\n", ""}, {0, "?\n", APP_IDENT_LINE}}, Program::Application, 19200},
        ConversationCase{"application_refuses_unknown_and_overlong_lines", "k4v", 19200,
                         {{0, "P9Q\n", INVALID}, {0, LONG_LINE, INVALID}, {0, "?\n", APP_IDENT_LINE}},
                         Program::Application, 19200},
        ConversationCase{"application_jumps_into_loader", "k4v", 19200,
                         {{0, "Z31862.4\n", "\n"}, {0, "\n", ""}, {0, "Z\n", ""}, {0, "?\n", "??"}},
                         Program::BootLoader, 19200},
        ConversationCase{"jump_needs_both_steps_in_a_row", "k4v", 19200,
                         {{0, "Z\n", INVALID}, {0, "Z31862.4\n", "\n"}, {0, "?\n", APP_IDENT_LINE}, {0, "Z\n", INVALID}},
                         Program::Application, 19200},
        ConversationCase{"application_at_57600_jumps_to_loader_at_19200", "k4v-57600", 57600,
                         {{0, "Z31862.4\n", "\n"}, {0, "Z\n", ""}, {0, "?\n", ""}, {19200, "?\n", "??"}},
                         Program::BootLoader, 19200},
        ConversationCase{"application_enters_and_leaves_debug_mode", "k4v", 19200,
                         {{0, "D7096.8\n", "\n"}, {0, "?\n", INVALID}, {0, "dx\n", "\n"}, {0, "?\n", APP_IDENT_LINE}},
                         Program::Application, 19200},
        ConversationCase{"application_acknowledges_the_escape", "k4v", 19200,
                         {{0, "@0\n", "\n"}, {0, "?\n", APP_IDENT_LINE}}, Program::Application, 19200},
        // The debug mode.
        ConversationCase{"debug_mode_refuses_unknown", "k4v-debug", 19200,
                         {{0, "xyz\n", INVALID}, {0, "D7096.8\n", "\n"}}, Program::DebugMode, 19200},
        ConversationCase{"debug_mode_escape_returns_to_application", "k4v-debug", 19200,
                         {{0, "@0\n", "\n"}, {0, "?\n", APP_IDENT_LINE}}, Program::Application, 19200},
        ConversationCase{"debug_mode_starts_loader", "k4v-debug", 19200,
                         {{0, "gwyr28\n", "\n"}, {0, "?\n", "??"}}, Program::BootLoader, 19200},
        ConversationCase{"debug_mode_at_57600_starts_loader_at_19200", "k4v-57600", 57600,
                         {{0, "D7096.8\n", "\n"}, {0, "gwyr28\n", "\n"}, {0, "?\n", ""}, {19200, "?\n", "??"}},
                         Program::BootLoader, 19200},
        // The boot loader.
        ConversationCase{"loader_identifies", "k4v-loader", 19200,
                         {{0, "S", "SOLSTRAND K4v2 ISP"}, {0, "V", "35"}, {0, "q", "?"}}, Program::BootLoader, 19200},
        ConversationCase{"loader_answering_query_with_identification", "k4v-loader-ident", 19200,
                         {{0, "?\n", "SOLSTRAND K4v2 ISP"}, {0, "\n", ""}, {0, "S", "SOLSTRAND K4v2 ISP"}},
                         Program::BootLoader, 19200},
        ConversationCase{"rev3_loader", "k4v-rev3-loader", 19200, {{0, "S", "SOLSTRAND K4v3 ISP"}, {0, "V", "35"}},
                         Program::BootLoader, 19200},
        ConversationCase{"version_201_loader", "k4v-loader201", 19200, {{0, "V", "21"}}, Program::BootLoader, 19200},
        ConversationCase{"loader_names_240v_variant", "k4v-240v", 19200,
                         {{0, "Z31862.4\n", "\n"}, {0, "Z\n", ""}, {0, "S", "SOLSTRAND K4v2 ISP 240V"}},
                         Program::BootLoader, 19200},
        ConversationCase{"loader_starts_application", "k4v-loader", 19200,
                         {{0, "X", "\r"}, {0, "?\n", APP_IDENT_LINE}}, Program::Application, 19200},
        ConversationCase{"loader_starts_application_at_its_own_rate", "k4v-57600", 57600,
                         {{0, "Z31862.4\n", "\n"}, {0, "Z\n", ""}, {19200, "X", "\r"}, {57600, "?\n", APP_IDENT_LINE}},
                         Program::Application, 57600},
        ConversationCase{"loader_starts_programmer_firmware", "k4v-programmer", 19200,
                         {{0, "Z31862.4\n", "\n"}, {0, "Z\n", ""}, {0, "?\n", "??"}, {0, "X", "\r"},
                          {0, "?\n", PROGRAMMER_IDENT_LINE}},
                         Program::Programmer, 19200},
        ConversationCase{"blank_unit_stays_in_loader", "k4v-blank", 19200,
                         {{0, "X", "\r"}, {0, "?\n", "??"}}, Program::BootLoader, 19200},
        // The programmer firmware.
        ConversationCase{"programmer_acknowledges_exit_commands", "k4v-programmer", 19200,
                         {{0, "dx\n", "\n"}, {0, "@0\n", "\n"}, {0, "?\n", PROGRAMMER_IDENT_LINE}, {0, "foo\n", INVALID}},
                         Program::Programmer, 19200},
        // The video board's loader.
        ConversationCase{"video_board_loader", "k4v-video-loader", 19200,
                         {{0, "\n", ""}, {0, "?\n", "!\n"}, {0, "V\n", "DVB BOOT GF9452v 0.24\r\n"}, {0, "b\n", "!\n"}},
                         Program::VideoBoardLoader, 19200}),
    [](const auto& info) { return std::string(info.param.name); });

struct StartCase {
  const char* name;
  void (*change)(sim::UnitState&);
  Program program;
  const char* answer;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class LoaderStart : public ::testing::TestWithParam<StartCase> {};

// "X" is always acknowledged; the loader hands over only to a programmed flash
// that identifies itself.
TEST_P(LoaderStart, StartsOnlyAProgrammedIdentifiedFlash) {
  UnitOnLine u("k4v-loader");
  u.unit.Mutate(GetParam().change);
  EXPECT_EQ(u.Ask("X"), "\r");
  EXPECT_EQ(u.unit.Snapshot().main.program, GetParam().program);
  EXPECT_EQ(u.Ask("?\n"), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Flash, LoaderStart,
    ::testing::Values(
        StartCase{"programmed", [](sim::UnitState&) {}, Program::Application, "Solstrand K4v v3.02\r\n"},
        StartCase{"one_mark_missing", [](sim::UnitState& s) { s.main.eeprom[1] = 0x00; }, Program::BootLoader, "??"},
        StartCase{"no_identification",
                  [](sim::UnitState& s) { std::fill(s.main.flash.begin(), s.main.flash.begin() + 4096, 0xFF); },
                  Program::BootLoader, "??"},
        StartCase{"identification_beyond_first_4096_bytes",
                  [](sim::UnitState& s) {
                    std::fill(s.main.flash.begin(), s.main.flash.end(), 0xFF);
                    const std::string text = "$IDENTSolstrand K4v v9.99";
                    std::copy(text.begin(), text.end(), s.main.flash.begin() + 4096);
                    s.main.flash[4096 + text.size()] = 0;
                  },
                  Program::BootLoader, "??"},
        StartCase{"chosen_identification",
                  [](sim::UnitState& s) {
                    std::fill(s.main.flash.begin(), s.main.flash.end(), 0xFF);
                    const std::string text = "$IDENTQOR 60v v1.17";
                    std::copy(text.begin(), text.end(), s.main.flash.begin() + 0x100);
                    s.main.flash[0x100 + text.size()] = 0;
                  },
                  Program::Application, "QOR 60v v1.17\r\n"},
        StartCase{"unterminated_identification",
                  [](sim::UnitState& s) {
                    std::fill(s.main.flash.begin(), s.main.flash.end(), 'A');
                    const std::string text = "$IDENTSolstrand K4v v3.02";
                    std::copy(text.begin(), text.end(), s.main.flash.begin());
                  },
                  Program::BootLoader, "??"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace simtest
