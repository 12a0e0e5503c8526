// Access to the firmware images that this build carries as read-only data.
//
// Each consumer asks for its image by identifier and gets a small view: the
// bytes, their count, the element unit, the element count and the stored
// CRC-32. Images that the build does not carry are one zero element with a
// stored CRC of 0, so their integrity check fails (the CRC-32 of one zero
// 16-bit word is 0x047679CA, never 0) and the consuming step reports its
// checksum error.
//
// The data never changes while the program runs, except through the test hook
// at the end of this file. Views stay valid for the life of the program
// (substituted test data: until it is restored).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the embedded images hold little-endian words and are read in place");

enum ImageId {
  // Main processor flash (16-bit words).
  MAIN_APP_IMAGE,
  MAIN_APP_IMAGE_V3,
  PROGRAMMER_IMAGE,
  PROGRAMMER_IMAGE_V3,
  // Main board external flash (bytes).
  XFLASH_TEXT_TABLE,
  XFLASH_TEXT_TABLE_MODEL12,
  XFLASH_BLOCK_2,
  XFLASH_BLOCK_3,
  XFLASH_BLOCK_4,
  XFLASH_BLOCK_5,
  XFLASH_BLOCK_6,
  XFLASH_BLOCK_7,
  XFLASH_BLOCK_8,
  XFLASH_BLOCK_9,
  XFLASH_BLOCK_10,
  XFLASH_BLOCK_11,
  // DSP module flash (24-bit DSP words in 32-bit slots).
  DSP_CORE0_IMAGE,
  DSP_CORE1_IMAGE,
  // Video-board controller flash (16-bit words), by image number 11..24.
  OKI_IMAGE_11,
  OKI_IMAGE_12,
  OKI_IMAGE_13,
  OKI_IMAGE_14,
  OKI_IMAGE_15,
  OKI_IMAGE_16,
  OKI_IMAGE_17,
  OKI_IMAGE_18,
  OKI_IMAGE_19,
  OKI_IMAGE_20,
  OKI_IMAGE_21,
  OKI_IMAGE_22,
  OKI_IMAGE_23,
  OKI_IMAGE_24,
  // Video processor (bytes): the flash programmer (image 10) and the unified
  // UC and OSD flash (image 11).
  VIDEO_UC_RAM_IMAGE,
  VIDEO_UNIFIED_IMAGE,
  // Configurators (bytes): CPLD programming and verification; the FPGA
  // configurator images are not carried by this build.
  CPLD_IMAGE,
  CPLD_CHECK_IMAGE,
  FPGA_CONFIG_IMAGE,
  FPGA_CONFIG_CHECK_IMAGE,
  // A number that names no image: treated as a controller application that is
  // not carried (one zero word, stored CRC 0).
  NO_IMAGE,
  IMAGE_ID_COUNT
};

// Controller image number 11..24 to its identifier; NO_IMAGE for any other.
ImageId OkiImageId(uint32_t number);
// Video processor image number to its identifier: 10 and 11; NO_IMAGE for the
// numbers this build does not carry.
ImageId VideoImageId(uint32_t number);
// The identifier as text, for messages ("MAIN_APP_IMAGE").
const char* ImageIdName(ImageId id);

enum class ElementUnit : uint8_t {
  BYTE = 1,        // as is
  WORD16 = 2,      // 16-bit words, low byte first
  DSP_WORD24 = 4,  // 24-bit DSP words, one 32-bit little-endian slot each, top byte 0
};

struct FirmwareImage {
  const uint8_t* bytes = nullptr;  // aligned to at least 4 bytes
  uint32_t byteCount = 0;
  ElementUnit unit = ElementUnit::BYTE;
  uint32_t elementCount = 0;
  bool carried = false;       // false: the one-zero-element stand-in of an image this build lacks
  bool hasStoredCrc = false;  // the image has a stored CRC-32 (absent ones too: 0)
  uint32_t storedCrc = 0;

  // Typed access for WORD16 / DSP_WORD24 images (null for another unit). The
  // data are aligned and the host is little-endian, so these read in place.
  const uint16_t* Words16() const {
    return unit == ElementUnit::WORD16 ? reinterpret_cast<const uint16_t*>(bytes) : nullptr;
  }
  const uint32_t* Slots24() const {
    return unit == ElementUnit::DSP_WORD24 ? reinterpret_cast<const uint32_t*>(bytes) : nullptr;
  }
};

// The image with this identifier; an identifier out of range gives the
// stand-in of NO_IMAGE.
FirmwareImage GetFirmwareImage(ImageId id);

// The byte count that the stored CRC-32 covers: all bytes, or for the DSP
// images 4 x the word count trimmed of blank words (block 128), at most the
// whole image; 0 for an image without a stored CRC.
uint32_t StoredCrcByteCount(const FirmwareImage& image);

// The integrity check of an image before it is sent: the CRC-32 over its
// checksum range equals the stored value. False for an image without a stored
// CRC.
bool ImageCrcMatches(const FirmwareImage& image);

// --- test hook --------------------------------------------------------------
// Puts other bytes in place of an image (its unit stays; the byte count must be
// a non-zero multiple of the unit, otherwise nothing changes and the result is
// false). The stored CRC stays as it was unless replaced below.
bool SubstituteImageBytes(ImageId id, const std::vector<uint8_t>& bytes);
// Puts another stored CRC in place of an image's.
void SubstituteStoredCrc(ImageId id, uint32_t crc);
// Returns every image to the embedded data.
void RestoreFirmwareImages();
