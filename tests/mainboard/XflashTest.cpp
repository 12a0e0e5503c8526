// The main board's external flash, against the virtual unit.
#include "mainboard/Xflash.h"
#include "tests/support/UnitFixture.h"

#include <cstring>

namespace {

struct NullProgress : CProgCtrl {
  int32_t upper = -1, lastPos = -1;
  std::vector<int32_t> shows;
  void SetRange(int32_t, int32_t u) override { upper = u; }
  void SetPos(int32_t p) override { lastPos = p; }
  void Show(int32_t cmd) override { shows.push_back(cmd); }
};

// Received commands of one kind, in order ("ded": the sector numbers).
std::vector<std::string> Commands(const sim::VirtualUnit& unit, const std::string& prefix, size_t length) {
  std::vector<std::string> found;
  for (const auto& e : unit.Transcript()) {
    if (e.kind != sim::TranscriptEntry::Kind::Received) continue;
    for (size_t at = e.bytes.find(prefix); at != std::string::npos; at = e.bytes.find(prefix, at + 1))
      found.push_back(e.bytes.substr(at, length));
  }
  return found;
}

// Page numbers of the page frames the unit received, in order.
std::vector<uint32_t> PagesWritten(const sim::VirtualUnit& unit) {
  std::vector<uint32_t> pages;
  for (const auto& frame : Commands(unit, "dea\n", 6))
    if (frame.size() == 6) pages.push_back(static_cast<uint8_t>(frame[4]) | (static_cast<uint8_t>(frame[5]) << 8));
  return pages;
}

class XflashTest : public k4vtest::UnitFixture {
 protected:
  // A unit of the profile on COM1 whose external flash is erased, and a
  // connection check that tells the installer what runs.
  sim::VirtualUnit& Unit(const std::string& profile, bool erased = true) {
    port.ClosePort();
    port.ResetUnitState();
    auto& unit = AddUnit(1, profile);
    if (erased) unit.Mutate([](sim::UnitState& s) { std::fill(s.xflash.data.begin(), s.xflash.data.end(), 0xFF); });
    Use(1);
    EXPECT_EQ(port.CheckConnectTo(0), 1);
    port.ClosePort();
    image.assign(xflash::XFLASH_IMAGE_SIZE, 0);
    uint32_t used = 0;
    port.BuildXflashImage(used, xflash::XFLASH_DIRECTORY_PAGE, image.data());
    return unit;
  }
  void ExpectFlashHoldsTheImage(const sim::VirtualUnit& unit) {
    const auto s = unit.Snapshot();
    ASSERT_EQ(0, std::memcmp(s.xflash.data.data(), image.data(), image.size()));
  }

  NullProgress progress;
  std::vector<uint8_t> image;
};

}  // namespace

TEST_F(XflashTest, FirstProgrammingEnteredFromTheApplication) {
  auto& unit = Unit("k4v");
  ASSERT_EQ(port.ProgramXflash(status, progress), 1) << status;
  EXPECT_EQ(status, "EEPROM Programming Done.");
  EXPECT_FALSE(port.IsOpen());
  ExpectFlashHoldsTheImage(unit);
  const auto s = unit.Snapshot();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s.xflash.data[xflash::DIRECTORY_OFFSET]), 24),
            " 200     26a 205    2ab4");
  EXPECT_EQ(s.main.program, sim::Program::Application);
  EXPECT_EQ(s.main.lineBaud, 19200u) << "back at 19200";
  EXPECT_EQ(Commands(unit, "D7096.8\n", 8).size(), 1u);
  EXPECT_EQ(Commands(unit, "SSB7\n", 5).size(), 1u);
  const auto pages = PagesWritten(unit);
  ASSERT_FALSE(pages.empty());
  EXPECT_EQ(pages.back(), xflash::XFLASH_DIRECTORY_PAGE) << "the directory page last";
  EXPECT_EQ(progress.upper, 1820);
  EXPECT_EQ(progress.shows, (std::vector<int32_t>{1, 0}));

  // The repeated run erases and writes nothing.
  unit.ResetCounters();
  unit.ClearTranscript();
  ASSERT_EQ(port.CheckConnectTo(0), 1);
  ASSERT_EQ(port.ProgramXflash(status, progress), 1) << status;
  auto counters = unit.Counters();
  EXPECT_EQ(counters.memories["xflash"].erased, 0u);
  EXPECT_EQ(counters.memories["xflash"].written, 0u);
  EXPECT_TRUE(Commands(unit, "ded", 3).empty());
  EXPECT_TRUE(Commands(unit, "dea\n", 4).empty());
}

TEST_F(XflashTest, FirstProgrammingEnteredFromTheProgrammerFirmware) {
  auto& unit = Unit("k4v-programmer");
  ASSERT_EQ(port.m_connectState, CONNECT_PROGRAMMER);
  ASSERT_EQ(port.ProgramXflash(status, progress), 1) << status;
  ExpectFlashHoldsTheImage(unit);
  EXPECT_TRUE(Commands(unit, "D7096.8", 7).empty()) << "the programmer answers the commands itself";
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Programmer);
}

