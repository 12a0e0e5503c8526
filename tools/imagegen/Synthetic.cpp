// The synthetic image set: deterministic contents (the same bytes on every
// build) that keep every property the installer and the unit rely on:
//   - main processor images: an AVR vector table, the identification text at
//     byte 0x100, code, and a build record at the start of the last page, so
//     that trimming keeps every page (738 pages, 737 on revision-3 boards);
//     the programmer images end in blank pages;
//   - DSP images: every word has a top byte of 0, the first word is not blank,
//     core 0 ends in 41 blank words and still trims to its full 83840 words;
//   - controller applications: blocks 0 to 11 blank (the loader and stub
//     area), data from block 12 to the last block, the identification text at
//     the start of block 13, the first block written by the installer;
//   - identification texts as "$IDENT" + text + NUL in every image whose
//     processor answers with a text, exactly once per image.
#include "tools/imagegen/ImageGen.h"

#include "engine/Crc32.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace imagegen {
namespace {

using k4vimg::CATALOGUE;
using k4vimg::CatalogueIndex;

// SplitMix64 seeded with the FNV-1a hash of a text: the same sequence on
// every machine.
class Prng {
 public:
  explicit Prng(std::string_view seed) {
    for (unsigned char ch : seed) {
      m_state ^= ch;
      m_state *= 0x100000001B3ull;
    }
  }
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t m_state = 0xCBF29CE484222325ull;
};

void FillRandom(Bytes& b, size_t from, size_t to, Prng& prng) {
  for (size_t i = from; i < to && i < b.size(); ++i) b[i] = prng.Byte();
}

void PutLe16(Bytes& b, size_t at, uint16_t v) { StoreLe16(&b[at], v); }
void PutLe32(Bytes& b, size_t at, uint32_t v) { StoreLe32(&b[at], v); }

// "$IDENT" + text + NUL at `at`; returns the offset after the NUL.
size_t PutIdent(Bytes& b, size_t at, const std::string& text) {
  const std::string field = std::string(IDENT_MARKER) + text;
  std::memcpy(&b[at], field.data(), field.size());
  b[at + field.size()] = 0;
  return at + field.size() + 1;
}

size_t RoundUp(size_t v, size_t to) { return (v + to - 1) / to * to; }

// ATmega2561 vector table: 57 vectors of one "jmp" (two words) each; the reset
// vector jumps to the start-up code, the others to the default handler.
void PutAvrVectorTable(Bytes& b) {
  constexpr uint16_t JMP = 0x940C;
  constexpr uint16_t RESET_TARGET = 0x0140;    // word address
  constexpr uint16_t DEFAULT_HANDLER = 0x0138;  // word address
  for (size_t v = 0; v < 57; ++v) {
    PutLe16(b, v * 4, JMP);
    PutLe16(b, v * 4 + 2, v == 0 ? RESET_TARGET : DEFAULT_HANDLER);
  }
}

constexpr size_t AVR_PAGE_BYTES = 256;
constexpr size_t IDENT_OFFSET = 0x100;

// Main processor application: vectors, identification, code up to about three
// pages before the end, blank, and a build record at the start of the last
// page, so that trimming rounds up to the full page count.
Bytes MainApplication(size_t size, const std::string& ident, Prng& prng) {
  Bytes b(size, 0xFF);
  PutAvrVectorTable(b);
  FillRandom(b, 57 * 4, IDENT_OFFSET, prng);
  const size_t codeStart = RoundUp(PutIdent(b, IDENT_OFFSET, ident), 2);
  const size_t pages = size / AVR_PAGE_BYTES;
  const size_t codeEnd = (pages - 3) * AVR_PAGE_BYTES + 2 * prng.Below(128);
  FillRandom(b, codeStart, codeEnd, prng);
  const size_t record = (pages - 1) * AVR_PAGE_BYTES;
  PutLe16(b, record, 0x344B);  // "K4"
  FillRandom(b, record + 2, record + 48, prng);
  return b;
}

// Programmer firmware: vectors, identification and code filling `codePages`
// pages (the last one partly); the rest of the image is blank.
Bytes Programmer(size_t size, size_t codePages, const std::string& ident, Prng& prng) {
  Bytes b(size, 0xFF);
  PutAvrVectorTable(b);
  FillRandom(b, 57 * 4, IDENT_OFFSET, prng);
  const size_t codeStart = RoundUp(PutIdent(b, IDENT_OFFSET, ident), 2);
  const size_t codeEnd = codePages * AVR_PAGE_BYTES - 2 - 2 * prng.Below(64);
  FillRandom(b, codeStart, codeEnd, prng);
  PutLe16(b, codeEnd, 0x9508);  // "ret": the last code word is never blank
  return b;
}

constexpr size_t OKI_BLOCK_BYTES = 2048;
constexpr size_t OKI_FIRST_DATA_BLOCK = 12;
constexpr size_t OKI_FIRST_WRITTEN_BLOCK = 13;

// Controller application mapping internal flash from address 0: blocks 0 to 11
// blank, data in block 12, identification at the start of block 13, code up to
// a partly filled last block.
Bytes ControllerApplication(size_t size, const std::string& ident, Prng& prng) {
  Bytes b(size, 0xFF);
  const size_t block12 = OKI_FIRST_DATA_BLOCK * OKI_BLOCK_BYTES;
  FillRandom(b, block12, block12 + 1024, prng);
  const size_t block13 = OKI_FIRST_WRITTEN_BLOCK * OKI_BLOCK_BYTES;
  const size_t codeStart = RoundUp(PutIdent(b, block13, ident), 4);
  const size_t lastBlock = size - OKI_BLOCK_BYTES;
  const size_t codeEnd = lastBlock + 256 + 2 * prng.Below(768);
  FillRandom(b, codeStart, codeEnd, prng);
  PutLe16(b, codeEnd - 2, 0x0001);  // the last word is never blank
  return b;
}

// A program with a header of `identAt` bytes, its identification, and code up
// to codeEnd; the rest blank.
Bytes Program(size_t size, size_t identAt, size_t codeEnd, const std::string& ident, Prng& prng) {
  Bytes b(size, 0xFF);
  FillRandom(b, 0, identAt, prng);
  const size_t codeStart = PutIdent(b, identAt, ident);
  FillRandom(b, codeStart, codeEnd, prng);
  return b;
}

// DSP flash image: a first word that is not blank, random 24-bit words, and
// `blankTail` blank words at the end.
Bytes DspImage(size_t size, uint32_t firstWord, size_t blankTail, Prng& prng) {
  Bytes b(size, 0);
  const size_t words = size / 4;
  PutLe32(b, 0, firstWord);
  for (size_t w = 1; w < words - blankTail; ++w) PutLe32(b, w * 4, static_cast<uint32_t>(prng.Next()) & 0x00FFFFFF);
  PutLe32(b, (words - blankTail - 1) * 4, 0x0AF080);  // the last word before the blank tail is never blank
  for (size_t w = words - blankTail; w < words; ++w) PutLe32(b, w * 4, BLANK_WORD24);
  return b;
}

// External flash text table: records of 48 bytes, NUL padded, the first naming
// model and version.
Bytes TextTable(size_t size, const std::string& first, Prng& prng) {
  static constexpr const char* WORDS[] = {"Input",    "Zone 2",   "Volume", "Bass",    "Treble",  "Balance",
                                          "Speakers", "Delay",    "Setup",  "Video",   "Audio",   "Display",
                                          "Surround", "Stereo",   "Tuner",  "Record",  "Trigger", "Lip sync",
                                          "Dynamics", "Crossover"};
  constexpr size_t RECORD = 48;
  Bytes b(size, 0);
  for (size_t r = 0; r * RECORD < size; ++r) {
    std::string text = r == 0 ? first
                              : std::string(WORDS[prng.Below(std::size(WORDS))]) + " " +
                                    WORDS[prng.Below(std::size(WORDS))] + " " + std::to_string(r);
    text.resize(std::min(text.size(), RECORD - 1));
    std::memcpy(&b[r * RECORD], text.data(), std::min(text.size(), size - r * RECORD));
  }
  return b;
}

size_t CountMarkers(const Bytes& b) {
  const std::string_view marker(IDENT_MARKER);
  const std::string_view data(reinterpret_cast<const char*>(b.data()), b.size());
  size_t count = 0;
  for (size_t at = data.find(marker); at != std::string_view::npos; at = data.find(marker, at + 1)) ++count;
  return count;
}

}  // namespace

