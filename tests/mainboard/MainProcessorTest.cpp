// The main processor's boot loader, unit control, debug mode, flash and
// EEPROM, against the virtual unit.
#include "engine/FirmwareImages.h"
#include "mainboard/MainBoard.h"
#include "mainboard/SerialNumberPrompt.h"
#include "platform/Clock.h"
#include "tests/support/UnitFixture.h"

#include <cstring>
#include <optional>
#include <thread>

namespace {

// The serial-number dialog as the user answers it.
struct ScriptedPrompt : ISerialNumberPrompt {
  std::optional<int32_t> answer;  // nothing: the user cancels
  int calls = 0;
  bool AskSerialNumber(int32_t initialValue, int32_t& value) override {
    ++calls;
    EXPECT_EQ(initialValue, 0);
    if (!answer) return false;
    value = *answer;
    return true;
  }
};

struct RecordingProgress : CProgCtrl {
  int32_t lower = -1, upper = -1, lastPos = -1;
  std::vector<int32_t> shows;
  void SetRange(int32_t l, int32_t u) override { lower = l, upper = u; }
  void SetPos(int32_t p) override { lastPos = p; }
  void Show(int32_t cmd) override { shows.push_back(cmd); }
};

// Bytes the unit received in the transcript, concatenated.
std::string Received(const sim::VirtualUnit& unit) {
  std::string all;
  for (const auto& e : unit.Transcript())
    if (e.kind == sim::TranscriptEntry::Kind::Received) all += e.bytes;
  return all;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Page-buffer blocks the unit dropped on purpose (a fault that struck).
size_t DroppedBlocks(const sim::VirtualUnit& unit) {
  size_t n = 0;
  for (const auto& e : unit.Transcript())
    n += e.kind == sim::TranscriptEntry::Kind::Event && e.bytes.find("dropped without acknowledgement") != std::string::npos;
  return n;
}

// Puts an image into the unit's flash as a programming would leave it.
void HoldImage(sim::UnitState& s, ImageId id) {
  const FirmwareImage image = GetFirmwareImage(id);
  std::fill(s.main.flash.begin(), s.main.flash.end(), 0xFF);
  std::memcpy(s.main.flash.data(), image.bytes, image.byteCount);
  s.main.eeprom[0] = s.main.eeprom[1] = 0x76;
}

class MainProcessorTest : public k4vtest::UnitFixture {
 protected:
  void SetUp() override {
    UnitFixture::SetUp();
    SetSerialNumberPrompt(&prompt);
  }
  void TearDown() override {
    SetSerialNumberPrompt(nullptr);
    UnitFixture::TearDown();
  }
  // A unit of the profile on COM1, met by a port that knows nothing of an
  // earlier one.
  sim::VirtualUnit& Unit(const std::string& profile) {
    port.ClosePort();
    port.ResetUnitState();
    auto& unit = AddUnit(1, profile);
    Use(1);
    return unit;
  }
  // Flash bytes of the unit equal the image, and the rest is erased.
  static void ExpectFlashHolds(const sim::UnitState& s, ImageId id) {
    const FirmwareImage image = GetFirmwareImage(id);
    ASSERT_EQ(0, std::memcmp(s.main.flash.data(), image.bytes, image.byteCount)) << ImageIdName(id);
    for (size_t i = image.byteCount; i < s.main.flash.size(); ++i) ASSERT_EQ(s.main.flash[i], 0xFF) << i;
  }

  ScriptedPrompt prompt;
  RecordingProgress progress;
};

}  // namespace

TEST_F(MainProcessorTest, RunningApplicationReachesTheLoaderOnTheSecondAttempt) {
  auto& unit = Unit("k4v");
  ASSERT_EQ(port.ConnectLoader(status), 1);
  EXPECT_EQ(port.m_connectState, CONNECT_LOADER);
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(port.m_loaderVersion, 305);
  EXPECT_EQ(port.m_model, 11);
  EXPECT_EQ(port.m_hwFlags & HW_OPTION_BIT1, 0);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::BootLoader);
  EXPECT_EQ(Occurrences(Received(unit), "Z31862.4\n"), 1u) << "one jump request, confirmed by the next check";
}

