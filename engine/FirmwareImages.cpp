// The image access layer over the embedded image set.
//
// The build assembles the set into one read-only section (images/): for each
// catalogue entry, in catalogue order, the table k4v_image_table holds three
// 32-bit words: the image's offset from k4v_image_base, its byte count, and the
// offset of the checksum block in front of it (0xFFFFFFFF when it has none).
#include "engine/FirmwareImages.h"

#include "engine/Crc32.h"
#include "images/ImageCatalogue.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

extern "C" {
extern const unsigned char k4v_image_base[];
extern const uint32_t k4v_image_table[];
extern const uint32_t k4v_image_count;
}

namespace {

constexpr uint32_t NO_BLOCK = 0xFFFFFFFF;
constexpr uint32_t TABLE_WORDS_PER_IMAGE = 3;

struct IdInfo {
  const char* name;
  ElementUnit unit;     // for the stand-in of an image that is not carried
  bool hasStoredCrc;    // for the stand-in
};

constexpr std::array<IdInfo, IMAGE_ID_COUNT> ID_INFO = {{
    {"MAIN_APP_IMAGE", ElementUnit::WORD16, true},
    {"MAIN_APP_IMAGE_V3", ElementUnit::WORD16, true},
    {"PROGRAMMER_IMAGE", ElementUnit::WORD16, true},
    {"PROGRAMMER_IMAGE_V3", ElementUnit::WORD16, true},
    {"XFLASH_TEXT_TABLE", ElementUnit::BYTE, false},
    {"XFLASH_TEXT_TABLE_MODEL12", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_2", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_3", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_4", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_5", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_6", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_7", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_8", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_9", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_10", ElementUnit::BYTE, false},
    {"XFLASH_BLOCK_11", ElementUnit::BYTE, false},
    {"DSP_CORE0_IMAGE", ElementUnit::DSP_WORD24, true},
    {"DSP_CORE1_IMAGE", ElementUnit::DSP_WORD24, true},
    {"OKI_IMAGE_11", ElementUnit::WORD16, true},
    {"OKI_IMAGE_12", ElementUnit::WORD16, true},
    {"OKI_IMAGE_13", ElementUnit::WORD16, true},
    {"OKI_IMAGE_14", ElementUnit::WORD16, true},
    {"OKI_IMAGE_15", ElementUnit::WORD16, true},
    {"OKI_IMAGE_16", ElementUnit::WORD16, true},
    {"OKI_IMAGE_17", ElementUnit::WORD16, true},
    {"OKI_IMAGE_18", ElementUnit::WORD16, true},
    {"OKI_IMAGE_19", ElementUnit::WORD16, true},
    {"OKI_IMAGE_20", ElementUnit::WORD16, true},
    {"OKI_IMAGE_21", ElementUnit::WORD16, true},
    {"OKI_IMAGE_22", ElementUnit::WORD16, true},
    {"OKI_IMAGE_23", ElementUnit::WORD16, true},
    {"OKI_IMAGE_24", ElementUnit::WORD16, true},
    {"VIDEO_UC_RAM_IMAGE", ElementUnit::BYTE, false},
    {"VIDEO_UNIFIED_IMAGE", ElementUnit::BYTE, false},
    {"CPLD_IMAGE", ElementUnit::BYTE, false},
    {"CPLD_CHECK_IMAGE", ElementUnit::BYTE, false},
    {"FPGA_CONFIG_IMAGE", ElementUnit::BYTE, false},
    {"FPGA_CONFIG_CHECK_IMAGE", ElementUnit::BYTE, false},
    {"NO_IMAGE", ElementUnit::WORD16, true},
}};

// Catalogue index of each identifier (CATALOGUE_SIZE: not carried).
constexpr std::array<size_t, IMAGE_ID_COUNT> MakeCatalogueIndex() {
  std::array<size_t, IMAGE_ID_COUNT> index{};
  for (size_t id = 0; id < IMAGE_ID_COUNT; ++id) index[id] = k4vimg::CatalogueIndex(ID_INFO[id].name);
  return index;
}
constexpr std::array<size_t, IMAGE_ID_COUNT> CATALOGUE_INDEX = MakeCatalogueIndex();

// Every catalogue entry has an identifier with the same unit and a matching
// stored-CRC flag.
constexpr bool CatalogueMatchesIds() {
  size_t carried = 0;
  for (size_t id = 0; id < IMAGE_ID_COUNT; ++id) {
    const size_t c = CATALOGUE_INDEX[id];
    if (c == k4vimg::CATALOGUE_SIZE) continue;
    ++carried;
    if (static_cast<uint8_t>(k4vimg::CATALOGUE[c].unit) != static_cast<uint8_t>(ID_INFO[id].unit)) return false;
    if ((k4vimg::CATALOGUE[c].crc != k4vimg::CrcCover::NOT_STORED) != ID_INFO[id].hasStoredCrc) return false;
  }
  return carried == k4vimg::CATALOGUE_SIZE;
}
static_assert(CatalogueMatchesIds(), "image identifiers and the catalogue disagree");

// The stand-in of an image this build lacks: one zero element.
alignas(4) constexpr uint8_t ZERO_ELEMENT[4] = {0, 0, 0, 0};

uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The stored CRC of catalogue entry `c` from its pair's checksum block.
uint32_t EmbeddedStoredCrc(size_t c) {
  const std::string_view name = k4vimg::CATALOGUE[c].name;
  for (const auto& pair : k4vimg::CHECKSUM_PAIRS) {
    int word = -1;
    if (pair.first == name) word = 0;
    else if (pair.second == name) word = 1;
    if (word < 0) continue;
    const uint32_t blockOffset = k4v_image_table[k4vimg::CatalogueIndex(pair.first) * TABLE_WORDS_PER_IMAGE + 2];
    if (blockOffset == NO_BLOCK) return 0;
    return LoadLe32(k4v_image_base + blockOffset + 4 * word);
  }
  return 0;
}

FirmwareImage EmbeddedImage(ImageId id) {
  const IdInfo& info = ID_INFO[id];
  FirmwareImage image;
  image.unit = info.unit;
  image.hasStoredCrc = info.hasStoredCrc;
  const size_t c = CATALOGUE_INDEX[id];
  if (c == k4vimg::CATALOGUE_SIZE || c >= k4v_image_count) {
    image.bytes = ZERO_ELEMENT;
    image.byteCount = static_cast<uint32_t>(info.unit);
    image.elementCount = 1;
    image.storedCrc = 0;
    return image;
  }
  image.bytes = k4v_image_base + k4v_image_table[c * TABLE_WORDS_PER_IMAGE];
  image.byteCount = k4v_image_table[c * TABLE_WORDS_PER_IMAGE + 1];
  image.elementCount = image.byteCount / static_cast<uint32_t>(info.unit);
  image.carried = true;
  image.storedCrc = info.hasStoredCrc ? EmbeddedStoredCrc(c) : 0;
  return image;
}

// Test substitutions.
struct Substitute {
  std::vector<uint8_t> bytes;
  bool hasBytes = false;
  bool hasCrc = false;
  uint32_t crc = 0;
};
std::mutex g_substituteMutex;
std::map<ImageId, Substitute> g_substitutes;

}  // namespace

ImageId OkiImageId(uint32_t number) {
  if (number < 11 || number > 24) return NO_IMAGE;
  return static_cast<ImageId>(OKI_IMAGE_11 + (number - 11));
}

ImageId VideoImageId(uint32_t number) {
  if (number == 10) return VIDEO_UC_RAM_IMAGE;
  if (number == 11) return VIDEO_UNIFIED_IMAGE;
  return NO_IMAGE;
}

const char* ImageIdName(ImageId id) { return id < IMAGE_ID_COUNT ? ID_INFO[id].name : "NO_IMAGE"; }

FirmwareImage GetFirmwareImage(ImageId id) {
  if (id >= IMAGE_ID_COUNT) id = NO_IMAGE;
  FirmwareImage image = EmbeddedImage(id);
  std::lock_guard<std::mutex> lock(g_substituteMutex);
  const auto it = g_substitutes.find(id);
  if (it == g_substitutes.end()) return image;
  const Substitute& s = it->second;
  if (s.hasBytes) {
    image.bytes = s.bytes.data();
    image.byteCount = static_cast<uint32_t>(s.bytes.size());
    image.elementCount = image.byteCount / static_cast<uint32_t>(image.unit);
    image.carried = true;
  }
  if (s.hasCrc) {
    image.storedCrc = s.crc;
    image.hasStoredCrc = true;
  }
  return image;
}

uint32_t StoredCrcByteCount(const FirmwareImage& image) {
  if (!image.hasStoredCrc) return 0;
  if (image.unit != ElementUnit::DSP_WORD24) return image.byteCount;
  // Rounding up to whole blocks never reaches past the image: an image whose
  // word count is not a multiple of the block is checked up to its end.
  const uint32_t words = TrimBlankWords24(image.Slots24(), image.elementCount, k4vimg::DSP_TRIM_BLOCK);
  return 4 * std::min(words, image.elementCount);
}

bool ImageCrcMatches(const FirmwareImage& image) {
  if (!image.hasStoredCrc) return false;
  InitCrc32Table();
  return Crc32(image.bytes, StoredCrcByteCount(image)) == image.storedCrc;
}

bool SubstituteImageBytes(ImageId id, const std::vector<uint8_t>& bytes) {
  if (id >= IMAGE_ID_COUNT) return false;
  const size_t unit = static_cast<size_t>(ID_INFO[id].unit);
  if (bytes.empty() || bytes.size() % unit != 0 || bytes.size() > 0xFFFFFFFFu) return false;
  std::lock_guard<std::mutex> lock(g_substituteMutex);
  Substitute& s = g_substitutes[id];
  s.bytes = bytes;
  s.hasBytes = true;
  return true;
}

void SubstituteStoredCrc(ImageId id, uint32_t crc) {
  if (id >= IMAGE_ID_COUNT) return;
  std::lock_guard<std::mutex> lock(g_substituteMutex);
  Substitute& s = g_substitutes[id];
  s.crc = crc;
  s.hasCrc = true;
}

void RestoreFirmwareImages() {
  std::lock_guard<std::mutex> lock(g_substituteMutex);
  g_substitutes.clear();
}
