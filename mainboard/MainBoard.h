// Facts of the main board shared by its operations: failure texts, addresses
// in the main processor's EEPROM, and small pure rules that tests check.
#pragma once

#include "BuildConfig.h"

#include <cstdint>
#include <string>

namespace mainboard {

inline constexpr const char* LOADER_NOT_RESPONDING_TEXT = K4V_MODEL_NAME " loader not responding";
inline constexpr const char* LOADER_NOT_RESPONDING_FAST_TEXT = K4V_MODEL_NAME " loader not responding at 115200 kbs";
inline constexpr const char* MAIN_PROCESSOR_NOT_RESPONDING_TEXT = K4V_MODEL_NAME " main processor not responding";
inline constexpr const char* FAILED_TO_SWITCH_TEXT = "Failed to switch to 115200 kbs";

// Main processor EEPROM.
inline constexpr uint16_t PROGRAMMED_MARK_ADDRESS_0 = 0;
inline constexpr uint16_t PROGRAMMED_MARK_ADDRESS_1 = 1;
inline constexpr uint8_t PROGRAMMED_MARK = 0x76;
inline constexpr uint16_t OPTION_BYTE_ADDRESS = 2;
inline constexpr uint16_t EEPROM_CHECKSUM_ADDRESS = 14;
inline constexpr uint16_t SERIAL_NUMBER_ADDRESS = 0x40;

// Main processor flash.
inline constexpr uint32_t FLASH_PAGE_WORDS = 128;
inline constexpr uint32_t FLASH_WORDS_STANDARD = 0x20000;
inline constexpr uint32_t FLASH_WORDS_REV3 = 0x1F000;

// The loader's version from its two answer digits: (d0 - '0') x 100 +
// (d1 - '0') when d0 is "1" to "9", else 0; d1 is used as it comes.
int32_t LoaderVersionFromDigits(uint8_t d0, uint8_t d1);

// Model codes of the revision-3 main boards.
inline bool IsRevision3Board(int32_t model) { return model == 8 || model == 12; }

// The unit's own code for a port rate index (the digit of "SSB" and "dB").
int UnitBaudCode(int32_t baudIndex);

// Serial numbers treated as missing.
bool IsPlaceholderSerialNumber(const std::string& text);

// "STC" + time of day + LF in the 24-hour form ("STC15:07") or the 12-hour
// form ("STC03:07PM"), whatever the locale.
std::string ClockTimeCommand(int hour, int minute, bool twentyFourHour);

}  // namespace mainboard