TEST_F(MainProcessorTest, LoaderLeftAt115200IsBroughtDownTo19200) {
  auto& unit = Unit("k4v-loader-115200");
  ASSERT_EQ(port.ConnectLoader(status), 1);
  EXPECT_EQ(status, "Loader Baud Rate Changed");
  EXPECT_EQ(port.m_baudIndex, 0);
  const auto s = unit.Snapshot();
  EXPECT_EQ(s.main.program, sim::Program::BootLoader);
  EXPECT_EQ(s.main.lineBaud, 19200u);
  EXPECT_NE(Received(unit).find(std::string("h\x1d", 2)), std::string::npos) << "the 3xx divisor for 19200";
}

TEST_F(MainProcessorTest, LoaderSpeedSwitchAndExit) {
  auto& unit = Unit("k4v-loader");
  ASSERT_EQ(port.ConnectLoaderAtHighSpeed(status), 1);
  EXPECT_EQ(status, "Loader Baud Rate Changed");
  EXPECT_EQ(port.m_baudIndex, 7);
  EXPECT_EQ(unit.Snapshot().main.lineBaud, 115200u);
  // Leaving the loader returns to the rate the application was found at
  // (not known here: 19200).
  ASSERT_EQ(port.ExitLoader(status, false), 1);
  EXPECT_EQ(port.m_connectState, CONNECT_APPLICATION);
  EXPECT_EQ(port.m_baudIndex, 0);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application);
}

TEST_F(MainProcessorTest, ZonesOff) {
  {
    auto& unit = Unit("k4v");
    ASSERT_EQ(port.OpenPort(status), 1);
    EXPECT_EQ(port.SwitchZonesOff(), 1);
    const std::string sent = Received(unit);
    EXPECT_EQ(Occurrences(sent, "P1P?\n") + Occurrences(sent, "P2P?\n") + Occurrences(sent, "P3P?\n"), 3u)
        << "one pass";
    EXPECT_EQ((unit.Snapshot().zones.on), (std::array<bool, 3>{false, false, false}));
    port.ClosePort();
    unit.Stop();
  }
  auto& stuck = Unit("k4v");
  sim::FaultSettings faults;
  faults.zoneStaysOn[1] = true;
  stuck.SetFaults(faults);
  ASSERT_EQ(port.OpenPort(status), 1);
  EXPECT_EQ(port.SwitchZonesOff(), 0);
  const std::string sent = Received(stuck);
  EXPECT_EQ(Occurrences(sent, "P2P?\n"), 4u) << "four passes";
  EXPECT_EQ(Occurrences(sent, "P2P0\n"), 1u + 4u) << "the zone that stays on is sent its switch-off in every pass";
}

TEST_F(MainProcessorTest, PowerUpWithAndWithoutDebugMode) {
  {
    auto& unit = Unit("k4v-standby");
    EXPECT_EQ(port.PowerUpUnit(false), 1);
    const auto s = unit.Snapshot();
    EXPECT_TRUE(s.zones.on[0]);
    EXPECT_EQ(s.main.program, sim::Program::Application);
    port.ClosePort();
    unit.Stop();
  }
  // With the debug mode: zone 1 switched on, then the debug state polled
  // until the unit reports ready (9).
  auto& unit = Unit("k4v-standby");
  EXPECT_EQ(port.PowerUpUnit(true), 1);
  const auto s = unit.Snapshot();
  EXPECT_EQ(s.main.program, sim::Program::DebugMode);
  EXPECT_EQ(port.m_connectState, CONNECT_DEBUG);
  const std::string sent = Received(unit);
  EXPECT_NE(sent.find("P1P1\n"), std::string::npos);
  EXPECT_GE(Occurrences(sent, "dP?\n"), 3u) << "polled until the third query reports ready";
}

