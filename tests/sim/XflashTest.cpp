// The main board's external flash behind the debug mode and the programmer
// firmware: chip identification, CRCs, sector erase and page frames with
// their checks and status codes, and the faults of a programming run.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "engine/Crc32.h"
#include "tests/sim/FarEnd.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;
using sim::Program;

const std::string ACK = "\n";
const std::string INVALID = "Invalid Command\r\n";
const std::string DONE = "S\n";

std::string CrcText(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x\n", crc);
  return text;
}

// "dea" + LF and the frame: page (LE), 128 bytes, CRC-32 of both (LE).
std::string PageFrame(uint32_t page, const std::vector<uint8_t>& data, uint32_t crcAdjust = 0) {
  std::string body;
  body.push_back(static_cast<char>(page & 0xFF));
  body.push_back(static_cast<char>(page >> 8));
  body.append(data.begin(), data.end());
  const uint32_t crc = Crc32(body.data(), static_cast<uint32_t>(body.size())) + crcAdjust;
  std::string frame = "dea\n" + body;
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((crc >> (8 * i)) & 0xFF));
  return frame;
}

std::vector<uint8_t> PageData(uint8_t seed) {
  std::vector<uint8_t> d(128);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  d[10] = '\n';  // frames carry line ends as data
  d[11] = '\r';
  return d;
}

std::vector<uint8_t> Bytes(const sim::UnitState& s, size_t from, size_t count) {
  return {s.xflash.data.begin() + static_cast<long>(from), s.xflash.data.begin() + static_cast<long>(from + count)};
}

// A unit in its debug mode with its external flash writable.
struct WritableUnit : UnitOnLine {
  WritableUnit() : UnitOnLine("k4v-debug") {
    if (AskN("del0\n", 1) != ACK) throw std::runtime_error("del0 not acknowledged");
  }
};

struct ChipCase {
  const char* profile;
  const char* answer;
};

void PrintTo(const ChipCase& c, std::ostream* os) { *os << c.profile; }

class XflashChip : public ::testing::TestWithParam<ChipCase> {};

