// Unit profiles: the starting state of a kind of unit (model, main-board
// revision, boot loader, firmware in flash, the rate its application answers
// at, what runs when the test begins).
#pragma once

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

  // Main processor: the starting firmware in its flash by name ("" for an
  // erased flash), whether the EEPROM carries the programmed marks, the rate
  // the application answers at, and what runs at the start.
  std::string flashImage = "main_app";
  bool programmed = true;
  uint32_t applicationBaud = 19200;
  Program program = Program::Application;
  uint8_t optionByte = 0x04;
  std::string serialNumber = "10473921";  // "" for none stored

  // External flash content by starting-firmware name ("" for erased).
  std::string xflashImage = "xflash";

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
