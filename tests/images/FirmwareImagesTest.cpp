// The embedded image set: catalogue sizes and units, stored CRCs and their
// checksum blocks, the facts the installer and the unit rely on, the
// identification texts, read-only placement, and the test hook.
#include "engine/FirmwareImages.h"

#include "engine/Crc32.h"
#include "tests/images/ImageFacts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <ostream>
#include <string>
#include <unistd.h>

namespace {

using imagefacts::FindIdents;
using imagefacts::LoadLe32;

struct CatalogueCase {
  ImageId id;
  ElementUnit unit;
  uint32_t bytes;
  bool carried;
  bool hasStoredCrc;
};
void PrintTo(const CatalogueCase& c, std::ostream* os) { *os << ImageIdName(c.id); }

std::string CaseName(ImageId id) { return ImageIdName(id); }

class Catalogue : public ::testing::TestWithParam<CatalogueCase> {};

TEST_P(Catalogue, SizeUnitAndChecksum) {
  const CatalogueCase& c = GetParam();
  const FirmwareImage image = GetFirmwareImage(c.id);
  ASSERT_NE(image.bytes, nullptr);
  EXPECT_EQ(image.unit, c.unit);
  EXPECT_EQ(image.byteCount, c.bytes);
  EXPECT_EQ(image.elementCount, c.bytes / static_cast<uint32_t>(c.unit));
  EXPECT_EQ(image.carried, c.carried);
  EXPECT_EQ(image.hasStoredCrc, c.hasStoredCrc);
  if (!c.carried) {
    // One zero element; a stored CRC, where there is one, of 0 that never matches.
    EXPECT_EQ(image.elementCount, 1u);
    for (uint32_t i = 0; i < image.byteCount; ++i) EXPECT_EQ(image.bytes[i], 0);
    EXPECT_EQ(image.storedCrc, 0u);
    EXPECT_FALSE(ImageCrcMatches(image));
    if (c.unit == ElementUnit::WORD16) {
      EXPECT_EQ(Crc32(image.bytes, image.byteCount), 0x047679CAu);
    }
  } else if (c.hasStoredCrc) {
    EXPECT_TRUE(ImageCrcMatches(image)) << "stored 0x" << std::hex << image.storedCrc;
  } else {
    EXPECT_FALSE(ImageCrcMatches(image));
  }
}

constexpr auto B = ElementUnit::BYTE;
constexpr auto W = ElementUnit::WORD16;
constexpr auto D = ElementUnit::DSP_WORD24;

INSTANTIATE_TEST_SUITE_P(
    Images, Catalogue,
    ::testing::Values(
        CatalogueCase{MAIN_APP_IMAGE, W, 188928, true, true}, CatalogueCase{MAIN_APP_IMAGE_V3, W, 188672, true, true},
        CatalogueCase{PROGRAMMER_IMAGE, W, 14336, true, true},
        CatalogueCase{PROGRAMMER_IMAGE_V3, W, 14848, true, true},
        CatalogueCase{XFLASH_TEXT_TABLE, B, 14448, true, false},
        CatalogueCase{XFLASH_TEXT_TABLE_MODEL12, B, 14448, true, false},
        CatalogueCase{XFLASH_BLOCK_2, B, 618, true, false}, CatalogueCase{XFLASH_BLOCK_3, B, 10932, true, false},
        CatalogueCase{XFLASH_BLOCK_4, B, 13470, true, false}, CatalogueCase{XFLASH_BLOCK_5, B, 216, true, false},
        CatalogueCase{XFLASH_BLOCK_6, B, 1818, true, false}, CatalogueCase{XFLASH_BLOCK_7, B, 17766, true, false},
        CatalogueCase{XFLASH_BLOCK_8, B, 4224, true, false}, CatalogueCase{XFLASH_BLOCK_9, B, 114372, true, false},
        CatalogueCase{XFLASH_BLOCK_10, B, 804, true, false}, CatalogueCase{XFLASH_BLOCK_11, B, 2688, true, false},
        CatalogueCase{DSP_CORE0_IMAGE, D, 335360, true, true}, CatalogueCase{DSP_CORE1_IMAGE, D, 67584, true, true},
        CatalogueCase{OKI_IMAGE_11, W, 2, false, true}, CatalogueCase{OKI_IMAGE_12, W, 2, false, true},
        CatalogueCase{OKI_IMAGE_13, W, 24576, true, true}, CatalogueCase{OKI_IMAGE_14, W, 24576, true, true},
        CatalogueCase{OKI_IMAGE_15, W, 2, false, true}, CatalogueCase{OKI_IMAGE_16, W, 2, false, true},
        CatalogueCase{OKI_IMAGE_17, W, 2048, true, true}, CatalogueCase{OKI_IMAGE_18, W, 2048, true, true},
        CatalogueCase{OKI_IMAGE_19, W, 2, false, true}, CatalogueCase{OKI_IMAGE_20, W, 2, false, true},
        CatalogueCase{OKI_IMAGE_21, W, 2, false, true}, CatalogueCase{OKI_IMAGE_22, W, 249856, true, true},
        CatalogueCase{OKI_IMAGE_23, W, 245760, true, true}, CatalogueCase{OKI_IMAGE_24, W, 333824, true, true},
        CatalogueCase{VIDEO_UC_RAM_IMAGE, B, 14336, true, false},
        CatalogueCase{VIDEO_UNIFIED_IMAGE, B, 2622976, true, false}, CatalogueCase{CPLD_IMAGE, B, 49152, true, false},
        CatalogueCase{CPLD_CHECK_IMAGE, B, 32768, true, false}, CatalogueCase{FPGA_CONFIG_IMAGE, B, 1, false, false},
        CatalogueCase{FPGA_CONFIG_CHECK_IMAGE, B, 1, false, false}, CatalogueCase{NO_IMAGE, W, 2, false, true}),
    [](const auto& info) { return CaseName(info.param.id); });

TEST(ImageIds, NumbersMapToIdentifiers) {
  EXPECT_EQ(OkiImageId(11), OKI_IMAGE_11);
  EXPECT_EQ(OkiImageId(17), OKI_IMAGE_17);
  EXPECT_EQ(OkiImageId(24), OKI_IMAGE_24);
  EXPECT_EQ(OkiImageId(10), NO_IMAGE);
  EXPECT_EQ(OkiImageId(25), NO_IMAGE);
  EXPECT_EQ(VideoImageId(10), VIDEO_UC_RAM_IMAGE);
  EXPECT_EQ(VideoImageId(11), VIDEO_UNIFIED_IMAGE);
  EXPECT_EQ(VideoImageId(2), NO_IMAGE);
  EXPECT_EQ(VideoImageId(7), NO_IMAGE);
  // An identifier out of range is the stand-in of NO_IMAGE, not a read
  // outside the tables.
  const FirmwareImage image = GetFirmwareImage(static_cast<ImageId>(IMAGE_ID_COUNT + 5));
  EXPECT_FALSE(image.carried);
  EXPECT_FALSE(ImageCrcMatches(image));
}

// The checksum block lies directly in front of the first image of its pair:
// word 0 is that image's CRC, word 1 the second image's.
TEST(ChecksumBlocks, LieInFrontOfTheFirstImageOfEachPair) {
  const struct {
    ImageId first;
    ImageId second;  // NO_IMAGE: the word is not read
  } pairs[] = {{MAIN_APP_IMAGE, MAIN_APP_IMAGE_V3}, {PROGRAMMER_IMAGE, PROGRAMMER_IMAGE_V3},
               {OKI_IMAGE_24, OKI_IMAGE_22},        {OKI_IMAGE_23, NO_IMAGE},
               {OKI_IMAGE_17, OKI_IMAGE_13},        {OKI_IMAGE_18, OKI_IMAGE_14},
               {DSP_CORE0_IMAGE, DSP_CORE1_IMAGE}};
  for (const auto& pair : pairs) {
    SCOPED_TRACE(ImageIdName(pair.first));
    const FirmwareImage first = GetFirmwareImage(pair.first);
    EXPECT_EQ(LoadLe32(first.bytes - 8), first.storedCrc);
    if (pair.second != NO_IMAGE) {
      EXPECT_EQ(LoadLe32(first.bytes - 4), GetFirmwareImage(pair.second).storedCrc);
    }
  }
}

TEST(TypedAccess, AlignedLittleEndianWords) {
  const FirmwareImage app = GetFirmwareImage(MAIN_APP_IMAGE);
  ASSERT_NE(app.Words16(), nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(app.bytes) % 4, 0u);
  EXPECT_EQ(app.Slots24(), nullptr);
  for (uint32_t i : {0u, 1u, 1000u, app.elementCount - 1}) {
    EXPECT_EQ(app.Words16()[i], app.bytes[2 * i] | app.bytes[2 * i + 1] << 8);
  }
  const FirmwareImage dsp = GetFirmwareImage(DSP_CORE1_IMAGE);
  ASSERT_NE(dsp.Slots24(), nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(dsp.bytes) % 4, 0u);
  EXPECT_EQ(dsp.Words16(), nullptr);
  EXPECT_EQ(dsp.Slots24()[dsp.elementCount - 1], LoadLe32(dsp.bytes + dsp.byteCount - 4));
  EXPECT_EQ(GetFirmwareImage(CPLD_IMAGE).Words16(), nullptr);
}

// --- facts of the image set -------------------------------------------------

TEST(MainProcessorImages, TrimToTheirPageCounts) {
  for (const auto& [id, pages] : {std::pair{MAIN_APP_IMAGE, 738u}, std::pair{MAIN_APP_IMAGE_V3, 737u}}) {
    const FirmwareImage image = GetFirmwareImage(id);
    EXPECT_EQ(TrimBlankWords16(image.Words16(), image.elementCount, 128) / 128, pages) << ImageIdName(id);
  }
  for (ImageId id : {PROGRAMMER_IMAGE, PROGRAMMER_IMAGE_V3}) {
    const FirmwareImage image = GetFirmwareImage(id);
    const uint32_t trimmed = TrimBlankWords16(image.Words16(), image.elementCount, 128);
    EXPECT_GT(trimmed, 0u);
    EXPECT_LE(trimmed, image.elementCount);
  }
}

TEST(DspImages, WordsAndTrimming) {
  for (const auto& [id, trimmed] : {std::pair{DSP_CORE0_IMAGE, 83840u}, std::pair{DSP_CORE1_IMAGE, 16896u}}) {
    SCOPED_TRACE(ImageIdName(id));
    const FirmwareImage image = GetFirmwareImage(id);
    const uint32_t* slots = image.Slots24();
    for (uint32_t i = 0; i < image.elementCount; ++i) ASSERT_EQ(slots[i] >> 24, 0u) << "word " << i;
    // A first word that is not blank lets the already-programmed check succeed.
    EXPECT_NE(slots[0], BLANK_WORD24);
    EXPECT_EQ(TrimBlankWords24(slots, image.elementCount, 128), trimmed);
    EXPECT_EQ(StoredCrcByteCount(image), 4 * trimmed);
  }
  const FirmwareImage core0 = GetFirmwareImage(DSP_CORE0_IMAGE);
  for (uint32_t i = core0.elementCount - 41; i < core0.elementCount; ++i) EXPECT_EQ(core0.Slots24()[i], BLANK_WORD24);
  EXPECT_NE(core0.Slots24()[core0.elementCount - 42], BLANK_WORD24);
}

// Controller applications map internal flash from address 0 in 2 KB blocks:
// blocks 0 to 11 belong to the loader and the boot stub.
TEST(ControllerApplications, BlockRanges) {
  const struct {
    ImageId id;
    size_t lastBlock;
  } apps[] = {{OKI_IMAGE_22, 121}, {OKI_IMAGE_23, 119}, {OKI_IMAGE_24, 162}};
  for (const auto& app : apps) {
    SCOPED_TRACE(ImageIdName(app.id));
    const FirmwareImage image = GetFirmwareImage(app.id);
    for (size_t block = 0; block < 12; ++block) EXPECT_TRUE(imagefacts::BlockBlank(image.bytes, image.byteCount, block));
    EXPECT_FALSE(imagefacts::BlockBlank(image.bytes, image.byteCount, 12));
    EXPECT_EQ(imagefacts::LastNonBlankBlock(image.bytes, image.byteCount), app.lastBlock);
    EXPECT_EQ(imagefacts::FirstWrittenBlock(image.bytes, image.byteCount, false), 13u);
    EXPECT_EQ(imagefacts::FirstWrittenBlock(image.bytes, image.byteCount, true), 13u);
  }
  // Image 24 without the new-loader flag: blocks 13 to 162, 150 blocks,
  // loaded at 0xC8006800 with 307200 bytes.
  const FirmwareImage image = GetFirmwareImage(OKI_IMAGE_24);
  const size_t first = imagefacts::FirstWrittenBlock(image.bytes, image.byteCount, false);
  const size_t count = imagefacts::LastNonBlankBlock(image.bytes, image.byteCount) - first + 1;
  EXPECT_EQ(count, 150u);
  EXPECT_EQ(0xC8000000u + first * 2048, 0xC8006800u);
  EXPECT_EQ(count * 2048, 307200u);
}

TEST(VideoImages, UnifiedImageIsFortyOneBlocks) {
  const FirmwareImage image = GetFirmwareImage(VIDEO_UNIFIED_IMAGE);
  EXPECT_EQ((image.byteCount + 65535) / 65536, 41u);
  EXPECT_EQ(image.byteCount - 40 * 65536, 1536u);
  // Three CPLD chunks and two check chunks of 16 KB.
  EXPECT_EQ(GetFirmwareImage(CPLD_IMAGE).byteCount, 3u * 16384);
  EXPECT_EQ(GetFirmwareImage(CPLD_CHECK_IMAGE).byteCount, 2u * 16384);
}

TEST(ExternalFlash, DirectoryOfTheBlocks) {
  auto bytesOf = [](ImageId id) {
    const FirmwareImage image = GetFirmwareImage(id);
    return std::vector<uint8_t>(image.bytes, image.bytes + image.byteCount);
  };
  std::vector<std::vector<uint8_t>> blocks;
  for (uint32_t id = XFLASH_BLOCK_2; id <= XFLASH_BLOCK_11; ++id) blocks.push_back(bytesOf(static_cast<ImageId>(id)));
  uint32_t usedPages = 0;
  const auto flash = imagefacts::LayoutXflash(bytesOf(XFLASH_TEXT_TABLE), blocks, usedPages);
  EXPECT_EQ(usedPages, 1820u);
  const std::string directory(reinterpret_cast<const char*>(flash.data() + imagefacts::XFLASH_DIRECTORY_OFFSET), 128);
  EXPECT_EQ(directory.substr(0, 12), " 200     26a");
  EXPECT_EQ(directory.substr(12, 12), " 205    2ab4");
  EXPECT_EQ(directory.substr(0, 121),
            std::string(" 200     26a 205    2ab4 25b    349e 2c5      d8 2c7     71a"
                        " 2d6    4566 361    1080 382   1bec4 700     324 707     a80") +
                std::string(1, '\0'));
  // Block 11 lies at page 0x707 with each byte pair exchanged.
  const auto& block11 = blocks.back();
  EXPECT_EQ(flash[0x707 * 128], block11[1]);
  EXPECT_EQ(flash[0x707 * 128 + 1], block11[0]);
}

// --- identification texts ---------------------------------------------------

#if K4V_SYNTHETIC_IMAGES
struct IdentCase {
  ImageId id;
  const char* text;
  size_t window;  // where the text must start: from the first programmed byte
  size_t from;
};
void PrintTo(const IdentCase& c, std::ostream* os) { *os << ImageIdName(c.id); }

class Identification : public ::testing::TestWithParam<IdentCase> {};

TEST_P(Identification, OneTextNearTheStart) {
  const IdentCase& c = GetParam();
  const FirmwareImage image = GetFirmwareImage(c.id);
  const auto idents = FindIdents(image.bytes, image.byteCount);
  ASSERT_EQ(idents.size(), 1u);
  EXPECT_EQ(idents[0].text, c.text);
  EXPECT_GE(idents[0].offset, c.from);
  EXPECT_LT(idents[0].offset, c.from + c.window);
}

constexpr size_t FIRST_4K = 4096;
constexpr size_t BLOCK_13 = 13 * 2048;

INSTANTIATE_TEST_SUITE_P(
    Images, Identification,
    ::testing::Values(IdentCase{MAIN_APP_IMAGE, "Solstrand K4v v3.10", FIRST_4K, 0},
                      IdentCase{MAIN_APP_IMAGE_V3, "Solstrand K4v v3.10", FIRST_4K, 0},
                      IdentCase{PROGRAMMER_IMAGE, "Solstrand K4v EEPROM Prog v1.01", FIRST_4K, 0},
                      IdentCase{PROGRAMMER_IMAGE_V3, "Solstrand K4v FLASH Prog v1.01", FIRST_4K, 0},
                      IdentCase{OKI_IMAGE_13, "DVB BOOT GF9452 EXT 0.31 v3.10", FIRST_4K, 0},
                      IdentCase{OKI_IMAGE_14, "DVB BOOT GF9452v EXT 0.31 v3.10", FIRST_4K, 0},
                      IdentCase{OKI_IMAGE_17, "Solstrand K4v OKI boot stub GF9452 v3.10", FIRST_4K, 0},
                      IdentCase{OKI_IMAGE_18, "Solstrand K4v OKI boot stub GF9452v v3.10", FIRST_4K, 0},
                      IdentCase{OKI_IMAGE_22, "Solstrand K4v OKI GF9452 app v3.10", FIRST_4K, BLOCK_13},
                      IdentCase{OKI_IMAGE_23, "Solstrand K4v OKI GF9452v app v3.10", FIRST_4K, BLOCK_13},
                      IdentCase{OKI_IMAGE_24, "Solstrand K4v OKI GF9452v-B app v3.10", FIRST_4K, BLOCK_13},
                      IdentCase{VIDEO_UC_RAM_IMAGE, "Solstrand K4v GF9452 flash programmer v3.10", FIRST_4K, 0},
                      IdentCase{VIDEO_UNIFIED_IMAGE, "Solstrand K4v GF9452 UC+OSD flash v3.10", FIRST_4K, 0},
                      IdentCase{CPLD_IMAGE, "Solstrand K4v CPLD v3.10", FIRST_4K, 0},
                      IdentCase{CPLD_CHECK_IMAGE, "Solstrand K4v CPLD check v3.10", FIRST_4K, 0}),
    [](const auto& info) { return CaseName(info.param.id); });

TEST(Identification, DataImagesCarryNone) {
  for (uint32_t id = XFLASH_TEXT_TABLE; id <= DSP_CORE1_IMAGE; ++id) {
    const FirmwareImage image = GetFirmwareImage(static_cast<ImageId>(id));
    EXPECT_TRUE(FindIdents(image.bytes, image.byteCount).empty()) << ImageIdName(static_cast<ImageId>(id));
  }
}

// The external boot loaders answer "V" with their text: the installer must
// read it as the new loader of its video processor (with "EXT", version 0.24
// or later), within the 40 bytes it reads.
TEST(Identification, ExternalBootLoadersReadAsNewLoaders) {
  for (const auto& [id, chip] : {std::pair{OKI_IMAGE_13, "GF9452 "}, std::pair{OKI_IMAGE_14, "GF9452v "}}) {
    const auto idents = FindIdents(GetFirmwareImage(id).bytes, GetFirmwareImage(id).byteCount);
    ASSERT_EQ(idents.size(), 1u);
    const std::string& text = idents[0].text;
    EXPECT_NE(text.find("DVB BOOT"), std::string::npos);
    EXPECT_NE(text.find(chip), std::string::npos);
    EXPECT_NE(text.find("EXT"), std::string::npos);
    EXPECT_GE(imagefacts::LoaderVersion(text), 0.24f);
    EXPECT_LT(text.size() + 1, 40u);
  }
}
#endif

// --- placement and the test hook ----------------------------------------------

// The mapping of this process that holds an address: its permissions and
// path, from /proc/self/maps.
bool FindMapping(const void* address, std::string& perms, std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  const auto a = reinterpret_cast<uintptr_t>(address);
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, offset, device, inode;
    fields >> range >> perms >> offset >> device >> inode;
    path.clear();
    std::getline(fields >> std::ws, path);
    const size_t dash = range.find('-');
    const uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
    const uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (a >= start && a < end) return true;
  }
  return false;
}