TEST_F(MainProcessorTest, ExitDebugModeThroughTheRescueCommand) {
  auto& unit = Unit("k4v-debug");
  // The unit answers nothing during the first connection check; "@0" is
  // sent, and when it comes back the exit succeeds.
  unit.PowerOff();
  unit.ResetCounters();
  std::thread powerBack([&] {
    // One full check of 8 rates x 3 tries ("\n" + "?\n" each), then "@0\n".
    unit.WaitUntil([](const sim::UnitState&, const sim::UnitCounters& c) { return c.rxBytes >= 8 * 3 * 3 + 3; },
                   std::chrono::seconds(60));
    unit.PowerOn();
  });
  EXPECT_EQ(port.ExitDebugMode(status), 1);
  powerBack.join();
  EXPECT_NE(Received(unit).find("@0\n"), std::string::npos);
  EXPECT_EQ(port.m_connectState, CONNECT_APPLICATION);
}

TEST_F(MainProcessorTest, DebugModeEnteredAndLeft) {
  auto& unit = Unit("k4v");
  ASSERT_EQ(port.EnterDebugMode(status), 1);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::DebugMode);
  ASSERT_EQ(port.ExitDebugMode(status), 1);
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application);
}

TEST_F(MainProcessorTest, UnitBaudRateChange) {
  {
    // In debug mode: "dB7", the first "Invalid" answer is passed over, the
    // second accepted.
    auto& unit = Unit("k4v-debug");
    ASSERT_EQ(port.CheckConnectTo(0), 1);
    ASSERT_EQ(port.m_connectState, CONNECT_DEBUG);
    port.m_baudIndex = 7;
    EXPECT_EQ(port.ChangeUnitBaudRate(), 1);
    EXPECT_EQ(unit.Snapshot().main.lineBaud, 115200u);
    EXPECT_NE(Received(unit).find("dB7\n"), std::string::npos);
    EXPECT_EQ(Received(unit).find("SSB"), std::string::npos);
    port.ClosePort();
    unit.Stop();
  }
  auto& unit = Unit("k4v");
  ASSERT_EQ(port.CheckConnectTo(0), 1);
  port.m_baudIndex = 7;
  EXPECT_EQ(port.ChangeUnitBaudRate(), 1);
  EXPECT_EQ(unit.Snapshot().main.lineBaud, 115200u);
  EXPECT_NE(Received(unit).find("SSB7\n"), std::string::npos);
  // Already at the wanted rate: no command, only the probes.
  unit.ClearTranscript();
  EXPECT_EQ(port.ChangeUnitBaudRate(), 1);
  EXPECT_EQ(Received(unit).find("SSB"), std::string::npos);
}

TEST_F(MainProcessorTest, UnitClockInBothForms) {
  struct Case {
    const char* profile;
    int wday, hour, minute;
    int weekday;
    const char* time;
  };
  for (const Case c : {Case{"k4v", 0, 15, 7, 1, "15:07"}, Case{"k4v-12h", 0, 0, 5, 1, "12:05AM"},
                       Case{"k4v-12h", 6, 15, 7, 7, "03:07PM"}, Case{"k4v", 3, 0, 0, 4, "00:00"}}) {
    SCOPED_TRACE(std::string(c.profile) + " " + c.time);
    std::tm pinned{};
    pinned.tm_year = 126;
    pinned.tm_wday = c.wday;
    pinned.tm_hour = c.hour;
    pinned.tm_min = c.minute;
    platform::SetTestLocalTime(&pinned);
    auto& unit = Unit(c.profile);
    ASSERT_EQ(port.OpenPort(status), 1);
    EXPECT_EQ(port.SetUnitClock(), 1);
    const auto s = unit.Snapshot();
    EXPECT_EQ(s.clock.weekday, c.weekday);
    EXPECT_EQ(s.clock.timeOfDay, c.time);
    port.ClosePort();
    unit.Stop();
  }
  platform::SetTestLocalTime(nullptr);
}

