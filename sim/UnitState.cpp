#include "sim/UnitState.h"

#include <algorithm>

namespace sim {

namespace {

struct ProgramNameEntry {
  Program program;
  const char* name;
};

constexpr ProgramNameEntry PROGRAM_NAMES[] = {
    {Program::Application, "application"},
    {Program::DebugMode, "debug-mode"},
    {Program::BootLoader, "boot-loader"},
    {Program::Programmer, "programmer"},
    {Program::VideoBoardLoader, "video-board-loader"},
};

constexpr ExternalFlashChip CHIPS[] = {
    {"b7bf", 512 * 1024, 4096},
    {"a401", 512 * 1024, 64 * 1024},
    {"b6bf", 256 * 1024, 4096},
};

}  // namespace

std::optional<ExternalFlashChip> FindExternalFlashChip(std::string_view identification) {
  for (const auto& c : CHIPS)
    if (identification == c.identification) return c;
  return std::nullopt;
}

const char* ProgramName(Program program) {
  for (const auto& e : PROGRAM_NAMES)
    if (e.program == program) return e.name;
  return "unknown";
}

std::optional<Program> ProgramFromName(std::string_view name) {
  for (const auto& e : PROGRAM_NAMES)
    if (name == e.name) return e.program;
  return std::nullopt;
}

std::string UnitState::SerialNumber() const {
  const auto& e = main.eeprom;
  std::string text;
  uint16_t sum = 0;
  size_t i = 0;
  for (; i < SERIAL_NUMBER_MAX_CHARS; ++i) {
    const uint8_t c = e[SERIAL_NUMBER_ADDRESS + i];
    if (c == 0) {
      ++i;  // the zero that ends a short number
      break;
    }
    text.push_back(static_cast<char>(c));
    sum = static_cast<uint16_t>(sum + c);
  }
  if (text.empty()) return {};
  const size_t at = SERIAL_NUMBER_ADDRESS + i;
  const uint16_t stored = static_cast<uint16_t>(e[at] | (e[at + 1] << 8));
  return stored == sum ? text : std::string{};
}

void UnitState::StoreSerialNumber(std::string_view text) {
  if (text.size() > SERIAL_NUMBER_MAX_CHARS) text = text.substr(0, SERIAL_NUMBER_MAX_CHARS);
  auto& e = main.eeprom;
  uint16_t sum = 0;
  size_t at = SERIAL_NUMBER_ADDRESS;
  for (char c : text) {
    e[at++] = static_cast<uint8_t>(c);
    sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
  }
  if (text.size() < SERIAL_NUMBER_MAX_CHARS) e[at++] = 0;
  e[at] = static_cast<uint8_t>(sum & 0xFF);
  e[at + 1] = static_cast<uint8_t>(sum >> 8);
}

uint16_t UnitState::FlashChecksum() const {
  const size_t words = boardRevision == 3 ? REV3_BOARD_FLASH_WORDS : STANDARD_BOARD_FLASH_WORDS;
  const size_t bytes = std::min(words * 2, main.flash.size());
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) sum += main.flash[i];
  return static_cast<uint16_t>(sum);
}

}  // namespace sim