TEST(Placement, ImagesAreReadOnlyDataOfTheProgram) {
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  for (uint32_t id = 0; id < IMAGE_ID_COUNT; ++id) {
    const FirmwareImage image = GetFirmwareImage(static_cast<ImageId>(id));
    if (!image.carried) continue;
    std::string perms, path;
    for (const uint8_t* p : {image.bytes, image.bytes + image.byteCount - 1}) {
      ASSERT_TRUE(FindMapping(p, perms, path)) << ImageIdName(static_cast<ImageId>(id));
      EXPECT_EQ(perms[1], '-') << ImageIdName(static_cast<ImageId>(id)) << " lies in a writable mapping " << perms;
      EXPECT_EQ(path, exe) << ImageIdName(static_cast<ImageId>(id));
    }
  }
}

class TestHook : public ::testing::Test {
 protected:
  void TearDown() override { RestoreFirmwareImages(); }
};

TEST_F(TestHook, CorruptedImageFailsItsCheckUntilRestored) {
  const FirmwareImage original = GetFirmwareImage(OKI_IMAGE_24);
  std::vector<uint8_t> corrupted(original.bytes, original.bytes + original.byteCount);
  corrupted[30000] ^= 0x01;
  ASSERT_TRUE(SubstituteImageBytes(OKI_IMAGE_24, corrupted));
  const FirmwareImage substituted = GetFirmwareImage(OKI_IMAGE_24);
  EXPECT_NE(substituted.bytes, original.bytes);
  EXPECT_EQ(substituted.storedCrc, original.storedCrc);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(substituted.bytes) % 4, 0u);
  EXPECT_FALSE(ImageCrcMatches(substituted));
  RestoreFirmwareImages();
  EXPECT_EQ(GetFirmwareImage(OKI_IMAGE_24).bytes, original.bytes);
  EXPECT_TRUE(ImageCrcMatches(GetFirmwareImage(OKI_IMAGE_24)));
}

