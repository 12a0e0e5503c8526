#include "tests/images/ImageFacts.h"

#include "engine/Crc32.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace imagefacts {

std::vector<uint16_t> Words16(const uint8_t* bytes, size_t count) {
  std::vector<uint16_t> words(count / 2);
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return words;
}

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::vector<uint32_t> Slots32(const uint8_t* bytes, size_t count) {
  std::vector<uint32_t> slots(count / 4);
  for (size_t i = 0; i < slots.size(); ++i) slots[i] = LoadLe32(bytes + 4 * i);
  return slots;
}

uint32_t TrimmedPages(const uint8_t* bytes, size_t count) {
  const auto words = Words16(bytes, count);
  return TrimBlankWords16(words.data(), static_cast<uint32_t>(words.size()), 128) / 128;
}

std::vector<Ident> FindIdents(const uint8_t* bytes, size_t count) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), count);
  std::vector<Ident> found;
  for (size_t at = data.find("$IDENT"); at != std::string_view::npos; at = data.find("$IDENT", at + 1)) {
    const size_t start = at + 6;
    const size_t end = data.find('\0', start);
    found.push_back({at, std::string(data.substr(start, (end == std::string_view::npos ? count : end) - start))});
  }
  return found;
}

constexpr size_t OKI_BLOCK = 2048;

bool BlockBlank(const uint8_t* bytes, size_t count, size_t block) {
  for (size_t i = block * OKI_BLOCK; i < (block + 1) * OKI_BLOCK && i < count; ++i) {
    if (bytes[i] != 0xFF) return false;
  }
  return true;
}

size_t FirstWrittenBlock(const uint8_t* bytes, size_t count, bool needsNewLoader) {
  size_t first = 0;
  while (first * OKI_BLOCK < count && BlockBlank(bytes, count, first)) ++first;
  if (needsNewLoader) return first < 13 ? 13 : first;
  if (first < 12) first = 12;
  return first == 12 ? 13 : first;
}

size_t LastNonBlankBlock(const uint8_t* bytes, size_t count) {
  size_t last = count / OKI_BLOCK;
  while (last > 0 && BlockBlank(bytes, count, last - 1)) --last;
  return last - 1;
}

float LoaderVersion(const std::string& text) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return 0.0f;
  const size_t start = dot == 0 ? 0 : dot - 1;
  const std::string field = text.substr(start, 4);
  float v = 0.0f;
  std::sscanf(field.c_str(), "%f", &v);
  return v;
}

std::vector<uint8_t> LayoutXflash(const std::vector<uint8_t>& textTable,
                                  const std::vector<std::vector<uint8_t>>& blocks2To11, uint32_t& usedPages) {
  std::vector<uint8_t> flash(XFLASH_SIZE, 0xFF);
  std::memset(flash.data() + XFLASH_DIRECTORY_OFFSET, 0, 128);
  uint32_t page = 0;
  size_t directory = XFLASH_DIRECTORY_OFFSET;
  auto place = [&](std::vector<uint8_t> data, bool entry) {
    if (entry) {
      char text[13];
      std::snprintf(text, sizeof text, "%4x%8x", page, static_cast<unsigned>(data.size()));
      std::memcpy(flash.data() + directory, text, 12);
      directory += 12;
    }
    for (size_t at = 0; at < data.size(); at += 128, ++page) {
      if (page < 3582) std::memcpy(flash.data() + page * 128, data.data() + at, std::min<size_t>(128, data.size() - at));
    }
  };
  place(textTable, false);
  page = (page + 511) / 512 * 512;
  for (size_t i = 0; i < blocks2To11.size(); ++i) {
    std::vector<uint8_t> data = blocks2To11[i];
    if (i + 1 == blocks2To11.size()) {
      for (size_t b = 0; b + 1 < data.size(); b += 2) std::swap(data[b], data[b + 1]);
    }
    place(std::move(data), true);
  }
  usedPages = page;
  return flash;
}

}  // namespace imagefacts
