// The virtual unit's starting firmware (version 3.02): the names, sizes and
// layouts the virtual unit relies on, the same image rules as the installer's
// set, identification texts naming 3.02, and contents that differ from the
// build's set so that an installation has something to write.
#include "images/StartingFirmware.h"

#include "engine/Crc32.h"
#include "engine/FirmwareImages.h"
#include "tests/images/ImageFacts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace {

using imagefacts::FindIdents;

struct BlobCase {
  const char* name;
  size_t size;
  ImageId sameAs;  // the build's image of the same program (NO_IMAGE: none)
  const char* ident;  // nullptr: carries no identification text
};
void PrintTo(const BlobCase& c, std::ostream* os) { *os << c.name; }

class StartingBlob : public ::testing::TestWithParam<BlobCase> {};

TEST_P(StartingBlob, SizeContentsAndIdentification) {
  const BlobCase& c = GetParam();
  const startfw::Blob blob = startfw::Find(c.name);
  ASSERT_NE(blob.data, nullptr);
  ASSERT_EQ(blob.size, c.size);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(blob.data) % 4, 0u);
  if (c.sameAs != NO_IMAGE) {
    const FirmwareImage current = GetFirmwareImage(c.sameAs);
    ASSERT_EQ(current.byteCount, blob.size);
    EXPECT_NE(std::memcmp(current.bytes, blob.data, blob.size), 0) << "the 3.02 content equals the build's";
  }
  const auto idents = FindIdents(blob.data, blob.size);
  if (c.ident == nullptr) {
    EXPECT_TRUE(idents.empty());
  } else {
    ASSERT_EQ(idents.size(), 1u);
    EXPECT_EQ(idents[0].text, c.ident);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, StartingBlob,
    ::testing::Values(
        BlobCase{"main_app", 188928, MAIN_APP_IMAGE, "Solstrand K4v v3.02"},
        BlobCase{"main_app_v3", 188672, MAIN_APP_IMAGE_V3, "Solstrand K4v v3.02"},
        BlobCase{"programmer", 14336, PROGRAMMER_IMAGE, "Solstrand K4v EEPROM Prog v3.02"},
        BlobCase{"programmer_v3", 14848, PROGRAMMER_IMAGE_V3, "Solstrand K4v FLASH Prog v3.02"},
        BlobCase{"xflash", 458624, NO_IMAGE, nullptr}, BlobCase{"xflash_model12", 458624, NO_IMAGE, nullptr},
        BlobCase{"dsp_core0", 335360, DSP_CORE0_IMAGE, nullptr},
        BlobCase{"dsp_core1", 67584, DSP_CORE1_IMAGE, nullptr},
        BlobCase{"oki_13", 24576, OKI_IMAGE_13, "DVB BOOT GF9452 EXT 0.26 v3.02"},
        BlobCase{"oki_14", 24576, OKI_IMAGE_14, "DVB BOOT GF9452v EXT 0.26 v3.02"},
        BlobCase{"oki_17", 2048, OKI_IMAGE_17, "Solstrand K4v OKI boot stub GF9452 v3.02"},
        BlobCase{"oki_18", 2048, OKI_IMAGE_18, "Solstrand K4v OKI boot stub GF9452v v3.02"},
        BlobCase{"oki_22", 249856, OKI_IMAGE_22, "Solstrand K4v OKI GF9452 app v3.02"},
        BlobCase{"oki_23", 245760, OKI_IMAGE_23, "Solstrand K4v OKI GF9452v app v3.02"},
        BlobCase{"oki_24", 333824, OKI_IMAGE_24, "Solstrand K4v OKI GF9452v-B app v3.02"},
        BlobCase{"video_uc_ram", 14336, VIDEO_UC_RAM_IMAGE, "Solstrand K4v GF9452 flash programmer v3.02"},
        BlobCase{"video_unified", 2622976, VIDEO_UNIFIED_IMAGE, "Solstrand K4v GF9452 UC+OSD flash v3.02"},
        BlobCase{"cpld", 49152, CPLD_IMAGE, "Solstrand K4v CPLD v3.02"},
        BlobCase{"cpld_check", 32768, CPLD_CHECK_IMAGE, "Solstrand K4v CPLD check v3.02"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartingFirmware, UnknownNamesFindNothing) {
  for (const char* name : {"", "main", "MAIN_APP_IMAGE", "oki_24 ", "xflash\n"}) {
    const startfw::Blob blob = startfw::Find(name);
    EXPECT_EQ(blob.data, nullptr) << name;
    EXPECT_EQ(blob.size, 0u) << name;
  }
}

TEST(StartingFirmware, KeepsTheImageRules) {
  const startfw::Blob app = startfw::Find("main_app");
  const startfw::Blob app3 = startfw::Find("main_app_v3");
  EXPECT_EQ(imagefacts::TrimmedPages(app.data, app.size), 738u);
  EXPECT_EQ(imagefacts::TrimmedPages(app3.data, app3.size), 737u);

  for (const auto& [name, trimmed] : {std::pair{"dsp_core0", 83840u}, std::pair{"dsp_core1", 16896u}}) {
    const startfw::Blob dsp = startfw::Find(name);
    const auto slots = imagefacts::Slots32(dsp.data, dsp.size);
    for (uint32_t s : slots) ASSERT_EQ(s >> 24, 0u) << name;
    EXPECT_NE(slots[0], BLANK_WORD24) << name;
    EXPECT_EQ(TrimBlankWords24(slots.data(), static_cast<uint32_t>(slots.size()), 128), trimmed) << name;
  }

  for (const auto& [name, last] : {std::pair{"oki_22", 121u}, std::pair{"oki_23", 119u}, std::pair{"oki_24", 162u}}) {
    const startfw::Blob oki = startfw::Find(name);
    for (size_t block = 0; block < 12; ++block) EXPECT_TRUE(imagefacts::BlockBlank(oki.data, oki.size, block)) << name;
    EXPECT_EQ(imagefacts::FirstWrittenBlock(oki.data, oki.size, false), 13u) << name;
    EXPECT_EQ(imagefacts::LastNonBlankBlock(oki.data, oki.size), last) << name;
  }
}

std::vector<uint8_t> ReadSetFile(const std::string& file) {
  std::ifstream in(std::string(K4V_STARTING_SET_DIR) + "/" + file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The external flash holds the 3.02 blocks exactly where the installer puts
// them, its directory page included.
TEST(StartingFirmware, ExternalFlashLayout) {
  std::vector<std::vector<uint8_t>> blocks;
  for (int n = 2; n <= 11; ++n) {
    blocks.push_back(ReadSetFile("xflash_block_" + std::to_string(n) + ".bin"));
    ASSERT_FALSE(blocks.back().empty());
  }
  for (const auto& [name, table] : {std::pair{"xflash", "xflash_text_table.bin"},
                                    std::pair{"xflash_model12", "xflash_text_table_model12.bin"}}) {
    SCOPED_TRACE(name);
    uint32_t usedPages = 0;
    const auto expected = imagefacts::LayoutXflash(ReadSetFile(table), blocks, usedPages);
    const startfw::Blob flash = startfw::Find(name);
    ASSERT_EQ(flash.size, expected.size());
    EXPECT_EQ(std::memcmp(flash.data, expected.data(), expected.size()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(flash.data) + imagefacts::XFLASH_DIRECTORY_OFFSET, 24),
              " 200     26a 205    2ab4");
  }
  EXPECT_NE(std::memcmp(startfw::Find("xflash").data, startfw::Find("xflash_model12").data, 128), 0);

  // The build's blocks differ, so an installation rewrites the external flash.
  std::vector<std::vector<uint8_t>> current;
  for (uint32_t id = XFLASH_BLOCK_2; id <= XFLASH_BLOCK_11; ++id) {
    const FirmwareImage image = GetFirmwareImage(static_cast<ImageId>(id));
    current.push_back(std::vector<uint8_t>(image.bytes, image.bytes + image.byteCount));
  }
  const FirmwareImage table = GetFirmwareImage(XFLASH_TEXT_TABLE);
  uint32_t usedPages = 0;
  const auto currentFlash =
      imagefacts::LayoutXflash(std::vector<uint8_t>(table.bytes, table.bytes + table.byteCount), current, usedPages);
  EXPECT_NE(std::memcmp(startfw::Find("xflash").data, currentFlash.data(), currentFlash.size()), 0);
}

}  // namespace
