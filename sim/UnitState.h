// The virtual unit's state: plain structs that describe the whole unit at one
// moment, copied out for tests (Snapshot), changed by tests (Mutate) and saved
// to a state file so that a second installation meets the unit the first one
// left.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// What the main processor runs. The video board's boot loader is listed here
// because, while it answers on the line, it is what the serial line reaches.
enum class Program { Application, DebugMode, BootLoader, Programmer, VideoBoardLoader };

const char* ProgramName(Program program);
std::optional<Program> ProgramFromName(std::string_view name);

// The boot loader's answer to "?": the older loaders answer every byte they do
// not know with "?" ("?" + LF gives "??"); the newer ones identify themselves.
enum class LoaderQueryAnswer { QuestionMarks, Identification };

// Main processor geometry (ATmega2561).
constexpr size_t MAIN_FLASH_BYTES = 256 * 1024;
constexpr size_t FLASH_PAGE_WORDS = 128;
constexpr size_t MAIN_EEPROM_BYTES = 4096;
// Flash words the flash checksum covers on the two main-board revisions.
constexpr size_t STANDARD_BOARD_FLASH_WORDS = 0x20000;
constexpr size_t REV3_BOARD_FLASH_WORDS = 0x1F000;

// EEPROM layout the main processor's programs rely on.
constexpr size_t PROGRAMMED_MARK_ADDRESS = 0;  // bytes 0 and 1
constexpr uint8_t PROGRAMMED_MARK = 0x76;
constexpr size_t OPTION_BYTE_ADDRESS = 2;
constexpr size_t EEPROM_CHECKSUM_ADDRESS = 14;  // bytes 14 (low) and 15 (high)
constexpr size_t SERIAL_NUMBER_ADDRESS = 0x40;
constexpr size_t SERIAL_NUMBER_MAX_CHARS = 8;

// External flash on the main board.
constexpr size_t XFLASH_BYTES = 512 * 1024;

// The rate every boot loader starts at.
constexpr uint32_t LOADER_BAUD = 19200;
// The rate the programmer firmware listens at.
constexpr uint32_t PROGRAMMER_BAUD = 19200;

// Fuse bytes, indexed by the loader's read commands "F", "G" and "J".
enum FuseIndex : size_t { FUSE_F = 0, FUSE_G = 1, FUSE_J = 2 };

struct BootLoaderState {
  std::string identification;      // answer to "S", e.g. "SOLSTRAND K4v2 ISP"
  std::string versionDigits;       // answer to "V", two characters, e.g. "35" for version 305
  LoaderQueryAnswer queryAnswer = LoaderQueryAnswer::QuestionMarks;

  bool operator==(const BootLoaderState&) const = default;
};

struct MainProcessorState {
  Program program = Program::Application;
  uint32_t lineBaud = 19200;          // the rate the program holding the line listens at now
  uint32_t applicationBaud = 19200;   // the rate the application listens at when it starts
  std::vector<uint8_t> flash = std::vector<uint8_t>(MAIN_FLASH_BYTES, 0xFF);  // as it lies in flash: words low byte first
  std::vector<uint8_t> eeprom = std::vector<uint8_t>(MAIN_EEPROM_BYTES, 0xFF);
  std::array<uint8_t, 3> fuses{0xD0, 0xD1, 0xFF};          // F, G, J
  std::array<uint8_t, 3> signature{0x1E, 0x98, 0x02};      // first byte first (the loader sends them last first)
  BootLoaderState loader;

  bool operator==(const MainProcessorState&) const = default;
};

struct ExternalFlashState {
  std::vector<uint8_t> data = std::vector<uint8_t>(XFLASH_BYTES, 0xFF);

  bool operator==(const ExternalFlashState&) const = default;
};

struct ZoneState {
  std::array<bool, 3> on{true, false, false};  // zone 1 (main), 2, 3

  bool operator==(const ZoneState&) const = default;
};

struct ClockState {
  bool format24h = true;
  int weekday = 0;            // 1 = Sunday .. 7 = Saturday, 0 = not set
  std::string timeOfDay;      // as last set, e.g. "15:07" or "03:07PM"

  bool operator==(const ClockState&) const = default;
};

// The DSP module behind the main processor (identification only so far).
struct DspModuleState {
  bool present = true;
  uint32_t identification = 0x720;
  uint32_t revision = 0;

  bool operator==(const DspModuleState&) const = default;
};

// The video board (its controller's boot loader identification so far).
struct VideoBoardState {
  bool present = true;
  std::string loaderIdentification = "DVB BOOT GF9452v 0.24";
  uint32_t loaderBaud = 19200;   // the rate its boot loader answers at when it holds the line

  bool operator==(const VideoBoardState&) const = default;
};

struct UnitState {
  std::string profileName;
  std::string model;              // e.g. "Solstrand K4v"
  int boardRevision = 2;          // main board: 2 standard, 3 revision 3
  bool powered = true;

  MainProcessorState main;
  ExternalFlashState xflash;
  ZoneState zones;
  ClockState clock;
  DspModuleState dsp;
  VideoBoardState video;

  bool operator==(const UnitState&) const = default;

  // The serial number stored in EEPROM from SERIAL_NUMBER_ADDRESS: up to 8
  // characters, a zero when shorter, then the 16-bit sum of the characters
  // (low byte first). Empty when nothing valid is stored.
  std::string SerialNumber() const;
  void StoreSerialNumber(std::string_view text);
  // The 16-bit flash checksum the running program reports: the sum of both
  // bytes of every flash word the board's checksum covers.
  uint16_t FlashChecksum() const;
};

}  // namespace sim
