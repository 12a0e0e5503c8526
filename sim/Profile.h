// Unit profiles: the starting state of a kind of unit (model, main-board
// revision, boot loader, firmware in flash, the rate its application answers
// at, what runs when the test begins).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/UnitState.h"

namespace sim {

struct Profile {
  std::string name;
  std::string description;
  std::string model = "Solstrand K4v";
  int boardRevision = 2;

  // Boot loader.
  std::string loaderIdentification = "SOLSTRAND K4v2 ISP";
  std::string loaderVersionDigits = "35";
  LoaderQueryAnswer loaderQueryAnswer = LoaderQueryAnswer::QuestionMarks;
  // The signature bytes the loader reports, first byte first (ATmega2561).
  std::array<uint8_t, 3> signature{0x1E, 0x98, 0x02};

  // Main processor: the starting firmware in its flash by name ("" for an
  // erased flash), whether the EEPROM carries the programmed marks, the rate
  // the application answers at, and what runs at the start.
  std::string flashImage = "main_app";
  bool programmed = true;
  uint32_t applicationBaud = 19200;
  Program program = Program::Application;
  // The rate the starting program listens at when it is not its own (a loader
  // left at 115200 by an interrupted installation).
  std::optional<uint32_t> startBaud;
  uint8_t optionByte = 0x04;
  std::string serialNumber = "10473921";  // "" for none stored
  bool serialChecksumValid = true;        // false: the stored checksum is off by one
  bool checksumBlank = true;              // "Checksum: 1A2B" or "Checksum:1A2B"

  // Zones, start-up from standby, clock.
  std::array<bool, 3> zonesOn{true, false, false};
  PowerUpRules powerUp;
  bool clock24h = true;

  // External flash content by starting-firmware name ("" for erased).
  std::string xflashImage = "xflash";
  std::string xflashChip = "b7bf";  // "b7bf", "a401" or the too small "b6bf"

  // Video board.
  std::string videoLoaderIdentification = "DVB BOOT GF9452v 0.24";
  uint32_t videoLoaderBaud = 19200;

  // The unit in this profile's starting state. Throws std::runtime_error when
  // a named starting firmware is not in the build.
  UnitState MakeState() const;

  // A Solstrand K4v on the standard main board, running its 3.02 application.
  static Profile K4vStandard();
  // The same on the revision-3 main board.
  static Profile K4vRev3();
  // The profile of that name; throws std::invalid_argument for an unknown one.
  static Profile ByName(std::string_view name);
  static std::optional<Profile> Find(std::string_view name);
  static std::vector<Profile> All();
};

}  // namespace sim
