// The system's CRC-32, the blank-word trimming and the little-endian stores.
#include "engine/Crc32.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct CrcCase {
  const char* name;
  std::string bytes;
  uint32_t crc;
};
void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }

class Crc32Value : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc32Value, MatchesTheCheckValue) {
  const CrcCase& c = GetParam();
  EXPECT_EQ(Crc32(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), c.crc);
}

INSTANTIATE_TEST_SUITE_P(
    CheckValues, Crc32Value,
    ::testing::Values(CrcCase{"abc", "abc", 0x9FB2593B}, CrcCase{"NoBytes", "", 0xFB3EE248},
                      CrcCase{"TwoZeroBytes", std::string(2, '\0'), 0x047679CA},
                      // CRC-32/MPEG-2 check value 0x0376E6E7, exclusive-or 0x04C11DB7.
                      CrcCase{"MpegCheckString", "123456789", 0x07B7FB50}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Crc32, NoBytesNeedNoBuffer) { EXPECT_EQ(Crc32(nullptr, 0), 0xFB3EE248u); }

TEST(Crc32, TableEntries) {
  InitCrc32Table();
  InitCrc32Table();  // building it again changes nothing
  EXPECT_EQ(Crc32TableEntry(0), 0u);
  EXPECT_EQ(Crc32TableEntry(1), 0x04C11DB7u);
  EXPECT_EQ(Crc32TableEntry(255), 0xB1F740B4u);
}

// The installer's worker and the virtual unit's thread compute CRCs at the
// same time, each possibly the first to need the table.
TEST(Crc32, ConcurrentFirstUseGivesTheSameResults) {
  std::vector<uint8_t> data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  std::vector<uint32_t> results(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      if (t % 2 == 0) InitCrc32Table();
      uint32_t crc = 0;
      for (int round = 0; round < 50; ++round) crc = Crc32(data.data(), static_cast<uint32_t>(data.size()));
      results[t] = crc;
    });
  }
  for (auto& thread : threads) thread.join();
  for (uint32_t r : results) EXPECT_EQ(r, results[0]);
  EXPECT_NE(results[0], 0u);
}

TEST(StoreLe, WritesLeastSignificantByteFirst) {
  uint8_t bytes[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  StoreLe32(bytes, 0x04C11DB7);
  EXPECT_EQ(bytes[0], 0xB7);
  EXPECT_EQ(bytes[1], 0x1D);
  EXPECT_EQ(bytes[2], 0xC1);
  EXPECT_EQ(bytes[3], 0x04);
  EXPECT_EQ(bytes[4], 0xAA);
  StoreLe16(bytes + 4, 0x1234);
  EXPECT_EQ(bytes[4], 0x34);
  EXPECT_EQ(bytes[5], 0x12);
}

// --- trimming ---------------------------------------------------------------

struct TrimCase {
  const char* name;
  std::vector<uint32_t> elements;  // 16-bit values for the 16-bit trim
  uint32_t block;
  uint32_t expected;
};
void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint32_t> Repeat(uint32_t value, size_t n) { return std::vector<uint32_t>(n, value); }
std::vector<uint32_t> Join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class TrimWords16 : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimWords16, Result) {
  const TrimCase& c = GetParam();
  std::vector<uint16_t> words(c.elements.begin(), c.elements.end());
  EXPECT_EQ(TrimBlankWords16(words.data(), static_cast<uint32_t>(words.size()), c.block), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimWords16,
    ::testing::Values(
        TrimCase{"LastFortyBlankRoundsUp", Join(Repeat(0x1234, 260), Repeat(0xFFFF, 40)), 128, 384},
        TrimCase{"NoBlankMultipleOfBlock", Repeat(0x0000, 256), 128, 256},
        TrimCase{"AllBlank", Repeat(0xFFFF, 300), 128, 0},
        TrimCase{"Empty", {}, 128, 0},
        // Blank words inside the data stay: only the tail is dropped.
        TrimCase{"BlankInsideKept", {0x0001, 0xFFFF, 0x0002, 0xFFFF, 0xFFFF, 0xFFFF}, 1, 3},
        TrimCase{"OneWordToOneBlock", Join({0x0001}, Repeat(0xFFFF, 200)), 128, 128},
        TrimCase{"BlockZeroLeavesLength", Join(Repeat(0x0001, 5), Repeat(0xFFFF, 3)), 0, 5}),
    [](const auto& info) { return std::string(info.param.name); });

class TrimWords24 : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimWords24, Result) {
  const TrimCase& c = GetParam();
  EXPECT_EQ(TrimBlankWords24(c.elements.data(), static_cast<uint32_t>(c.elements.size()), c.block), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimWords24,
    ::testing::Values(
        TrimCase{"DspCore0LastFortyOneBlank", Join(Repeat(0x0C0100, 83840 - 41), Repeat(0x00FFFFFF, 41)), 128, 83840},
        TrimCase{"AllBlank", Repeat(0x00FFFFFF, 256), 128, 0},
        // Only 0x00FFFFFF is an erased DSP word; a slot with its top byte set is data.
        TrimCase{"TopByteSetIsNotBlank", {0x000001, 0xFFFFFFFF}, 1, 2},
        TrimCase{"SixteenBitBlankIsData", {0x000001, 0x0000FFFF}, 1, 2},
        TrimCase{"TrailingBlankDropped", {0x000001, 0x00FFFFFF}, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