TEST_P(XflashChip, IdentifiesItself) {
  UnitOnLine u(GetParam().profile);
  EXPECT_EQ(u.AskN("D7096.8\n", 1), ACK);
  EXPECT_EQ(u.AskN("dei\n", 6), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Profiles, XflashChip,
                         ::testing::Values(ChipCase{"k4v", "b7bf\r\n"}, ChipCase{"k4v-xflash-a401", "a401\r\n"},
                                           ChipCase{"k4v-xflash-small", "b6bf\r\n"}),
                         [](const auto& info) {
                           std::string name = info.param.profile;
                           for (auto& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

// The CRCs of a range and of a page are those of the flash's bytes; the
// fields are lowercase hexadecimal of their width, within the chip.
TEST(XflashCrc, OfARangeAndOfAPage) {
  UnitOnLine u("k4v-debug");
  const sim::UnitState s = u.unit.Snapshot();
  const auto crcOf = [&](size_t from, size_t count) { return Crc32(s.xflash.data.data() + from, static_cast<uint32_t>(count)); };
  EXPECT_EQ(u.AskN("dec000000001000\n", 9), CrcText(crcOf(0, 0x1000)));
  EXPECT_EQ(u.AskN("dec06f000000f80\n", 9), CrcText(crcOf(0x6F000, 0xF80)));
  EXPECT_EQ(u.AskN("dec07ff80000080\n", 9), CrcText(crcOf(0x7FF80, 0x80)));  // the chip's last page
  EXPECT_EQ(u.AskN("deb0dfe\n", 9), CrcText(crcOf(3582 * 128, 128)));       // the directory page
  EXPECT_EQ(u.AskN("deb0fff\n", 9), CrcText(crcOf(4095 * 128, 128)));
  for (const char* bad : {"dec07ff80000081\n", "dec00000A001000\n", "dec00000000100\n", "dec0000000010000\n",
                          "deb1000\n", "deb0DFE\n", "deb dfe\n", "debdfe\n", "de\n", "dez\n"})
    EXPECT_EQ(u.AskN(bad, INVALID.size()), INVALID) << bad;
}

// Erase sets a sector to 0xFF; a page frame programs erased flash.
TEST(XflashWrite, EraseAndPageWrite) {
  WritableUnit u;
  EXPECT_EQ(u.AskN("ded0001\n", 2), DONE);
  sim::UnitState s = u.unit.Snapshot();
  EXPECT_EQ(Bytes(s, 4096, 4096), std::vector<uint8_t>(4096, 0xFF));
  EXPECT_NE(Bytes(s, 4095, 1)[0], 0xFF);  // page 31, in sector 0, holds the text table
  const auto data = PageData(5);
  EXPECT_EQ(u.AskN(PageFrame(33, data), 2), DONE);
  s = u.unit.Snapshot();
  EXPECT_EQ(Bytes(s, 33 * 128, 128), data);
  EXPECT_EQ(u.AskN("deb0021\n", 9), CrcText(Crc32(data.data(), 128)));
  const sim::MemoryCounters c = u.unit.Counters().memories.at("xflash");
  EXPECT_EQ(c.erased, 1u);
  EXPECT_EQ(c.written, 1u);
}

TEST(XflashWrite, SectorSizeFollowsTheChip) {
  UnitOnLine u("k4v-xflash-a401");
  EXPECT_EQ(AskEach(u, {{"D7096.8\n", 1}, {"del0\n", 1}}), ACK + ACK);
  EXPECT_EQ(u.AskN("ded0000\n", 2), DONE);
  const sim::UnitState s = u.unit.Snapshot();
  EXPECT_EQ(Bytes(s, 0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
  EXPECT_EQ(u.AskN("ded0008\n", 2), "E\n");  // 8 sectors of 64 KB
  EXPECT_EQ(u.AskN("ded0007\n", 2), DONE);
}

struct FrameCase {
  const char* name;
  std::string send;
  std::string answer;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class XflashChecks : public ::testing::TestWithParam<FrameCase> {};

// Every bad erase or frame gets a code other than "S" and changes nothing.
TEST_P(XflashChecks, RefuseABadCommand) {
  WritableUnit u;
  const sim::UnitState before = u.unit.Snapshot();
  EXPECT_EQ(u.AskN(GetParam().send, GetParam().answer.size()), GetParam().answer);
  EXPECT_EQ(u.unit.Snapshot().xflash.data, before.xflash.data);
  EXPECT_EQ(u.AskN("deb0000\n", 9), CrcText(Crc32(before.xflash.data.data(), 128)));  // still in step
}

INSTANTIATE_TEST_SUITE_P(
    Frames, XflashChecks,
    ::testing::Values(FrameCase{"frame_crc_wrong", PageFrame(4000, PageData(1), 1), "C\n"},
                      FrameCase{"page_beyond_the_chip", PageFrame(4096, PageData(1)), "E\n"},
                      FrameCase{"page_not_erased", PageFrame(0, std::vector<uint8_t>(128, 0xFF)), "V\n"},
                      FrameCase{"protected_again", "del1\n" + PageFrame(4000, PageData(1)), "\nP\n"},
                      FrameCase{"erase_sector_beyond", "ded0080\n", "E\n"},
                      FrameCase{"erase_uppercase", "ded000A\n", "E\n"},
                      FrameCase{"erase_short_field", "ded001\n", "E\n"},
                      FrameCase{"erase_protected", "del1\nded0001\n", "\nP\n"},
                      FrameCase{"dea_with_arguments", "dea0\n", INVALID}),
    [](const auto& info) { return std::string(info.param.name); });

// Nothing is erased or written before "del0".
TEST(XflashWrite, ProtectedUntilDel0) {
  UnitOnLine u("k4v-debug");
  const sim::UnitState before = u.unit.Snapshot();
  EXPECT_EQ(u.AskN("ded0001\n", 2), "P\n");
  EXPECT_EQ(u.AskN(PageFrame(4000, PageData(1)), 2), "P\n");
  EXPECT_EQ(u.unit.Snapshot().xflash.data, before.xflash.data);
  // Leaving the debug mode ends the write permission too.
  EXPECT_EQ(AskEach(u, {{"del0\n", 1}, {"dx\n", 1}, {"D7096.8\n", 1}}), ACK + ACK + ACK);
  EXPECT_EQ(u.AskN("ded0001\n", 2), "P\n");
}

// A frame whose bytes stop coming is dropped; the frame sent again goes
// through.
TEST(XflashWrite, UnfinishedFrameIsDropped) {
  WritableUnit u;
  const std::string frame = PageFrame(4000, PageData(2));
  EXPECT_EQ(u.Ask(frame.substr(0, 60)), "");
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(u.Ask(frame), DONE);
  EXPECT_EQ(Bytes(u.unit.Snapshot(), 4000 * 128, 128), PageData(2));
}

// The programmer firmware serves the same commands.
TEST(XflashWrite, ThroughTheProgrammerFirmware) {
  UnitOnLine u("k4v-programmer");
  EXPECT_EQ(u.AskN("del0\n", 1), ACK);
  EXPECT_EQ(u.AskN("ded006f\n", 2), DONE);
  EXPECT_EQ(u.AskN(PageFrame(3582, PageData(3)), 2), DONE);
  EXPECT_EQ(Bytes(u.unit.Snapshot(), 3582 * 128, 128), PageData(3));
  EXPECT_EQ(u.AskN("del1\n", 1), ACK);
}

// The faults of an external flash programming run.
TEST(XflashFaults, EraseAnsweredOne) {
  WritableUnit u;
  sim::FaultSettings f;
  f.xflashEraseAnsweredOne = sim::FaultPoint{};
  u.unit.SetFaults(f);
  EXPECT_EQ(u.AskN("ded0002\n", 2), "1\n");
  EXPECT_EQ(Bytes(u.unit.Snapshot(), 8192, 4096), std::vector<uint8_t>(4096, 0xFF));
  EXPECT_EQ(u.AskN("ded0002\n", 2), DONE);
}

struct PageAnswerCase {
  const char* name;
  sim::PageWriteAnswer kind;
  std::string answer;
  bool written;
};

void PrintTo(const PageAnswerCase& c, std::ostream* os) { *os << c.name; }

class XflashPageAnswer : public ::testing::TestWithParam<PageAnswerCase> {};

TEST_P(XflashPageAnswer, StrikesTheChosenPage) {
  const PageAnswerCase& c = GetParam();
  WritableUnit u;
  sim::FaultSettings f;
  f.xflashPageAnswerFault = sim::FaultPoint{4001, 1, 1};
  f.xflashPageAnswer = c.kind;
  u.unit.SetFaults(f);
  EXPECT_EQ(u.AskN(PageFrame(4000, PageData(1)), 2), DONE);
  EXPECT_EQ(u.Ask(PageFrame(4001, PageData(2))), c.answer);
  EXPECT_EQ(Bytes(u.unit.Snapshot(), 4001 * 128, 128) == PageData(2), c.written);
  EXPECT_EQ(u.AskN(PageFrame(4001, PageData(2)), 2), DONE);  // the page sent again
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, XflashPageAnswer,
    ::testing::Values(PageAnswerCase{"lf_then_status", sim::PageWriteAnswer::LfThenStatus, "\nS", true},
                      PageAnswerCase{"lf_then_zero", sim::PageWriteAnswer::LfThenZero, std::string("\n\0", 2), true},
                      PageAnswerCase{"none", sim::PageWriteAnswer::None, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Silent after the pages the fault names, until a power cycle brings the
// application back.
TEST(XflashFaults, SilentInTheMiddleOfTheWrites) {
  WritableUnit u;
  sim::FaultSettings f;
  f.silentAfterXflashPages = 2;
  u.unit.SetFaults(f);
  EXPECT_EQ(u.AskN(PageFrame(4000, PageData(1)), 2), DONE);
  EXPECT_EQ(u.AskN(PageFrame(4001, PageData(2)), 2), DONE);
  EXPECT_EQ(u.Ask(PageFrame(4002, PageData(3))), "");
  EXPECT_EQ(u.Ask("dx\n"), "");
  u.unit.PowerOff();
  u.unit.PowerOn();
  const sim::UnitState s = u.unit.Snapshot();
  EXPECT_EQ(s.main.program, Program::Application);
  EXPECT_FALSE(s.xflash.writable);
  EXPECT_EQ(Bytes(s, 4002 * 128, 128), std::vector<uint8_t>(128, 0xFF));
  EXPECT_EQ(u.AskN("?\n", APP_IDENT_LINE.size()), APP_IDENT_LINE);
}

// A CRC answer damaged at a chosen page.
TEST(XflashFaults, PageCrcAnswerGarbled) {
  UnitOnLine u("k4v-debug");
  const sim::UnitState s = u.unit.Snapshot();
  sim::FaultSettings f;
  f.answerDamage.push_back(sim::AnswerDamage{"deb", sim::FaultPoint{7, 1, 1}, 8, false});
  u.unit.SetFaults(f);
  const std::string good = CrcText(Crc32(s.xflash.data.data() + 7 * 128, 128));
  EXPECT_EQ(u.AskN("deb0006\n", 9), CrcText(Crc32(s.xflash.data.data() + 6 * 128, 128)));
  EXPECT_EQ(u.AskN("deb0007\n", 9), good.substr(0, 8) + "\x0B");
  EXPECT_EQ(u.AskN("deb0007\n", 9), good);
}

}  // namespace
}  // namespace simtest
