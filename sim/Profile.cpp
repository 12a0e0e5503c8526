#include "sim/Profile.h"

#include <algorithm>
#include <stdexcept>

#include "images/StartingFirmware.h"

namespace sim {

namespace {

void Load(std::vector<uint8_t>& memory, const std::string& image) {
  std::fill(memory.begin(), memory.end(), 0xFF);
  if (image.empty()) return;
  const startfw::Blob blob = startfw::Find(image);
  if (!blob.data || blob.size == 0) throw std::runtime_error("starting firmware '" + image + "' is not in this build");
  if (blob.size > memory.size()) throw std::runtime_error("starting firmware '" + image + "' does not fit its memory");
  std::copy(blob.data, blob.data + blob.size, memory.begin());
}

Profile Variant(Profile p, std::string name, std::string description) {
  p.name = std::move(name);
  p.description = std::move(description);
  return p;
}

// A unit of another model of the family whose flash holds nothing this build
// knows: it sits in its boot loader.
Profile OtherModel(std::string name, std::string model, std::string loaderIdentification) {
  Profile p = Variant(Profile::K4vStandard(), std::move(name), model + " with an erased flash, in its boot loader");
  p.model = std::move(model);
  p.loaderIdentification = std::move(loaderIdentification);
  p.flashImage.clear();
  p.xflashImage.clear();
  p.programmed = false;
  p.program = Program::BootLoader;
  return p;
}

}  // namespace

UnitState Profile::MakeState() const {
  UnitState s;
  s.profileName = name;
  s.model = model;
  s.boardRevision = boardRevision;

  auto& m = s.main;
  m.loader.identification = loaderIdentification;
  m.loader.versionDigits = loaderVersionDigits;
  m.loader.queryAnswer = loaderQueryAnswer;
  m.applicationBaud = applicationBaud;
  m.program = program;
  switch (program) {
    case Program::Application:
    case Program::DebugMode: m.lineBaud = applicationBaud; break;
    case Program::BootLoader: m.lineBaud = LOADER_BAUD; break;
    case Program::Programmer: m.lineBaud = PROGRAMMER_BAUD; break;
    case Program::VideoBoardLoader: m.lineBaud = videoLoaderBaud; break;
  }
  if (startBaud) m.lineBaud = *startBaud;
  m.signature = signature;
  m.checksumBlank = checksumBlank;

  Load(m.flash, flashImage);
  Load(s.xflash.data, xflashImage);
  if (programmed) {
    m.eeprom[PROGRAMMED_MARK_ADDRESS] = PROGRAMMED_MARK;
    m.eeprom[PROGRAMMED_MARK_ADDRESS + 1] = PROGRAMMED_MARK;
    m.eeprom[OPTION_BYTE_ADDRESS] = optionByte;
    if (boardRevision == 3) {
      const uint16_t sum = s.FlashChecksum();
      m.eeprom[EEPROM_CHECKSUM_ADDRESS] = static_cast<uint8_t>(sum & 0xFF);
      m.eeprom[EEPROM_CHECKSUM_ADDRESS + 1] = static_cast<uint8_t>(sum >> 8);
    }
  }
  if (!serialNumber.empty()) {
    s.StoreSerialNumber(serialNumber);
    if (!serialChecksumValid) {
      const size_t n = std::min(serialNumber.size(), SERIAL_NUMBER_MAX_CHARS);
      const size_t at = SERIAL_NUMBER_ADDRESS + n + (n < SERIAL_NUMBER_MAX_CHARS ? 1 : 0);
      ++m.eeprom[at];
    }
  }
  s.xflash.chip = xflashChip;
  s.zones.on = zonesOn;
  s.zones.rules = powerUp;
  s.clock.format24h = clock24h;

  s.video.loaderIdentification = videoLoaderIdentification;
  s.video.loaderBaud = videoLoaderBaud;
  return s;
}

Profile Profile::K4vStandard() {
  Profile p;
  p.name = "k4v";
  p.description = "Solstrand K4v, standard main board, running its 3.02 application at 19200 baud";
  return p;
}

Profile Profile::K4vRev3() {
  Profile p = Variant(K4vStandard(), "k4v-rev3", "Solstrand K4v, revision-3 main board, running its 3.02 application");
  p.boardRevision = 3;
  p.loaderIdentification = "SOLSTRAND K4v3 ISP";
  p.flashImage = "main_app_v3";
  p.xflashImage = "xflash_model12";
  return p;
}

std::vector<Profile> Profile::All() {
  std::vector<Profile> all{K4vStandard(), K4vRev3()};

  Profile p = Variant(K4vStandard(), "k4v-57600", "Solstrand K4v whose application answers only at 57600 baud");
  p.applicationBaud = 57600;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-240v", "Solstrand K4v whose boot loader names the 240 V variant");
  p.loaderIdentification = "SOLSTRAND K4v2 ISP 240V";
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-loader", "Solstrand K4v in its boot loader, which answers \"?\" with \"??\"");
  p.program = Program::BootLoader;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-loader-ident", "Solstrand K4v in its boot loader, which answers \"?\" with its identification");
  p.program = Program::BootLoader;
  p.loaderQueryAnswer = LoaderQueryAnswer::Identification;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-loader201", "Solstrand K4v with a version 2.01 boot loader, in the loader");
  p.program = Program::BootLoader;
  p.loaderVersionDigits = "21";
  p.signature = {0x1E, 0x97, 0x01};  // answered 0x01 0x97 0x1E, as that loader generation reports
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-wrong-signature", "Solstrand K4v whose processor reports another signature (1E 97 04), in its loader");
  p.program = Program::BootLoader;
  p.signature = {0x1E, 0x97, 0x04};
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-loader-115200", "Solstrand K4v in its boot loader, left at 115200 baud by an interrupted installation");
  p.program = Program::BootLoader;
  p.startBaud = 115200;
  all.push_back(p);

  p = Variant(K4vRev3(), "k4v-rev3-loader", "Solstrand K4v, revision-3 main board, in its boot loader");
  p.program = Program::BootLoader;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-blank", "Solstrand K4v after an interrupted programming: flash erased, marks cleared, in its loader");
  p.flashImage.clear();
  p.programmed = false;
  p.program = Program::BootLoader;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-debug", "Solstrand K4v in the debug mode of its application");
  p.program = Program::DebugMode;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-programmer", "Solstrand K4v running the EEPROM programmer firmware");
  p.flashImage = "programmer";
  p.program = Program::Programmer;
  all.push_back(p);

  p = Variant(K4vRev3(), "k4v-rev3-programmer", "Solstrand K4v, revision-3 main board, running the flash programmer firmware");
  p.flashImage = "programmer_v3";
  p.program = Program::Programmer;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-standby", "Solstrand K4v in standby: zone 1 reports on at the third query after \"P1P1\", the debug state 9 at the third \"dP?\"");
  p.zonesOn = {false, false, false};
  p.powerUp.zone1OnAfterQueries = 2;
  p.powerUp.debugReadyAfterQueries = 2;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-12h", "Solstrand K4v with a 12-hour clock");
  p.clock24h = false;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-cs-no-blank", "Solstrand K4v that reports its checksum without a blank after \"Checksum:\"");
  p.checksumBlank = false;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-xflash-a401", "Solstrand K4v with an \"a401\" external flash (64 KB sectors)");
  p.xflashChip = "a401";
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-xflash-small", "Solstrand K4v with a too small \"b6bf\" external flash (256 KB)");
  p.xflashChip = "b6bf";
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-serial-placeholder", "Solstrand K4v whose EEPROM holds the placeholder serial number 01234567");
  p.serialNumber = "01234567";
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-serial-bad-checksum", "Solstrand K4v whose serial number's checksum does not match");
  p.serialChecksumValid = false;
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-serial-none", "Solstrand K4v without a serial number in its EEPROM");
  p.serialNumber.clear();
  all.push_back(p);

  p = Variant(K4vStandard(), "k4v-video-loader", "Solstrand K4v whose video board boot loader answers on the line");
  p.program = Program::VideoBoardLoader;
  all.push_back(p);

  all.push_back(OtherModel("k4", "Solstrand K4", "SOLSTRAND K4 ISP"));
  all.push_back(OtherModel("qor60v", "QOR 60v", "QOR 60v2 ISP"));
  return all;
}

std::optional<Profile> Profile::Find(std::string_view name) {
  for (auto& p : All())
    if (p.name == name) return p;
  return std::nullopt;
}

Profile Profile::ByName(std::string_view name) {
  auto p = Find(name);
  if (!p) throw std::invalid_argument("unknown unit profile '" + std::string(name) + "'");
  return *p;
}

}  // namespace sim
