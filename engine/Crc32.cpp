// The system's CRC-32, blank-word trimming and little-endian stores.
#include "engine/Crc32.h"

#include <mutex>

namespace {

constexpr uint32_t CRC32_POLYNOMIAL = 0x04C11DB7;

uint32_t g_crc32Table[256];
std::once_flag g_crc32TableOnce;

void BuildCrc32Table() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i << 24;
    for (int bit = 0; bit < 8; ++bit) {
      if (r & 0x80000000u) {
        r = (r << 1) ^ CRC32_POLYNOMIAL;
      } else {
        r = r << 1;
      }
    }
    g_crc32Table[i] = r;
  }
}

// Rounds k up to a multiple of block; a block of 0 leaves k as it is.
uint32_t RoundUpToBlock(uint32_t k, uint32_t block) {
  if (block == 0) return k;
  return block * (k / block + (k % block != 0 ? 1 : 0));
}

}  // namespace

void InitCrc32Table() { std::call_once(g_crc32TableOnce, BuildCrc32Table); }

uint32_t Crc32TableEntry(uint8_t index) {
  InitCrc32Table();
  return g_crc32Table[index];
}

uint32_t Crc32(const void* bytes, uint32_t count) {
  InitCrc32Table();
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint32_t c = 0xFFFFFFFF;
  for (uint32_t i = 0; i < count; ++i) {
    c = (c << 8) ^ g_crc32Table[(c >> 24) ^ p[i]];
  }
  return c ^ CRC32_POLYNOMIAL;
}

uint32_t TrimBlankWords16(const uint16_t* words, uint32_t count, uint32_t block) {
  uint32_t k = count;
  while (k > 0 && words[k - 1] == BLANK_WORD16) --k;
  return RoundUpToBlock(k, block);
}

uint32_t TrimBlankWords24(const uint32_t* slots, uint32_t count, uint32_t block) {
  uint32_t k = count;
  while (k > 0 && slots[k - 1] == BLANK_WORD24) --k;
  return RoundUpToBlock(k, block);
}

void StoreLe32(uint8_t* dst, uint32_t v) {
  dst[0] = static_cast<uint8_t>(v);
  dst[1] = static_cast<uint8_t>(v >> 8);
  dst[2] = static_cast<uint8_t>(v >> 16);
  dst[3] = static_cast<uint8_t>(v >> 24);
}

void StoreLe16(uint8_t* dst, uint16_t v) {
  dst[0] = static_cast<uint8_t>(v);
  dst[1] = static_cast<uint8_t>(v >> 8);
}
