// The main board's external flash: the in-memory image of its content and its
// geometry.
#pragma once

#include <cstdint>

namespace xflash {

inline constexpr uint32_t PAGE_SIZE = 128;
inline constexpr uint32_t PAGE_COUNT = 3583;
inline constexpr uint32_t XFLASH_IMAGE_SIZE = PAGE_COUNT * PAGE_SIZE;  // 458624 = 0x6FF80
inline constexpr uint32_t XFLASH_DIRECTORY_PAGE = 3582;
inline constexpr uint32_t DIRECTORY_OFFSET = XFLASH_DIRECTORY_PAGE * PAGE_SIZE;  // 0x6FF00

// AppendXflashBlock flags.
inline constexpr uint32_t SWAP_BYTE_PAIRS = 0x04;
inline constexpr uint32_t DIRECTORY_ENTRY = 0x08;

// Appends one block at the page counter: the block's pages (the last padded
// with 0xFF; pages on or beyond the directory page are not stored) and, when
// asked, its directory entry ("%4x%8x": first page and size, blank-padded).
void AppendXflashBlock(uint32_t& pageCounter, uint32_t& directoryOffset, uint32_t directoryPage, uint8_t* image,
                       uint32_t flags, const uint8_t* block, uint32_t size);

// Sector geometry of a chip identified by its answer to "dei".
struct ChipGeometry {
  bool accepted = false;
  uint32_t sectorSize = 0;
  uint32_t pagesPerSector = 0;
  uint32_t highestSector = 0;  // the sector that holds the directory page
};
ChipGeometry GeometryFromIdentification(const char* answer);

}  // namespace xflash