TEST_F(XflashTest, OneDifferingSectorAndTheDirectorySector) {
  auto& unit = Unit("k4v", false);
  unit.Mutate([&](sim::UnitState& s) { std::memcpy(s.xflash.data.data(), image.data(), image.size()); });
  // Sector 20 (pages 640 to 671) differs in one byte.
  unit.Mutate([](sim::UnitState& s) { s.xflash.data[20 * 4096 + 100] ^= 0x40; });
  unit.ClearTranscript();
  unit.ResetCounters();
  ASSERT_EQ(port.ProgramXflash(status, progress), 1) << status;
  ExpectFlashHoldsTheImage(unit);
  EXPECT_EQ(Commands(unit, "ded", 8), (std::vector<std::string>{"ded006f\n", "ded0014\n"}))
      << "the directory sector first";
  for (uint32_t page : PagesWritten(unit)) {
    const bool inSector20 = page >= 640 && page < 672;
    EXPECT_TRUE(inSector20 || page == xflash::XFLASH_DIRECTORY_PAGE) << page;
  }
  EXPECT_EQ(PagesWritten(unit).back(), xflash::XFLASH_DIRECTORY_PAGE);
}

TEST_F(XflashTest, ChipWith64KbSectors) {
  auto& unit = Unit("k4v-xflash-a401");
  ASSERT_EQ(port.ProgramXflash(status, progress), 1) << status;
  ExpectFlashHoldsTheImage(unit);
  const auto erased = Commands(unit, "ded", 8);
  ASSERT_FALSE(erased.empty());
  EXPECT_EQ(erased.front(), "ded0006\n");
}

TEST_F(XflashTest, TooSmallChipIsRejectedWithoutErasing) {
  auto& unit = Unit("k4v-xflash-small");
  EXPECT_EQ(port.ProgramXflash(status, progress), 0);
  EXPECT_EQ(status, "MB Xflash too small. Call technical support.");
  EXPECT_TRUE(Commands(unit, "ded", 3).empty());
  EXPECT_EQ(Commands(unit, "del1\n", 5).size(), 1u);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application) << "the debug mode was left";
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(XflashTest, PageWriteAndEraseAnswers) {
  struct Case {
    const char* name;
    sim::PageWriteAnswer answer;
    bool eraseAnsweredOne;
    int result;
  };
  for (const Case c : {Case{"LF then S", sim::PageWriteAnswer::LfThenStatus, false, 1},
                       Case{"LF then zero: retried", sim::PageWriteAnswer::LfThenZero, false, 1},
                       Case{"erase answered 1", sim::PageWriteAnswer::LfThenStatus, true, 1}}) {
    SCOPED_TRACE(c.name);
    auto& unit = Unit("k4v");
    sim::FaultSettings faults;
    faults.xflashPageAnswerFault = sim::FaultPoint{600, 1, 1};
    faults.xflashPageAnswer = c.answer;
    if (c.eraseAnsweredOne) faults.xflashEraseAnsweredOne = sim::FaultPoint{std::nullopt, 1, 1};
    unit.SetFaults(faults);
    EXPECT_EQ(port.ProgramXflash(status, progress), c.result) << status;
    ExpectFlashHoldsTheImage(unit);
    port.ClosePort();
    unit.Stop();
  }
}

TEST_F(XflashTest, APageThatIsNeverAnsweredFailsWithR) {
  auto& unit = Unit("k4v");
  sim::FaultSettings faults;
  faults.xflashPageAnswerFault = sim::FaultPoint{5, 1, 0};
  faults.xflashPageAnswer = sim::PageWriteAnswer::None;
  unit.SetFaults(faults);
  EXPECT_EQ(port.ProgramXflash(status, progress), 0);
  EXPECT_EQ(status, "Motherboard external flash programming failure 'R' at page 5. Try again.");
  size_t framesForPage5 = 0;
  for (uint32_t page : PagesWritten(unit)) framesForPage5 += page == 5;
  EXPECT_EQ(framesForPage5, 3u * 4u) << "three writes of four attempts each";
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application);
  EXPECT_EQ(Commands(unit, "del1\n", 5).size(), 1u);
}

TEST_F(XflashTest, InterruptedRunLeavesTheDirectoryErasedAndTheNextRunCompletes) {
  auto& unit = Unit("k4v", false);
  // The unit goes silent after 200 page writes (power lost until the test
  // brings it back); about 11 s of page time-outs and 3 exit attempts of a
  // full connection check follow.
  sim::FaultSettings faults;
  faults.silentAfterXflashPages = 200;
  unit.SetFaults(faults);
  EXPECT_EQ(port.ProgramXflash(status, progress), 0);
  EXPECT_EQ(status, "Failed to exit debug mode") << "the failure exit's own text stands";
  EXPECT_FALSE(port.IsOpen());
  {
    const auto s = unit.Snapshot();
    for (size_t i = 111 * 4096; i < 112 * 4096; ++i) ASSERT_EQ(s.xflash.data[i], 0xFF) << "directory sector erased";
  }

  unit.PowerOn();
  unit.SetFaults({});
  unit.ClearTranscript();
  ASSERT_EQ(port.CheckConnectTo(port.m_baudIndex), 1);
  ASSERT_EQ(port.ProgramXflash(status, progress), 1) << status;
  ExpectFlashHoldsTheImage(unit);
  EXPECT_EQ(PagesWritten(unit).back(), xflash::XFLASH_DIRECTORY_PAGE);
}