TEST_F(MainProcessorTest, SerialNumberPaths) {
  struct Case {
    const char* profile;
    std::optional<int32_t> entered;
    int result;
    const char* status;
    int promptCalls;
    std::string stored;
  };
  const Case cases[] = {
      {"k4v", std::nullopt, 1, "Serial number 10473921", 0, "10473921"},
      {"k4v-serial-placeholder", 12345678, 1, "Serial number 12345678", 1, "12345678"},
      {"k4v-serial-bad-checksum", 20240001, 1, "Serial number 20240001", 1, "20240001"},
      {"k4v-serial-none", std::nullopt, 0, "**Failed to set serial number", 1, ""},
      {"k4v-serial-none", 1234567, 1, "Serial number 1234567", 1, "1234567"},
      // A prompt that answers outside the dialog's range counts as cancelled.
      {"k4v-serial-none", 0, 0, "**Failed to set serial number", 1, ""},
      {"k4v-serial-none", 123456789, 0, "**Failed to set serial number", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.profile) + " " + c.status);
    prompt = ScriptedPrompt{};
    prompt.answer = c.entered;
    auto& unit = Unit(c.profile);
    EXPECT_EQ(port.ConfirmSerialNumber(status), c.result);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(prompt.calls, c.promptCalls);
    const auto s = unit.Snapshot();
    EXPECT_EQ(s.SerialNumber(), c.stored);
    if (c.stored == "1234567") {
      // Seven digits: a zero byte at 0x47, the checksum at 0x48 and 0x49.
      EXPECT_EQ(s.main.eeprom[0x47], 0);
      const uint16_t sum = '1' + '2' + '3' + '4' + '5' + '6' + '7';
      EXPECT_EQ(s.main.eeprom[0x48], sum & 0xFF);
      EXPECT_EQ(s.main.eeprom[0x49], sum >> 8);
    }
    port.ClosePort();
    unit.Stop();
  }
}

TEST_F(MainProcessorTest, AValidSerialNumberIsNeverRewritten) {
  auto& unit = Unit("k4v");
  // One read of the stored number is garbled; it is read again, not replaced.
  sim::FaultSettings faults;
  faults.answerDamage.push_back(sim::AnswerDamage{"D", sim::FaultPoint{std::nullopt, 3, 1}, 0, false});
  unit.SetFaults(faults);
  prompt.answer = 99999999;
  EXPECT_EQ(port.ConfirmSerialNumber(status), 1);
  EXPECT_EQ(status, "Serial number 10473921");
  EXPECT_EQ(prompt.calls, 0);
  EXPECT_EQ(unit.Snapshot().SerialNumber(), "10473921");
}

TEST_F(MainProcessorTest, FlashCodeChecksumWithAndWithoutABlank) {
  for (const char* profile : {"k4v", "k4v-cs-no-blank"}) {
    SCOPED_TRACE(profile);
    auto& unit = Unit(profile);
    ASSERT_EQ(port.CheckConnectTo(0), 1);
    port.m_loaderVersion = 305;  // known: no trip through the loader
    EXPECT_EQ(port.VerifyFlashCodeChecksum(status, false), 0) << "the unit still runs 3.02";
    EXPECT_EQ(status, "Error: Flash Code Checksum not correct");
    EXPECT_FALSE(port.IsOpen());
    unit.Mutate([](sim::UnitState& s) { HoldImage(s, MAIN_APP_IMAGE); });
    EXPECT_EQ(port.VerifyFlashCodeChecksum(status, false), 1);
    EXPECT_EQ(status, "Flash Code Checksum verified");
    EXPECT_TRUE(port.IsOpen());
    port.ClosePort();
    unit.Stop();
  }
}

