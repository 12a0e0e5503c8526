// The main board's pure rules: loader versions, baud codes, clock texts,
// placeholders, the flash checksum and the external flash image.
#include "engine/FirmwareImages.h"
#include "mainboard/MainBoard.h"
#include "mainboard/Xflash.h"
#include "serial/SerialPort.h"

#include <gtest/gtest.h>
#include <vector>

TEST(MainBoardRules, LoaderVersionFromItsTwoDigits) {
  struct Case {
    const char* digits;
    int32_t version;
  };
  for (const Case c : {Case{"35", 305}, Case{"30", 300}, Case{"21", 201}, Case{"2x", 272}, Case{"0", 0},
                       Case{"05", 0}, Case{"\0\0", 0}, Case{"91", 901}})
    EXPECT_EQ(mainboard::LoaderVersionFromDigits(static_cast<uint8_t>(c.digits[0]), static_cast<uint8_t>(c.digits[1])),
              c.version)
        << c.digits;
}

TEST(MainBoardRules, UnitBaudCodes) {
  const int expected[8] = {4, 0, 1, 2, 3, 5, 6, 7};
  for (int index = 0; index < 8; ++index) EXPECT_EQ(mainboard::UnitBaudCode(index), expected[index]);
}

TEST(MainBoardRules, ClockTimeInBothForms) {
  struct Case {
    int hour, minute;
    bool h24;
    const char* text;
  };
  for (const Case c : {Case{15, 7, true, "STC15:07\n"}, Case{15, 7, false, "STC03:07PM\n"},
                       Case{0, 0, true, "STC00:00\n"}, Case{0, 5, false, "STC12:05AM\n"},
                       Case{12, 0, false, "STC12:00PM\n"}, Case{23, 59, false, "STC11:59PM\n"},
                       Case{9, 30, false, "STC09:30AM\n"}})
    EXPECT_EQ(mainboard::ClockTimeCommand(c.hour, c.minute, c.h24), c.text);
}

TEST(MainBoardRules, PlaceholderSerialNumbers) {
  for (const char* p : {"01234567", "00000000", "0", "000000", " ", ""})
    EXPECT_TRUE(mainboard::IsPlaceholderSerialNumber(p)) << p;
  for (const char* n : {"12345678", "1", "0000000", "00", "01234568", "  "})
    EXPECT_FALSE(mainboard::IsPlaceholderSerialNumber(n)) << n;
}

TEST(MainBoardRules, FlashChecksumCountsErasedWords) {
  const std::vector<uint16_t> words = {0x0102, 0xFFFF, 0x00FF};
  // 1 + 2 + 0xFF + 0xFF + 0xFF, then 0x1FE for each of the 5 words beyond.
  EXPECT_EQ(CSerialPort::MainFlashChecksum(words.data(), 3, 3, 8), static_cast<uint16_t>(3 + 3 * 0xFF + 5 * 0x1FE));
  EXPECT_EQ(CSerialPort::MainFlashChecksum(words.data(), 3, 3, 2), static_cast<uint16_t>(3 + 2 * 0xFF));
  // A page-rounded size past the image's end counts erased words there and
  // never reads past the image.
  EXPECT_EQ(CSerialPort::MainFlashChecksum(words.data(), 3, 128, 200),
            static_cast<uint16_t>(3 + 3 * 0xFF + (200 - 3) * 0x1FE));
  // An all-erased flash of 0x20000 words: 0x1FE x 0x20000, kept to 16 bits.
  EXPECT_EQ(CSerialPort::MainFlashChecksum(words.data(), 0, 0, 0x20000), static_cast<uint16_t>(0x1FEu * 0x20000u));
}

TEST(MainBoardRules, ChipGeometry) {
  const auto small = xflash::GeometryFromIdentification("b7bf\r\n");
  EXPECT_TRUE(small.accepted);
  EXPECT_EQ(small.sectorSize, 4096u);
  EXPECT_EQ(small.highestSector, 111u);
  const auto big = xflash::GeometryFromIdentification("xx a401");
  EXPECT_TRUE(big.accepted);
  EXPECT_EQ(big.pagesPerSector, 512u);
  EXPECT_EQ(big.highestSector, 6u);
  for (const char* rejected : {"b6bf", "5d1f", "d51f", "", "B7BF"})
    EXPECT_FALSE(xflash::GeometryFromIdentification(rejected).accepted) << rejected;
}

