// The catalogue of the firmware images that a build carries: name, file name
// in an image set directory, element unit, size, and what the stored CRC-32
// covers. Shared by the build-time generator (tools/) and the image access
// layer (engine/FirmwareImages.cpp); the sizes are fixed for this build and
// an image set that does not match them is refused at build time.
//
// The order is the order of the embedded data: each checksum block lies
// directly in front of the first image of its pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace k4vimg {

// Bytes per element.
enum class Unit : uint8_t {
  BYTE = 1,         // as is
  WORD16 = 2,       // 16-bit words, low byte first
  DSP_WORD24 = 4,   // 24-bit DSP words, one 32-bit little-endian slot each, top byte 0
};

// What an image's CRC-32 covers.
enum class CrcCover : uint8_t {
  NOT_STORED,        // no stored CRC (checked on the unit, or never checked)
  ALL_BYTES,         // every byte of the image
  TRIMMED_DSP_WORDS, // the first 4 x t bytes, t = the word count trimmed of blank words, block 128
};

struct CatalogueEntry {
  std::string_view name;  // the identifier the consumers use
  std::string_view file;  // file name inside an image set directory
  Unit unit;
  uint32_t bytes;
  CrcCover crc;
};

inline constexpr CatalogueEntry CATALOGUE[] = {
    {"MAIN_APP_IMAGE", "main_app.bin", Unit::WORD16, 188928, CrcCover::ALL_BYTES},
    {"MAIN_APP_IMAGE_V3", "main_app_v3.bin", Unit::WORD16, 188672, CrcCover::ALL_BYTES},
    {"PROGRAMMER_IMAGE", "programmer.bin", Unit::WORD16, 14336, CrcCover::ALL_BYTES},
    {"PROGRAMMER_IMAGE_V3", "programmer_v3.bin", Unit::WORD16, 14848, CrcCover::ALL_BYTES},
    {"XFLASH_TEXT_TABLE", "xflash_text_table.bin", Unit::BYTE, 14448, CrcCover::NOT_STORED},
    {"XFLASH_TEXT_TABLE_MODEL12", "xflash_text_table_model12.bin", Unit::BYTE, 14448, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_2", "xflash_block_2.bin", Unit::BYTE, 618, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_3", "xflash_block_3.bin", Unit::BYTE, 10932, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_4", "xflash_block_4.bin", Unit::BYTE, 13470, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_5", "xflash_block_5.bin", Unit::BYTE, 216, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_6", "xflash_block_6.bin", Unit::BYTE, 1818, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_7", "xflash_block_7.bin", Unit::BYTE, 17766, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_8", "xflash_block_8.bin", Unit::BYTE, 4224, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_9", "xflash_block_9.bin", Unit::BYTE, 114372, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_10", "xflash_block_10.bin", Unit::BYTE, 804, CrcCover::NOT_STORED},
    {"XFLASH_BLOCK_11", "xflash_block_11.bin", Unit::BYTE, 2688, CrcCover::NOT_STORED},
    {"DSP_CORE0_IMAGE", "dsp_core0.bin", Unit::DSP_WORD24, 335360, CrcCover::TRIMMED_DSP_WORDS},
    {"DSP_CORE1_IMAGE", "dsp_core1.bin", Unit::DSP_WORD24, 67584, CrcCover::TRIMMED_DSP_WORDS},
    {"OKI_IMAGE_24", "oki_24.bin", Unit::WORD16, 333824, CrcCover::ALL_BYTES},
    {"OKI_IMAGE_22", "oki_22.bin", Unit::WORD16, 249856, CrcCover::ALL_BYTES},
    {"OKI_IMAGE_23", "oki_23.bin", Unit::WORD16, 245760, CrcCover::ALL_BYTES},
    {"OKI_IMAGE_17", "oki_17.bin", Unit::WORD16, 2048, CrcCover::ALL_BYTES},
    {"OKI_IMAGE_13", "oki_13.bin", Unit::WORD16, 24576, CrcCover::ALL_BYTES},
    {"OKI_IMAGE_18", "oki_18.bin", Unit::WORD16, 2048, CrcCover::ALL_BYTES},
    {"OKI_IMAGE_14", "oki_14.bin", Unit::WORD16, 24576, CrcCover::ALL_BYTES},
    {"VIDEO_UC_RAM_IMAGE", "video_uc_ram.bin", Unit::BYTE, 14336, CrcCover::NOT_STORED},
    {"VIDEO_UNIFIED_IMAGE", "video_unified.bin", Unit::BYTE, 2622976, CrcCover::NOT_STORED},
    {"CPLD_IMAGE", "cpld.bin", Unit::BYTE, 49152, CrcCover::NOT_STORED},
    {"CPLD_CHECK_IMAGE", "cpld_check.bin", Unit::BYTE, 32768, CrcCover::NOT_STORED},
};
inline constexpr size_t CATALOGUE_SIZE = sizeof(CATALOGUE) / sizeof(CATALOGUE[0]);

// Checksum blocks: 8 bytes, two 32-bit little-endian words, directly in front
// of `first`; word 0 is the CRC of `first`, word 1 that of `second` (empty:
// the word is not read and holds 0).
struct ChecksumPair {
  std::string_view first;
  std::string_view second;
};

inline constexpr ChecksumPair CHECKSUM_PAIRS[] = {
    {"MAIN_APP_IMAGE", "MAIN_APP_IMAGE_V3"},
    {"PROGRAMMER_IMAGE", "PROGRAMMER_IMAGE_V3"},
    {"OKI_IMAGE_24", "OKI_IMAGE_22"},
    {"OKI_IMAGE_23", ""},
    {"OKI_IMAGE_17", "OKI_IMAGE_13"},
    {"OKI_IMAGE_18", "OKI_IMAGE_14"},
    {"DSP_CORE0_IMAGE", "DSP_CORE1_IMAGE"},
};
inline constexpr size_t CHECKSUM_PAIR_COUNT = sizeof(CHECKSUM_PAIRS) / sizeof(CHECKSUM_PAIRS[0]);

// Index of a catalogue entry by name; CATALOGUE_SIZE when there is none.
constexpr size_t CatalogueIndex(std::string_view name) {
  for (size_t i = 0; i < CATALOGUE_SIZE; ++i) {
    if (CATALOGUE[i].name == name) return i;
  }
  return CATALOGUE_SIZE;
}

// The trimming block of the DSP images (one DSP transfer block).
inline constexpr uint32_t DSP_TRIM_BLOCK = 128;

}  // namespace k4vimg
