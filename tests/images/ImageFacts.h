// Test helpers that read image bytes the way the unit and the installer see
// them, independent of the generator: little-endian words, blank-word
// trimming, identification texts, and the main board's external flash layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imagefacts {

std::vector<uint16_t> Words16(const uint8_t* bytes, size_t count);
std::vector<uint32_t> Slots32(const uint8_t* bytes, size_t count);
uint32_t LoadLe32(const uint8_t* p);

// Main processor pages (128 words) that remain after trimming blank words.
uint32_t TrimmedPages(const uint8_t* bytes, size_t count);

// Every identification text ("$IDENT" + text + NUL) with its byte offset.
struct Ident {
  size_t offset;
  std::string text;
};
std::vector<Ident> FindIdents(const uint8_t* bytes, size_t count);

// Controller application: 2 KB blocks that hold a word other than 0xFFFF.
bool BlockBlank(const uint8_t* bytes, size_t count, size_t block);
// The first block the installer writes: the first non-blank block, raised to
// 12 and then 12 to 13 without the new-loader flag, raised to 13 with it.
size_t FirstWrittenBlock(const uint8_t* bytes, size_t count, bool needsNewLoader);
size_t LastNonBlankBlock(const uint8_t* bytes, size_t count);

// The loader version that the installer reads from a "DVB BOOT" text: the
// number in the four characters that start one before the first '.'.
float LoaderVersion(const std::string& text);

// The external flash as the installer builds it: 3583 pages of 128 bytes,
// the text table from page 0, the other blocks from page 512 (the last one
// with its byte pairs exchanged), a directory entry "%4x%8x" per block on page
// 3582. usedPages receives the page count the blocks occupy.
inline constexpr size_t XFLASH_SIZE = 458624;
inline constexpr size_t XFLASH_DIRECTORY_OFFSET = 3582 * 128;
std::vector<uint8_t> LayoutXflash(const std::vector<uint8_t>& textTable,
                                  const std::vector<std::vector<uint8_t>>& blocks2To11, uint32_t& usedPages);

}  // namespace imagefacts