TEST_F(MainProcessorTest, ProgrammingTheApplicationOnBothBoardRevisions) {
  struct Case {
    const char* profile;
    ImageId image;
    int32_t model;
  };
  for (const Case c : {Case{"k4v", MAIN_APP_IMAGE, 11}, Case{"k4v-rev3", MAIN_APP_IMAGE_V3, 12}}) {
    SCOPED_TRACE(c.profile);
    progress = RecordingProgress{};
    auto& unit = Unit(c.profile);
    ASSERT_EQ(port.ConnectLoader(status), 1);
    EXPECT_EQ(port.m_model, c.model);
    const uint16_t flags = port.m_hwFlags;
    ASSERT_EQ(port.ProgramMainFlash(status, progress, false), 1) << status;
    EXPECT_EQ(status, "Flash Programming Done. Verifying ...");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(progress.upper, c.model == 12 ? 737 : 738);
    EXPECT_EQ(progress.shows, (std::vector<int32_t>{1, 0}));

    const auto s = unit.Snapshot();
    ExpectFlashHolds(s, c.image);
    EXPECT_EQ(s.main.eeprom[0], 0x76);
    EXPECT_EQ(s.main.eeprom[1], 0x76);
    EXPECT_EQ(s.main.eeprom[2], flags & 0xF7);
    if (c.model == 12) {
      const FirmwareImage image = GetFirmwareImage(c.image);
      const uint16_t sum = CSerialPort::MainFlashChecksum(image.Words16(), image.elementCount, image.elementCount, 0x1F000);
      EXPECT_EQ(s.main.eeprom[14], sum & 0xFF);
      EXPECT_EQ(s.main.eeprom[15], sum >> 8);
      EXPECT_EQ(unit.Counters().memories["fuses"].written, 0u) << "no fuse step on revision-3 boards";
    }
    EXPECT_EQ(s.main.program, sim::Program::Application);
    EXPECT_EQ(s.SerialNumber(), "10473921");
    EXPECT_FALSE(s.clock.timeOfDay.empty()) << "the clock is set after the application";
    port.ClosePort();
    unit.Stop();
  }
}

TEST_F(MainProcessorTest, ProgrammingTheProgrammerFirmwareOnBothBoardRevisions) {
  struct Case {
    const char* profile;
    ImageId image;
  };
  for (const Case c : {Case{"k4v", PROGRAMMER_IMAGE}, Case{"k4v-rev3", PROGRAMMER_IMAGE_V3}}) {
    SCOPED_TRACE(c.profile);
    auto& unit = Unit(c.profile);
    ASSERT_EQ(port.ConnectLoader(status), 1);
    ASSERT_EQ(port.ProgramMainFlash(status, progress, true), 1) << status;
    EXPECT_EQ(status, "Flash Programming Done.");
    const auto s = unit.Snapshot();
    ExpectFlashHolds(s, c.image);
    EXPECT_EQ(s.main.program, sim::Program::Programmer);
    EXPECT_EQ(s.main.lineBaud, 19200u);
    EXPECT_EQ(port.m_connectState, CONNECT_PROGRAMMER);
    port.ClosePort();
    unit.Stop();
  }
}

TEST_F(MainProcessorTest, VerificationPassesAndFailsAtAChosenWord) {
  auto& unit = Unit("k4v");
  unit.Mutate([](sim::UnitState& s) { HoldImage(s, MAIN_APP_IMAGE); });
  ASSERT_EQ(port.VerifyMainFlash(status, progress, false), 1) << status;
  EXPECT_EQ(status, "Verified OK.");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(unit.Snapshot().main.program, sim::Program::Application);

  // A word that differs in the unit's flash.
  unit.Mutate([](sim::UnitState& s) { s.main.flash[2 * 1000] ^= 0x01; });
  unit.Mutate([](sim::UnitState& s) { s.main.eeprom[2] = 0xEE; });
  ASSERT_EQ(port.VerifyMainFlash(status, progress, false), 0);
  EXPECT_EQ(status, "Verify FAILED.");
  EXPECT_FALSE(port.IsOpen());
  const auto s = unit.Snapshot();
  EXPECT_EQ(s.main.eeprom[2], port.m_hwFlags & 0xF7) << "the option byte is stored even when the verify fails";
  EXPECT_EQ(s.main.program, sim::Program::Application) << "the loader is left";
}

