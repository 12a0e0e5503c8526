// The state file: a second installation meets the unit the first one left.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/StateFile.h"
#include "tests/sim/FarEnd.h"
#include "tests/support/PtyPeer.h"

namespace simtest {
namespace {

sim::UnitState ChangedState() {
  sim::UnitState s = sim::Profile::K4vRev3().MakeState();
  s.powered = false;
  s.main.program = sim::Program::Programmer;
  s.main.lineBaud = 115200;
  s.main.applicationBaud = 57600;
  s.main.flash[0x1FFFF] = 0x12;
  s.main.eeprom[0xFFF] = 0x34;
  s.main.fuses = {1, 2, 3};
  s.main.signature = {4, 5, 6};
  s.main.loader.queryAnswer = sim::LoaderQueryAnswer::Identification;
  s.main.loader.versionDigits = "21";
  s.xflash.data[sim::XFLASH_BYTES - 1] = 0x56;
  s.xflash.chip = "a401";
  s.main.checksumBlank = false;
  s.zones.rules = {1, 2, 3, 4};
  s.zones.on = {false, true, true};
  s.clock = {false, 3, "03:07PM"};
  s.dsp = {false, 0x367, 0x2F0206};
  s.video = {false, "DVB BOOT GF9351 0.07", 115200};
  s.StoreSerialNumber("1234567");
  return s;
}

TEST(StateFile, RoundTripKeepsEveryField) {
  const sim::UnitState s = ChangedState();
  k4vtest::TempDir dir;
  const std::string path = dir.Path() + "/unit.state";
  std::string error;
  ASSERT_TRUE(sim::SaveStateFile(s, path, &error)) << error;
  const auto loaded = sim::LoadStateFile(path, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_TRUE(*loaded == s);
  EXPECT_EQ(loaded->SerialNumber(), "1234567");
}

TEST(StateFile, SecondUnitMeetsTheStateTheFirstLeft) {
  k4vtest::TempDir dir;
  const std::string path = dir.Path() + "/unit.state";
  {
    UnitOnLine first("k4v");
    EXPECT_EQ(first.Ask("Z31862.4\n"), "\n");
    EXPECT_EQ(first.Ask("Z\n"), "");
    first.unit.Mutate([](sim::UnitState& s) { s.StoreSerialNumber("55512345"); });
    first.unit.Stop();
    std::string error;
    ASSERT_TRUE(first.unit.SaveState(path, &error)) << error;
  }
  std::string error;
  auto state = sim::VirtualUnit::LoadState(path, &error);
  ASSERT_TRUE(state) << error;
  UnitOnLine second(std::move(*state));
  EXPECT_EQ(second.Ask("?\n"), "??");
  EXPECT_EQ(second.Ask("S"), "SOLSTRAND K4v2 ISP");
  EXPECT_EQ(second.unit.Snapshot().SerialNumber(), "55512345");
}

// Records a later build adds are skipped; records missing keep the defaults.
TEST(StateFile, UnknownRecordsAreSkippedAndMissingOnesKeepDefaults) {
  std::string bytes = "K4V-VIRTUAL-UNIT-STATE 1\n";
  auto record = [&](const std::string& key, const std::string& value) {
    bytes += static_cast<char>(key.size());
    bytes += '\0';
    bytes += key;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value.size() >> (8 * i)) & 0xFF);
    bytes += value;
  };
  record("video.controller-flash", std::string(10, 'x'));
  record("main.program", "debug-mode");
  std::string error;
  const auto s = sim::ParseState(bytes, &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->main.program, sim::Program::DebugMode);
  EXPECT_EQ(s->main.flash.size(), sim::MAIN_FLASH_BYTES);
}

struct DamageCase {
  const char* name;
  void (*damage)(std::string&);
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedStateFile : public ::testing::TestWithParam<DamageCase> {};

// A damaged file is refused whole, with a reason, and nothing is read outside it.
TEST_P(DamagedStateFile, IsRefused) {
  std::string bytes = sim::SerialiseState(sim::Profile::K4vStandard().MakeState());
  GetParam().damage(bytes);
  std::string error;
  EXPECT_FALSE(sim::ParseState(bytes, &error));
  EXPECT_FALSE(error.empty());
}

void Replace(std::string& bytes, const std::string& from, const std::string& to) {
  const auto at = bytes.find(from);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedStateFile,
    ::testing::Values(
        DamageCase{"empty", [](std::string& b) { b.clear(); }},
        DamageCase{"wrong_header", [](std::string& b) { b[0] = 'X'; }},
        DamageCase{"truncated_in_a_memory", [](std::string& b) { b.resize(b.size() / 2); }},
        DamageCase{"truncated_in_a_length", [](std::string& b) { b.resize(27); }},
        DamageCase{"huge_length", [](std::string& b) { Replace(b, std::string("main.flash") + '\0', std::string("main.flash") + '\xff'); }},
        DamageCase{"unknown_program", [](std::string& b) { Replace(b, "application", "applicatioX"); }},
        DamageCase{"number_out_of_range", [](std::string& b) { Replace(b, std::string("board-revision") + '\x01' + std::string(3, '\0') + "2", std::string("board-revision") + '\x01' + std::string(3, '\0') + "9"); }},
        DamageCase{"unknown_flash_chip", [](std::string& b) { Replace(b, std::string("xflash.chip") + '\x04' + std::string(3, '\0') + "b7bf", std::string("xflash.chip") + '\x04' + std::string(3, '\0') + "b7bX"); }},
        DamageCase{"memory_of_wrong_size", [](std::string& b) {
          const std::string key = std::string("main.eeprom");
          const auto at = b.find(key);
          ASSERT_NE(at, std::string::npos);
          b[at + key.size()] = '\x01';  // 4096 becomes 4097 and the next record is misread
        }}),
    [](const auto& info) { return std::string(info.param.name); });

// The serial number layout in EEPROM: characters, a zero when shorter than 8,
// then the 16-bit sum, low byte first.
TEST(SerialNumber, StoredAsTheUnitKeepsIt) {
  sim::UnitState s;
  s.StoreSerialNumber("1234567");
  const auto& e = s.main.eeprom;
  EXPECT_EQ(std::string(e.begin() + 0x40, e.begin() + 0x47), "1234567");
  EXPECT_EQ(e[0x47], 0);
  const unsigned sum = '1' + '2' + '3' + '4' + '5' + '6' + '7';
  EXPECT_EQ(e[0x48], sum & 0xFF);
  EXPECT_EQ(e[0x49], sum >> 8);
  EXPECT_EQ(s.SerialNumber(), "1234567");
  s.main.eeprom[0x48] ^= 1;
  EXPECT_EQ(s.SerialNumber(), "");

  s.StoreSerialNumber("87654321");
  EXPECT_EQ(s.main.eeprom[0x48] | (s.main.eeprom[0x49] << 8), '8' + '7' + '6' + '5' + '4' + '3' + '2' + '1');
  EXPECT_EQ(s.SerialNumber(), "87654321");
}

TEST(Profiles, RevisionThreeUnitCarriesItsFlashChecksumInEeprom) {
  const sim::UnitState s = sim::Profile::K4vRev3().MakeState();
  const uint16_t sum = s.FlashChecksum();
  EXPECT_EQ(s.main.eeprom[14] | (s.main.eeprom[15] << 8), sum);
  EXPECT_EQ(s.main.eeprom[0], 0x76);
  EXPECT_EQ(s.main.eeprom[1], 0x76);
  EXPECT_EQ(sim::Profile::K4vStandard().MakeState().main.eeprom[14], 0xFF);
}

TEST(Profiles, EveryProfileBuildsAndUnknownNamesAreRefused) {
  for (const auto& p : sim::Profile::All()) {
    EXPECT_NO_THROW(p.MakeState()) << p.name;
    EXPECT_EQ(sim::Profile::ByName(p.name).name, p.name);
  }
  EXPECT_THROW(sim::Profile::ByName("k5"), std::invalid_argument);
}

}  // namespace
}  // namespace simtest
