// The main processor's boot loader: its rate, signature, programming mode,
// flash pages written and read back, EEPROM bytes, fuses, the start of what
// it programmed, and the faults of a programming run.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/sim/FarEnd.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;
using sim::Program;

const std::string CR = "\r";

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}


// The installer's way of writing one page: extended address, address 0,
// eight blocks of 16 words (high byte first), then the page write. Returns
// the answers, one CR per command when all went well.
std::string WritePage(UnitOnLine& u, uint32_t page, const std::vector<uint16_t>& words) {
  const uint32_t word = page * 128;
  std::string answers = AskEach(u, {{Bytes({'n', static_cast<int>(word >> 16)}), 1}, {Bytes({'a', 0, 0}), 1}});
  for (int b = 0; b < 8; ++b) {
    std::string block = Bytes({'C', 0x10});
    for (int i = 0; i < 16; ++i) {
      const uint16_t w = words[b * 16 + i];
      block += Bytes({w >> 8, w & 0xFF});
    }
    answers += u.AskN(block, 1);
  }
  return answers + u.AskN(Bytes({'m', static_cast<int>((word >> 8) & 0xFF), static_cast<int>(word & 0xFF)}), 1);
}

uint16_t ReadWord(UnitOnLine& u) {
  const std::string a = u.AskN("R", 2);
  if (a.size() != 2) throw std::runtime_error("no answer to R");
  return static_cast<uint16_t>((static_cast<uint8_t>(a[0]) << 8) | static_cast<uint8_t>(a[1]));
}

void SetWordAddress(UnitOnLine& u, uint32_t word) {
  ASSERT_EQ(u.AskN(Bytes({'n', static_cast<int>(word >> 16)}), 1), CR);
  ASSERT_EQ(u.AskN(Bytes({'a', static_cast<int>((word >> 8) & 0xFF), static_cast<int>(word & 0xFF)}), 1), CR);
}

std::vector<uint16_t> Pattern(uint16_t seed) {
  std::vector<uint16_t> words(128);
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(seed * 0x9E37 + i * 0x0101 + 1);
  return words;
}

uint16_t FlashWord(const sim::UnitState& s, uint32_t word) {
  return static_cast<uint16_t>(s.main.flash[2 * word] | (s.main.flash[2 * word + 1] << 8));
}

// A page above 64 K words, written into erased flash and read back word by
// word; the state holds the words low byte first, as they lie in flash.
TEST(LoaderFlash, PageIsWrittenAndReadBack) {
  UnitOnLine u("k4v-loader");
  EXPECT_EQ(u.AskN("P", 1), CR);
  EXPECT_EQ(u.AskN("e", 1), CR);
  const sim::UnitState erased = u.unit.Snapshot();
  EXPECT_EQ(std::count(erased.main.flash.begin(), erased.main.flash.end(), 0xFF), static_cast<long>(sim::MAIN_FLASH_BYTES));

  const uint32_t page = 0x205;  // word 0x10280: extended address 1
  const auto words = Pattern(7);
  EXPECT_EQ(WritePage(u, page, words), std::string(11, '\r'));

  const sim::UnitState s = u.unit.Snapshot();
  for (uint32_t i = 0; i < 128; ++i) ASSERT_EQ(FlashWord(s, page * 128 + i), words[i]) << i;
  EXPECT_EQ(FlashWord(s, page * 128 - 1), 0xFFFF);
  EXPECT_EQ(FlashWord(s, page * 128 + 128), 0xFFFF);

  SetWordAddress(u, page * 128);
  for (uint32_t i = 0; i < 128; ++i) ASSERT_EQ(ReadWord(u), words[i]) << i;
  // The same page without the extended address is another page, still erased.
  SetWordAddress(u, (page * 128) & 0xFFFF);
  EXPECT_EQ(ReadWord(u), 0xFFFF);

  const sim::MemoryCounters c = u.unit.Counters().memories.at("main-flash");
  EXPECT_EQ(c.erased, 1u);
  EXPECT_EQ(c.written, 1u);
  EXPECT_EQ(c.read, 129u);
}