TEST_F(MainProcessorTest, AGarbledReadBackIsReadAgain) {
  auto& unit = Unit("k4v");
  unit.Mutate([](sim::UnitState& s) { HoldImage(s, MAIN_APP_IMAGE); });
  sim::FaultSettings faults;
  faults.answerDamage.push_back(sim::AnswerDamage{"R", sim::FaultPoint{500, 1, 1}, 1, false});
  faults.answerDamage.push_back(sim::AnswerDamage{"R", sim::FaultPoint{2000, 1, 1}, 0, true});
  unit.SetFaults(faults);
  EXPECT_EQ(port.VerifyMainFlash(status, progress, false), 1) << status;
  EXPECT_EQ(status, "Verified OK.");
}

TEST_F(MainProcessorTest, FuseProceduresOfBothLoaderGenerations) {
  {
    // 3xx: "G", "F", "J" brought to D1, D0, FF; a fuse that already holds its
    // value gets no write.
    auto& unit = Unit("k4v-loader");
    unit.Mutate([](sim::UnitState& s) { s.main.fuses = {0xD0, 0x00, 0xFF}; });
    ASSERT_EQ(port.ConnectLoader(status), 1);
    ASSERT_EQ(port.LoaderCommand("P", 1, 100), 1);
    EXPECT_EQ(port.SetFuseByte('G', 0xD1), 1);
    EXPECT_EQ(port.SetFuseByte('F', 0xD0), 1);
    EXPECT_EQ(port.SetFuseByte('J', 0xFF), 1);
    const auto s = unit.Snapshot();
    EXPECT_EQ(s.main.fuses, (std::array<uint8_t, 3>{0xD0, 0xD1, 0xFF}));
    EXPECT_EQ(unit.Counters().memories["fuses"].written, 1u);
    port.ClosePort();
    unit.Stop();
  }
  // 2xx: "F" read; written with B7 while its bits 0x2F do not read 0x07, at
  // most three times, and the programming goes on.
  auto& unit = Unit("k4v-loader201");
  unit.Mutate([](sim::UnitState& s) { s.main.fuses[0] = 0x00; });
  ASSERT_EQ(port.ConnectLoader(status), 1);
  EXPECT_EQ(port.m_loaderVersion, 201);
  ASSERT_EQ(port.ProgramMainFlash(status, progress, true), 1) << status;
  const std::string sent = Received(unit);
  const size_t writes = Occurrences(sent, std::string("f\xb7", 2));
  EXPECT_GE(writes, 1u);
  EXPECT_LE(writes, 3u);
  EXPECT_NE(sent.find(std::string("h\x01", 2)), std::string::npos) << "the 2xx divisor for 115200";
}

TEST_F(MainProcessorTest, WrongSignatureIsRejectedBeforeAnythingIsErased) {
  auto& unit = Unit("k4v-wrong-signature");
  ASSERT_EQ(port.ConnectLoader(status), 1);
  EXPECT_EQ(port.ProgramMainFlash(status, progress, false), 0);
  EXPECT_EQ(status, "Invalid motherboard CPU signature");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(unit.Counters().memories["main-flash"].erased, 0u);
  EXPECT_EQ(unit.Snapshot().main.eeprom[0], 0x76);
}