std::vector<Bytes> MakeSyntheticSet(const SetIdentity& id, std::string& error) {
  const std::string m = id.model;
  const std::string v = " v" + id.version;
  std::vector<Bytes> set(k4vimg::CATALOGUE_SIZE);
  std::vector<bool> hasIdent(k4vimg::CATALOGUE_SIZE, false);
  auto seed = [&](std::string_view name) { return Prng(m + "/" + id.version + "/" + std::string(name)); };
  auto put = [&](std::string_view name, Bytes bytes, bool ident) {
    const size_t i = CatalogueIndex(name);
    set[i] = std::move(bytes);
    hasIdent[i] = ident;
  };
  auto size = [](std::string_view name) { return static_cast<size_t>(CATALOGUE[CatalogueIndex(name)].bytes); };

  // Main processor.
  for (std::string_view name : {"MAIN_APP_IMAGE", "MAIN_APP_IMAGE_V3"}) {
    Prng prng = seed(name);
    put(name, MainApplication(size(name), m + v, prng), true);
  }
  {
    Prng prng = seed("PROGRAMMER_IMAGE");
    put("PROGRAMMER_IMAGE",
        Programmer(size("PROGRAMMER_IMAGE"), 40, m + " EEPROM Prog v" + id.programmerVersion, prng), true);
  }
  {
    Prng prng = seed("PROGRAMMER_IMAGE_V3");
    put("PROGRAMMER_IMAGE_V3",
        Programmer(size("PROGRAMMER_IMAGE_V3"), 42, m + " FLASH Prog v" + id.programmerVersion, prng), true);
  }

  // Main board external flash.
  {
    Prng prng = seed("XFLASH_TEXT_TABLE");
    put("XFLASH_TEXT_TABLE", TextTable(size("XFLASH_TEXT_TABLE"), m + v, prng), false);
  }
  {
    Prng prng = seed("XFLASH_TEXT_TABLE_MODEL12");
    put("XFLASH_TEXT_TABLE_MODEL12", TextTable(size("XFLASH_TEXT_TABLE_MODEL12"), m + " (rev 3)" + v, prng), false);
  }
  for (int n = 2; n <= 11; ++n) {
    const std::string name = "XFLASH_BLOCK_" + std::to_string(n);
    Prng prng = seed(name);
    Bytes b(size(name));
    FillRandom(b, 0, b.size(), prng);
    put(name, std::move(b), false);
  }

  // DSP module.
  {
    Prng prng = seed("DSP_CORE0_IMAGE");
    put("DSP_CORE0_IMAGE", DspImage(size("DSP_CORE0_IMAGE"), 0x0C0100, 41, prng), false);
  }
  {
    Prng prng = seed("DSP_CORE1_IMAGE");
    put("DSP_CORE1_IMAGE", DspImage(size("DSP_CORE1_IMAGE"), 0x0C0200, 17, prng), false);
  }

  // Video-board controller: applications, boot stubs, external boot loaders.
  // The boot loader texts are what the loader answers to "V": "DVB BOOT", the
  // video processor, "EXT" and the loader version as the first number.
  const struct {
    const char* name;
    std::string ident;
  } controller[] = {
      {"OKI_IMAGE_22", m + " OKI GF9452 app" + v},
      {"OKI_IMAGE_23", m + " OKI GF9452v app" + v},
      {"OKI_IMAGE_24", m + " OKI GF9452v-B app" + v},
  };
  for (const auto& c : controller) {
    Prng prng = seed(c.name);
    put(c.name, ControllerApplication(size(c.name), c.ident, prng), true);
  }
  {
    Prng prng = seed("OKI_IMAGE_17");
    put("OKI_IMAGE_17", Program(2048, 0x40, 1400, m + " OKI boot stub GF9452" + v, prng), true);
  }
  {
    Prng prng = seed("OKI_IMAGE_18");
    put("OKI_IMAGE_18", Program(2048, 0x40, 1464, m + " OKI boot stub GF9452v" + v, prng), true);
  }
  {
    Prng prng = seed("OKI_IMAGE_13");
    put("OKI_IMAGE_13", Program(24576, 0x100, 20480, "DVB BOOT GF9452 EXT " + id.loaderVersion + v, prng), true);
  }
  {
    Prng prng = seed("OKI_IMAGE_14");
    put("OKI_IMAGE_14", Program(24576, 0x100, 21504, "DVB BOOT GF9452v EXT " + id.loaderVersion + v, prng), true);
  }

  // Video processor: flash programmer (RAM) and unified UC and OSD flash, with
  // an unused stretch of OSD flash left blank.
  {
    Prng prng = seed("VIDEO_UC_RAM_IMAGE");
    put("VIDEO_UC_RAM_IMAGE",
        Program(size("VIDEO_UC_RAM_IMAGE"), 0x100, 13312, m + " GF9452 flash programmer" + v, prng), true);
  }
  {
    Prng prng = seed("VIDEO_UNIFIED_IMAGE");
    const size_t n = size("VIDEO_UNIFIED_IMAGE");
    Bytes b = Program(n, 0x100, n, m + " GF9452 UC+OSD flash" + v, prng);
    std::fill(b.begin() + 30 * 65536, b.begin() + 33 * 65536, 0xFF);
    put("VIDEO_UNIFIED_IMAGE", std::move(b), true);
  }

  // CPLD configurator images.
  {
    Prng prng = seed("CPLD_IMAGE");
    put("CPLD_IMAGE", Program(size("CPLD_IMAGE"), 0x20, size("CPLD_IMAGE"), m + " CPLD" + v, prng), true);
  }
  {
    Prng prng = seed("CPLD_CHECK_IMAGE");
    put("CPLD_CHECK_IMAGE",
        Program(size("CPLD_CHECK_IMAGE"), 0x20, size("CPLD_CHECK_IMAGE"), m + " CPLD check" + v, prng), true);
  }

  // Every image has its catalogue size, and exactly the program images carry
  // one identification text.
  for (size_t i = 0; i < k4vimg::CATALOGUE_SIZE; ++i) {
    if (set[i].size() != CATALOGUE[i].bytes) {
      error = "generated " + std::string(CATALOGUE[i].name) + " has the wrong size";
      return {};
    }
    if (CountMarkers(set[i]) != (hasIdent[i] ? 1u : 0u)) {
      error = "generated " + std::string(CATALOGUE[i].name) + " has a wrong number of identification texts";
      return {};
    }
  }
  return set;
}

}  // namespace imagegen
