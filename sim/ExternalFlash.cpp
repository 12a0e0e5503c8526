#include "sim/ExternalFlash.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "engine/Crc32.h"

namespace sim {

namespace {

// Status codes of erases and page writes (first answer byte, then LF).
constexpr char DONE = 'S';
constexpr char BAD_ARGUMENT = 'E';   // a field that is not lowercase hex of its width, or out of range
constexpr char PROTECTED = 'P';      // no "del0" since the program started, or "del1" since
constexpr char BAD_CRC = 'C';        // the frame's CRC-32 does not match its page number and data
constexpr char NOT_PROGRAMMED = 'V'; // the page was not erased where the data needs a 1
constexpr char ERASED_ONE = '1';     // an erase answered the way some firmware does (fault)

// A field of exactly `digits` lowercase hexadecimal digits.
std::optional<uint32_t> HexField(std::string_view text, size_t digits) {
  if (text.size() != digits) return std::nullopt;
  uint32_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      return std::nullopt;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return v;
}

std::string Status(char code) { return std::string{code, '\n'}; }

std::string CrcAnswer(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x\n", crc);
  return text;
}

uint32_t Le(const std::string& bytes, size_t at, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return v;
}

struct Chip {
  ExternalFlashChip geometry;
  std::vector<uint8_t>& data;
  size_t Pages() const { return geometry.bytes / XFLASH_PAGE_BYTES; }
  size_t Sectors() const { return geometry.bytes / geometry.sectorBytes; }
};

// The fitted chip; a state naming no known chip has the standard one.
Chip ChipOf(UnitState& s) {
  const auto g = FindExternalFlashChip(s.xflash.chip);
  return Chip{g ? *g : *FindExternalFlashChip("b7bf"), s.xflash.data};
}

}  // namespace

bool ExternalFlashCommands::OnLine(std::string_view line, UnitContext& unit, size_t& frameBytes) {
  if (line.size() < 3 || line.substr(0, 2) != "de") return false;
  UnitState& s = unit.State();
  Chip chip = ChipOf(s);
  const char kind = line[2];
  const std::string_view args = line.substr(3);

  switch (kind) {
    case 'i':  // "dei": the chip's identification
      if (!args.empty()) return false;
      unit.AnswerTo("dei", s.xflash.chip + std::string(LINE_END));
      return true;

    case 'l':  // "del0" allows erasing and writing, "del1" ends it
      if (args != "0" && args != "1") return false;
      s.xflash.writable = args == "0";
      unit.Note(s.xflash.writable ? "external flash writable" : "external flash write-protected");
      unit.Answer(ACKNOWLEDGE);
      return true;

    case 'c': {  // "dec" + offset (6 hex) + length (6 hex): CRC-32 of the range
      const auto offset = HexField(args.substr(0, std::min<size_t>(6, args.size())), 6);
      const auto length = args.size() == 12 ? HexField(args.substr(6), 6) : std::nullopt;
      if (!offset || !length || *offset + *length > chip.geometry.bytes) return false;
      unit.AnswerTo("dec", CrcAnswer(Crc32(chip.data.data() + *offset, *length)));
      return true;
    }

    case 'b': {  // "deb" + page (4 hex): CRC-32 of one page
      const auto page = HexField(args, 4);
      if (!page || *page >= chip.Pages()) return false;
      unit.AnswerTo("deb", CrcAnswer(Crc32(chip.data.data() + *page * XFLASH_PAGE_BYTES, XFLASH_PAGE_BYTES)), *page);
      return true;
    }

    case 'd': {  // "ded" + sector (4 hex): erase one sector
      const auto sector = HexField(args, 4);
      char code = DONE;
      if (!sector || *sector >= chip.Sectors())
        code = BAD_ARGUMENT;
      else if (!s.xflash.writable)
        code = PROTECTED;
      if (code == DONE) {
        const size_t first = *sector * chip.geometry.sectorBytes;
        std::fill_n(chip.data.begin() + static_cast<std::ptrdiff_t>(first), chip.geometry.sectorBytes, 0xFF);
        unit.CountErased(XFLASH);
        if (unit.Strikes(FaultKind::XflashEraseAnsweredOne, *sector)) code = ERASED_ONE;
      } else {
        unit.Note(std::string("sector erase refused with '") + code + "'");
      }
      unit.AnswerTo("ded", Status(code), sector);
      return true;
    }

    case 'a':  // "dea" + LF, then the page frame
      if (!args.empty()) return false;
      frameBytes = PAGE_FRAME_BYTES;
      return true;
  }
  return false;
}

void ExternalFlashCommands::OnFrame(const std::string& frame, UnitContext& unit) {
  UnitState& s = unit.State();
  Chip chip = ChipOf(s);
  const uint32_t page = Le(frame, 0, 2);
  const uint32_t crc = Le(frame, 2 + XFLASH_PAGE_BYTES, 4);
  const auto* data = reinterpret_cast<const uint8_t*>(frame.data()) + 2;

  const bool fault = unit.Strikes(FaultKind::XflashPageAnswer, page);
  if (fault && unit.Faults().xflashPageAnswer == PageWriteAnswer::None) {
    unit.Note("page frame " + std::to_string(page) + " dropped without an answer");
    return;
  }

  char code = DONE;
  if (Crc32(frame.data(), 2 + XFLASH_PAGE_BYTES) != crc)
    code = BAD_CRC;
  else if (page >= chip.Pages())
    code = BAD_ARGUMENT;
  else if (!s.xflash.writable)
    code = PROTECTED;
  if (code == DONE) {
    uint8_t* target = chip.data.data() + page * XFLASH_PAGE_BYTES;
    for (size_t i = 0; i < XFLASH_PAGE_BYTES; ++i) target[i] &= data[i];
    if (!std::equal(target, target + XFLASH_PAGE_BYTES, data)) code = NOT_PROGRAMMED;
    unit.CountWritten(XFLASH);
  }
  if (code != DONE) unit.Note("page " + std::to_string(page) + " write answered '" + std::string(1, code) + "'");

  std::string answer = Status(code);
  if (fault && unit.Faults().xflashPageAnswer == PageWriteAnswer::LfThenStatus) answer = std::string{'\n', code};
  if (fault && unit.Faults().xflashPageAnswer == PageWriteAnswer::LfThenZero) answer = std::string{'\n', '\0'};
  unit.AnswerTo("dea", answer, page);
}

}  // namespace sim