TEST_F(MainProcessorTest, CorruptedEmbeddedImageSendsNothingAfterTheSpeedSwitch) {
  auto& unit = Unit("k4v-loader");
  SubstituteStoredCrc(MAIN_APP_IMAGE, 0x12345678);
  ASSERT_EQ(port.ConnectLoader(status), 1);
  EXPECT_EQ(port.ProgramMainFlash(status, progress, false), 0);
  RestoreFirmwareImages();
  EXPECT_EQ(status, "uC flash code checksum error...Installation failed");
  EXPECT_EQ(unit.Counters().memories["main-flash"].erased, 0u);
  EXPECT_EQ(Received(unit).find('P', Received(unit).rfind('S')), std::string::npos);
}

TEST_F(MainProcessorTest, APageThatFailsOnceIsWrittenAgain) {
  auto& unit = Unit("k4v-loader");
  sim::FaultSettings faults;
  faults.flashBlockUnacknowledged = sim::FaultPoint{25, 3, 1};  // the third block of the 26th page
  unit.SetFaults(faults);
  ASSERT_EQ(port.ConnectLoader(status), 1);
  ASSERT_EQ(port.ProgramMainFlash(status, progress, true), 1) << status;
  ExpectFlashHolds(unit.Snapshot(), PROGRAMMER_IMAGE);
  EXPECT_EQ(DroppedBlocks(unit), 1u);
  EXPECT_EQ(unit.Counters().memories["main-flash"].written, port.m_codeSize / 128) << "every page written once";
}

TEST_F(MainProcessorTest, APageThatNeverTakesEndsTheRunWithTheMarksCleared) {
  auto& unit = Unit("k4v-loader");
  sim::FaultSettings faults;
  faults.flashBlockUnacknowledged = sim::FaultPoint{20, 1, 0};
  unit.SetFaults(faults);
  ASSERT_EQ(port.ConnectLoader(status), 1);
  EXPECT_EQ(port.ProgramMainFlash(status, progress, true), 0);
  EXPECT_EQ(status, "Programming Failed. Try Again");
  EXPECT_EQ(DroppedBlocks(unit), 5u) << "five tries of the page";
  const auto s = unit.Snapshot();
  EXPECT_EQ(s.main.eeprom[0], 0x00);
  EXPECT_EQ(s.main.eeprom[1], 0x00);
  EXPECT_EQ(s.main.program, sim::Program::BootLoader) << "a half-written flash leaves only the loader answering";
  EXPECT_EQ(progress.shows.back(), 0);
}

TEST_F(MainProcessorTest, AUnitThatGoesSilentWhileProgrammingAndComesBack) {
  auto& unit = Unit("k4v-loader");
  sim::FaultSettings faults;
  faults.silentAfterFlashPages = 30;
  unit.SetFaults(faults);
  ASSERT_EQ(port.ConnectLoader(status), 1);
  const int64_t t0 = platform::MonotonicMs();
  EXPECT_EQ(port.ProgramMainFlash(status, progress, true), 0);
  EXPECT_LT(platform::MonotonicMs() - t0, 120000) << "bounded by the stated time-outs";
  EXPECT_EQ(status, "Programming Failed. Try Again");
  EXPECT_EQ(unit.Snapshot().main.eeprom[0], 0x00);

  // Power returns: only the loader answers; the next programming completes.
  unit.PowerOn();
  unit.SetFaults({});
  ASSERT_EQ(port.ConnectLoader(status), 1);
  ASSERT_EQ(port.ProgramMainFlash(status, progress, true), 1) << status;
  ExpectFlashHolds(unit.Snapshot(), PROGRAMMER_IMAGE);
}

TEST_F(MainProcessorTest, CancelledSerialNumberFailsTheProgramming) {
  auto& unit = Unit("k4v-serial-none");
  prompt.answer = std::nullopt;
  EXPECT_EQ(port.ProgramMainFlash(status, progress, false), 0);
  EXPECT_EQ(status, "**Failed to set serial number");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(unit.Counters().memories["main-flash"].erased, 0u);
}