TEST_F(TestHook, WrongStoredCrcFailsTheCheck) {
  const FirmwareImage original = GetFirmwareImage(DSP_CORE0_IMAGE);
  SubstituteStoredCrc(DSP_CORE0_IMAGE, original.storedCrc ^ 0x80000000u);
  EXPECT_FALSE(ImageCrcMatches(GetFirmwareImage(DSP_CORE0_IMAGE)));
  EXPECT_EQ(GetFirmwareImage(DSP_CORE0_IMAGE).bytes, original.bytes);
  EXPECT_TRUE(ImageCrcMatches(GetFirmwareImage(DSP_CORE1_IMAGE)));
}

TEST_F(TestHook, AnImageTheBuildLacksCanBeSupplied) {
  std::vector<uint8_t> bytes(4096, 0x5A);
  ASSERT_TRUE(SubstituteImageBytes(OKI_IMAGE_12, bytes));
  SubstituteStoredCrc(OKI_IMAGE_12, Crc32(bytes.data(), 4096));
  const FirmwareImage image = GetFirmwareImage(OKI_IMAGE_12);
  EXPECT_TRUE(image.carried);
  EXPECT_EQ(image.elementCount, 2048u);
  EXPECT_TRUE(ImageCrcMatches(image));
}

// A DSP image shorter than one transfer block: its trimmed length rounds up
// past its end, and the check must still read only the image.
TEST_F(TestHook, ShortDspImageIsCheckedWithinItsBytes) {
  std::vector<uint8_t> bytes(6 * 4, 0);
  bytes[0] = 0x01;
  ASSERT_TRUE(SubstituteImageBytes(DSP_CORE1_IMAGE, bytes));
  SubstituteStoredCrc(DSP_CORE1_IMAGE, Crc32(bytes.data(), 24));
  const FirmwareImage image = GetFirmwareImage(DSP_CORE1_IMAGE);
  EXPECT_EQ(StoredCrcByteCount(image), 24u);
  EXPECT_TRUE(ImageCrcMatches(image));
}

TEST_F(TestHook, RefusesBytesThatAreNotWholeElements) {
  EXPECT_FALSE(SubstituteImageBytes(DSP_CORE1_IMAGE, std::vector<uint8_t>(6, 0)));
  EXPECT_FALSE(SubstituteImageBytes(MAIN_APP_IMAGE, std::vector<uint8_t>(3, 0)));
  EXPECT_FALSE(SubstituteImageBytes(MAIN_APP_IMAGE, {}));
  EXPECT_TRUE(ImageCrcMatches(GetFirmwareImage(MAIN_APP_IMAGE)));
}

}  // namespace