// Flash bits only go from 1 to 0: a page written without an erase keeps the
// zeros it had.
TEST(LoaderFlash, WriteWithoutEraseOnlyClearsBits) {
  UnitOnLine u("k4v-loader");
  const sim::UnitState before = u.unit.Snapshot();
  EXPECT_EQ(u.AskN("P", 1), CR);
  const auto words = Pattern(3);
  EXPECT_EQ(WritePage(u, 0, words), std::string(11, '\r'));
  const sim::UnitState after = u.unit.Snapshot();
  for (uint32_t i = 0; i < 128; ++i) EXPECT_EQ(FlashWord(after, i), FlashWord(before, i) & words[i]) << i;
}

// Nothing is written outside the programming mode: "P" enters it, "y"
// leaves it. Reading needs no programming mode.
TEST(LoaderFlash, WritesNeedTheProgrammingMode) {
  UnitOnLine u("k4v-loader");
  const sim::UnitState before = u.unit.Snapshot();
  const std::vector<std::string> writes = {"e", Bytes({'m', 0, 0}), Bytes({'d', 0x12}), Bytes({'f', 0xB7}),
                                           Bytes({'g', 0}), Bytes({'j', 0})};
  for (const auto& w : writes) EXPECT_EQ(u.AskN(w, 1), "?") << sim::EscapeBytes(w);
  EXPECT_EQ(u.unit.Snapshot(), before);
  EXPECT_EQ(u.AskN("P", 1), CR);
  EXPECT_EQ(u.AskN(Bytes({'a', 0, 0x10}), 1), CR);
  EXPECT_EQ(u.AskN(Bytes({'d', 0x12}), 1), CR);
  EXPECT_EQ(u.AskN("y", 1), CR);
  EXPECT_EQ(u.AskN(Bytes({'d', 0x34}), 1), "?");
  EXPECT_EQ(u.unit.Snapshot().main.eeprom[0x10], 0x12);
  EXPECT_EQ(u.AskN("x", 1), CR);  // before a read-back: acknowledged, changes nothing
  EXPECT_EQ(AskEach(u, {{Bytes({'a', 0, 0}), 1}, {"R", 2}}),
            CR + Bytes({before.main.flash[1], before.main.flash[0]}));
}

// EEPROM bytes: the address advances after every read and write, so the
// installer sets it before each.
TEST(LoaderEeprom, BytesAreReadAndWrittenAtTheAddress) {
  UnitOnLine u("k4v-loader");
  EXPECT_EQ(u.AskN(Bytes({'a', 0, 0}), 1), CR);
  EXPECT_EQ(AskEach(u, {{"D", 1}, {"D", 1}, {"D", 1}}), Bytes({0x76, 0x76, 0x04}));
  EXPECT_EQ(u.AskN("P", 1), CR);
  EXPECT_EQ(AskEach(u, {{Bytes({'a', 0x0F, 0xFF}), 1}, {Bytes({'d', 0xA5}), 1}}), CR + CR);
  EXPECT_EQ(AskEach(u, {{Bytes({'a', 0x0F, 0xFF}), 1}, {"D", 1}}), CR + Bytes({0xA5}));
  EXPECT_EQ(u.unit.Snapshot().main.eeprom[0xFFF], 0xA5);
  // The serial number of the profile, read as the installer reads it.
  EXPECT_EQ(u.AskN(Bytes({'a', 0, 0x40}), 1), CR);
  std::string serial;
  for (int i = 0; i < 10; ++i) serial += u.AskN("D", 1);
  uint16_t sum = 0;
  for (char c : std::string("10473921")) sum = static_cast<uint16_t>(sum + c);
  EXPECT_EQ(serial, "10473921" + Bytes({sum & 0xFF, sum >> 8}));
  const sim::MemoryCounters c = u.unit.Counters().memories.at("main-eeprom");
  EXPECT_EQ(c.written, 1u);
  EXPECT_EQ(c.read, 14u);
}

