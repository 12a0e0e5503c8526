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

// External flash on the main board: room for the largest chip the board
// takes; a smaller chip uses the start of it.
constexpr size_t XFLASH_BYTES = 512 * 1024;
constexpr size_t XFLASH_PAGE_BYTES = 128;

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
  std::array<uint8_t, 3> signature{0x1E, 0x98, 0x02};      // as the loader reports them, first byte first (it sends them last first)
  BootLoaderState loader;
  bool checksumBlank = true;          // "Checksum: 1A2B" (true) or "Checksum:1A2B"

  bool operator==(const MainProcessorState&) const = default;
};

// The external flash chips the main board is fitted with, by the
// identification the chip reports (device code, then maker code).
struct ExternalFlashChip {
  const char* identification;  // e.g. "b7bf"
  size_t bytes;                // capacity
  size_t sectorBytes;          // erase unit
};
// The chip of that identification; nothing for one this board never carries.
std::optional<ExternalFlashChip> FindExternalFlashChip(std::string_view identification);

struct ExternalFlashState {
  std::vector<uint8_t> data = std::vector<uint8_t>(XFLASH_BYTES, 0xFF);
  std::string chip = "b7bf";  // "b7bf" 512 KB in 4 KB sectors, "a401" 512 KB in 64 KB sectors, "b6bf" 256 KB in 4 KB sectors
  // Erasing and writing are allowed between "del0" and "del1" (or until the
  // main processor restarts); not kept in the state file.
  bool writable = false;

  bool operator==(const ExternalFlashState&) const = default;
};

// When a unit switched on from standby (zone 1 on with "P1P1") is ready: zone
// 1 reports on after that many "P1P?" queries and that much time since the
// switch-on, and the debug mode's state query "dP?" reaches 9 after that many
// queries and that much time. 0 is no condition.
struct PowerUpRules {
  uint32_t zone1OnAfterQueries = 0;
  uint32_t zone1OnAfterMs = 0;
  uint32_t debugReadyAfterQueries = 0;
  uint32_t debugReadyAfterMs = 0;

  bool operator==(const PowerUpRules&) const = default;
};

struct ZoneState {
  std::array<bool, 3> on{true, false, false};  // zone 1 (main), 2, 3
  PowerUpRules rules;
  // The switch-on in progress or done, in ms since the unit started serving;
  // nothing when zone 1 was on from the start (long ready) or is off. Not kept
  // in the state file.
  std::optional<double> switchedOnAtMs;
  bool zone1Starting = false;      // "P1P1" taken, zone 1 not yet reporting on
  uint32_t zone1Queries = 0;       // "P1P?" since the switch-on
  uint32_t debugStateQueries = 0;  // "dP?" since the switch-on

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