TEST(XflashImage, BlocksDirectoryAndPadding) {
  std::vector<uint8_t> image(xflash::XFLASH_IMAGE_SIZE, 0xAA);
  CSerialPort port;
  port.m_model = 11;
  uint32_t used = 0;
  port.BuildXflashImage(used, xflash::XFLASH_DIRECTORY_PAGE, image.data());
  EXPECT_EQ(used, 1820u);
  const uint8_t* dir = image.data() + xflash::DIRECTORY_OFFSET;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dir), 12), " 200     26a");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dir) + 12, 12), " 205    2ab4");
  EXPECT_EQ(dir[120], 0x00);
  for (int i = 0; i < 120; ++i) EXPECT_NE(dir[i], 0) << "ten entries fill 120 bytes";
  for (uint32_t i = 121; i < xflash::PAGE_SIZE; ++i) EXPECT_EQ(dir[i], 0x00);

  // Block 1 at page 0; its last page padded; the gap up to page 512 blank.
  const FirmwareImage table = GetFirmwareImage(XFLASH_TEXT_TABLE);
  EXPECT_EQ(0, memcmp(image.data(), table.bytes, table.byteCount));
  for (uint32_t i = table.byteCount; i < 512 * 128; ++i) ASSERT_EQ(image[i], 0xFF) << i;
  // Block 2 at page 512; block 11 with its byte pairs exchanged, at its entry's page.
  const FirmwareImage block2 = GetFirmwareImage(XFLASH_BLOCK_2);
  EXPECT_EQ(0, memcmp(image.data() + 512 * 128, block2.bytes, block2.byteCount));
  const FirmwareImage block11 = GetFirmwareImage(XFLASH_BLOCK_11);
  const std::string lastEntry(reinterpret_cast<const char*>(dir) + 108, 12);
  const uint32_t page11 = std::stoul(lastEntry.substr(0, 4), nullptr, 16);
  EXPECT_EQ(std::stoul(lastEntry.substr(4), nullptr, 16), block11.byteCount);
  for (uint32_t i = 0; i + 1 < block11.byteCount; i += 2) {
    ASSERT_EQ(image[page11 * 128 + i], block11.bytes[i + 1]);
    ASSERT_EQ(image[page11 * 128 + i + 1], block11.bytes[i]);
  }
  for (uint32_t i = used * 128; i < xflash::DIRECTORY_OFFSET; ++i) ASSERT_EQ(image[i], 0xFF) << i;

  // The model-12 board takes its own text table as block 1.
  port.m_model = 12;
  port.BuildXflashImage(used, xflash::XFLASH_DIRECTORY_PAGE, image.data());
  const FirmwareImage table12 = GetFirmwareImage(XFLASH_TEXT_TABLE_MODEL12);
  EXPECT_EQ(0, memcmp(image.data(), table12.bytes, table12.byteCount));
}

TEST(XflashImage, PagesOnTheDirectoryPageAreNotStored) {
  std::vector<uint8_t> image(4 * 128, 0x11);
  uint32_t pageCounter = 1, directoryOffset = 0;
  const std::vector<uint8_t> block(3 * 128, 0x22);
  xflash::AppendXflashBlock(pageCounter, directoryOffset, 3, image.data(), xflash::DIRECTORY_ENTRY, block.data(),
                            static_cast<uint32_t>(block.size()));
  EXPECT_EQ(pageCounter, 4u);
  EXPECT_EQ(image[1 * 128], 0x22);
  EXPECT_EQ(image[2 * 128 + 127], 0x22);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data() + 3 * 128), 12), "   1     180")
      << "the page at the directory carries the entry, not the block's third page";
  EXPECT_EQ(directoryOffset, 12u);
}