TEST(LoaderFuses, AreReadAndWritten) {
  UnitOnLine u("k4v-loader");
  EXPECT_EQ(AskEach(u, {{"F", 1}, {"G", 1}, {"J", 1}}), Bytes({0xD0, 0xD1, 0xFF}));
  EXPECT_EQ(u.AskN("P", 1), CR);
  EXPECT_EQ(AskEach(u, {{Bytes({'f', 0xB7}), 1}, {Bytes({'g', 0x11}), 1}, {Bytes({'j', 0xFE}), 1}}), CR + CR + CR);
  EXPECT_EQ(AskEach(u, {{"F", 1}, {"G", 1}, {"J", 1}}), Bytes({0xB7, 0x11, 0xFE}));
  EXPECT_EQ((u.unit.Snapshot().main.fuses), (std::array<uint8_t, 3>{0xB7, 0x11, 0xFE}));
  EXPECT_EQ(u.unit.Counters().memories.at("fuses").written, 3u);
}

struct SignatureCase {
  const char* profile;
  std::string answer;  // last byte first
};

void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.profile; }

class LoaderSignature : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(LoaderSignature, IsReportedLastByteFirst) {
  UnitOnLine u(GetParam().profile);
  EXPECT_EQ(u.AskN("s", 3), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Profiles, LoaderSignature,
                         ::testing::Values(SignatureCase{"k4v-loader", Bytes({0x02, 0x98, 0x1E})},
                                           SignatureCase{"k4v-loader201", Bytes({0x01, 0x97, 0x1E})},
                                           SignatureCase{"k4v-wrong-signature", Bytes({0x04, 0x97, 0x1E})}),
                         [](const auto& info) {
                           std::string name = info.param.profile;
                           for (auto& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

struct RateCase {
  const char* name;
  const char* version;  // the loader's version characters
  int divisor;
  std::string answer;   // at the old rate
  uint32_t rate;        // where the loader listens afterwards
};

void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }

class LoaderRate : public ::testing::TestWithParam<RateCase> {};

// "h" + divisor: acknowledged at the old rate; the divisors depend on the
// loader's version, and a loader below version 2.00 has no such command.
TEST_P(LoaderRate, ChangesByDivisorOfItsVersion) {
  const RateCase& c = GetParam();
  UnitOnLine u("k4v-loader");
  u.unit.Mutate([&](sim::UnitState& s) { s.main.loader.versionDigits = c.version; });
  EXPECT_EQ(u.AskN(Bytes({'h', c.divisor}), 1), c.answer);
  EXPECT_EQ(u.unit.Snapshot().main.lineBaud, c.rate);
  u.far->SetLine(c.rate);
  EXPECT_EQ(u.AskN("S", 18), "SOLSTRAND K4v2 ISP");
  EXPECT_EQ(u.unit.Counters().wrongRateExchanges, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LoaderRate,
    ::testing::Values(RateCase{"v305_up", "35", 0x04, CR, 115200}, RateCase{"v305_stays", "35", 0x1D, CR, 19200},
                      RateCase{"v300_up", "30", 0x04, CR, 115200},
                      RateCase{"v305_refuses_2xx_divisor", "35", 0x01, "?", 19200},
                      RateCase{"v201_up", "21", 0x01, CR, 115200}, RateCase{"v201_stays", "21", 0x0B, CR, 19200},
                      RateCase{"v201_refuses_3xx_divisor", "21", 0x04, "?", 19200},
                      RateCase{"v105_has_no_rate_command", "15", 0x04, "?", 19200}),
    [](const auto& info) { return std::string(info.param.name); });

// A loader left at 115200 by an interrupted installation answers only there,
// and comes back down with the slow divisor.
TEST(LoaderRate, LoaderLeftAtHighSpeedComesDown) {
  UnitOnLine u("k4v-loader-115200");
  EXPECT_EQ(u.Ask("S"), "");
  u.far->SetLine(115200);
  EXPECT_EQ(u.AskN("S", 18), "SOLSTRAND K4v2 ISP");
  EXPECT_EQ(u.AskN(Bytes({'h', 0x1D}), 1), CR);
  u.far->SetLine(19200);
  EXPECT_EQ(u.AskN("V", 2), "35");
}

// Arguments the loader refuses, and a command whose argument bytes stop
// coming: dropped, so that the next command is understood.
TEST(LoaderCommands, RefusesBadArgumentsAndDropsAnUnfinishedCommand) {
  UnitOnLine u("k4v-loader");
  EXPECT_EQ(u.AskN(Bytes({'n', 2}), 1), "?");  // the flash has 0x20000 words
  EXPECT_EQ(u.AskN(Bytes({'C', 0}), 1), "?");
  EXPECT_EQ(u.AskN(Bytes({'C', 129}), 1), "?");
  EXPECT_EQ(u.Ask(Bytes({'a', 0x01})), "");  // one of its two address bytes
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(u.AskN("V", 2), "35");
}

// After a programming run the loader starts what it wrote: the programmer
// firmware, once the EEPROM holds the programmed marks again.
TEST(LoaderFlash, StartsTheProgramItWrote) {
  UnitOnLine u("k4v-loader");
  const sim::UnitState programmer = sim::Profile::ByName("k4v-programmer").MakeState();
  EXPECT_EQ(AskEach(u, {{"P", 1}, {"e", 1}}), CR + CR);
  EXPECT_EQ(AskEach(u, {{Bytes({'a', 0, 0}), 1}, {Bytes({'d', 0}), 1}, {Bytes({'d', 0}), 1}}), CR + CR + CR);
  const uint32_t pages = 14336 / 256;
  for (uint32_t p = 0; p < pages; ++p) {
    std::vector<uint16_t> words(128);
    for (uint32_t i = 0; i < 128; ++i) words[i] = FlashWord(programmer, p * 128 + i);
    ASSERT_EQ(WritePage(u, p, words), std::string(11, '\r')) << "page " << p;
  }
  EXPECT_EQ(u.unit.Snapshot().main.flash, programmer.main.flash);
  // Marks still cleared: the loader keeps running, started afresh (out of the
  // programming mode).
  EXPECT_EQ(u.AskN("X", 1), CR);
  EXPECT_EQ(u.unit.Snapshot().main.program, Program::BootLoader);
  EXPECT_EQ(u.AskN(Bytes({'d', 0x76}), 1), "?");
  EXPECT_EQ(AskEach(u, {{"P", 1}, {Bytes({'a', 0, 0}), 1}, {Bytes({'d', 0x76}), 1}, {Bytes({'d', 0x76}), 1}}), CR + CR + CR + CR);
  EXPECT_EQ(AskEach(u, {{"y", 1}, {"X", 1}}), CR + CR);
  EXPECT_EQ(u.AskN("?\n", 33), "Solstrand K4v EEPROM Prog v3.02\r\n");
  EXPECT_EQ(u.unit.Snapshot().main.program, Program::Programmer);
  EXPECT_EQ(u.unit.Counters().memories.at("main-flash").written, pages);
}

// A block that is not acknowledged: once (the page is sent again and goes
// through) or every time for its page.
TEST(LoaderFaults, BlockNotAcknowledged) {
  UnitOnLine u("k4v-loader");
  sim::FaultSettings f;
  f.flashBlockUnacknowledged = sim::FaultPoint{1, 2, 1};  // the second block of the second page written, once
  u.unit.SetFaults(f);
  EXPECT_EQ(AskEach(u, {{"P", 1}, {"e", 1}}), CR + CR);
  EXPECT_EQ(WritePage(u, 2, Pattern(2)), std::string(11, '\r'));
  const std::string block = Bytes({'C', 0x10}) + std::string(32, '\x5A');
  EXPECT_EQ(AskEach(u, {{Bytes({'n', 0}), 1}, {Bytes({'a', 0, 0}), 1}}), CR + CR);
  EXPECT_EQ(u.AskN(block, 1), CR);
  EXPECT_EQ(u.Ask(block), "");
  // The installer sends the page again from its start.
  EXPECT_EQ(WritePage(u, 3, Pattern(3)), std::string(11, '\r'));
  EXPECT_EQ(FlashWord(u.unit.Snapshot(), 3 * 128 + 20), Pattern(3)[20]);

  f.flashBlockUnacknowledged = sim::FaultPoint{2, 1, 0};  // every block of the third page written
  u.unit.SetFaults(f);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(AskEach(u, {{Bytes({'n', 0}), 1}, {Bytes({'a', 0, 0}), 1}}), CR + CR);
    EXPECT_EQ(u.Ask(Bytes({'C', 1, 0x12, 0x34})), "");
  }
  // Once a page is written the next one is loaded again.
  EXPECT_EQ(u.AskN(Bytes({'m', 0x02, 0x80}), 1), CR);
  EXPECT_EQ(AskEach(u, {{Bytes({'a', 0, 0}), 1}, {Bytes({'C', 1, 0x12, 0x34}), 1}}), CR + CR);
}

// The unit goes silent after the pages the fault names, and comes back at
// power-up in its loader: the flash was erased, the marks cleared.
TEST(LoaderFaults, SilentInTheMiddleOfTheWritesUntilPowerCycled) {
  UnitOnLine u("k4v-loader");
  sim::FaultSettings f;
  f.silentAfterFlashPages = 2;
  u.unit.SetFaults(f);
  EXPECT_EQ(AskEach(u, {{"P", 1}, {"e", 1}}), CR + CR);
  EXPECT_EQ(AskEach(u, {{Bytes({'a', 0, 0}), 1}, {Bytes({'d', 0}), 1}}), CR + CR);
  EXPECT_EQ(WritePage(u, 0, Pattern(0)), std::string(11, '\r'));
  EXPECT_EQ(WritePage(u, 1, Pattern(1)), std::string(11, '\r'));  // the second page is still acknowledged
  EXPECT_FALSE(u.unit.Snapshot().powered);
  EXPECT_EQ(u.Ask(Bytes({'n', 0})), "");
  EXPECT_EQ(u.Ask("S"), "");
  u.unit.PowerOff();
  u.unit.PowerOn();
  EXPECT_EQ(u.unit.Snapshot().main.program, Program::BootLoader);
  EXPECT_EQ(u.AskN("S", 18), "SOLSTRAND K4v2 ISP");
  EXPECT_EQ(FlashWord(u.unit.Snapshot(), 128 + 5), Pattern(1)[5]);
}

// A read-back answer with one byte garbled at a chosen word, once.
TEST(LoaderFaults, ReadBackGarbledAtAChosenWord) {
  UnitOnLine u("k4v-loader");
  const sim::UnitState s = u.unit.Snapshot();
  sim::FaultSettings f;
  f.answerDamage.push_back(sim::AnswerDamage{"R", sim::FaultPoint{0x101, 1, 1}, 1, false});
  u.unit.SetFaults(f);
  SetWordAddress(u, 0x100);
  EXPECT_EQ(ReadWord(u), FlashWord(s, 0x100));
  EXPECT_EQ(ReadWord(u), FlashWord(s, 0x101) ^ 0x0001);
  SetWordAddress(u, 0x101);
  EXPECT_EQ(ReadWord(u), FlashWord(s, 0x101));
  // A lost byte: the answer is one byte short.
  f.answerDamage = {sim::AnswerDamage{"R", sim::FaultPoint{}, 0, true}};
  u.unit.SetFaults(f);
  EXPECT_EQ(u.Ask("R"), std::string(1, static_cast<char>(FlashWord(s, 0x102) & 0xFF)));
}

// The serving thread's real-time request is granted or refused; either way
// the loader answers the byte commands straight away.
TEST(LoaderTiming, AnswersWithAndWithoutRealTimeScheduling) {
  for (bool ask : {false, true}) {
    sim::VirtualUnit unit(sim::Profile::ByName("k4v-loader"));
    unit.SetRealTimeScheduling(ask);
    ASSERT_TRUE(unit.Start());
    FarEnd far(unit.TerminalPath());
    far.SetLine(19200);
    if (!ask) {
      EXPECT_FALSE(unit.RealTimeScheduling());
    }
    for (int i = 0; i < 50; ++i) {
      far.Send(Bytes({'a', 0, i}));
      ASSERT_EQ(far.ReadCount(1), CR);
      far.Send("D");
      ASSERT_EQ(far.ReadCount(1).size(), 1u);
    }
  }
}

}  // namespace
}  // namespace simtest
