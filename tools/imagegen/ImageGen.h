// k4v-imagegen: writes the synthetic firmware image set of a build, checks an
// image set against the catalogue, and writes the assembler sources that embed
// a set (and the virtual unit's starting firmware) as read-only data.
#pragma once

#include "images/ImageCatalogue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagegen {

using Bytes = std::vector<uint8_t>;

// The texts that name a set: the model, the set's firmware version, and the
// versions that the programmer firmware and the controller's external boot
// loader name in their identification texts.
struct SetIdentity {
  std::string model;
  std::string version;
  std::string programmerVersion;
  std::string loaderVersion;
};

// The marker that introduces an identification text inside a program image.
inline constexpr char IDENT_MARKER[] = "$IDENT";

// The synthetic image set, one entry per catalogue entry in catalogue order.
// Fails (empty result, error set) only when a generated image breaks a rule it
// must keep, which would be a fault of the generator.
std::vector<Bytes> MakeSyntheticSet(const SetIdentity& identity, std::string& error);

// One line of a manifest.
struct ManifestEntry {
  std::string name;
  std::string file;
  std::string unit;    // "byte", "word16", "dsp24"
  uint32_t bytes = 0;
  uint32_t crc = 0;       // CRC-32 over the first crcBytes bytes
  uint32_t crcBytes = 0;  // the range the CRC covers, from byte 0
  bool stored = false;    // the build stores this CRC in a checksum block
};

struct Manifest {
  std::string model;
  std::string version;
  std::vector<ManifestEntry> entries;  // catalogue order after ReadImageSet
};

const char* UnitName(k4vimg::Unit unit);
// "0x" + 8 lowercase hex digits.
std::string Hex32(uint32_t v);
bool WriteBinaryFile(const std::string& path, const Bytes& bytes, std::string& error);
// The byte count that an image's CRC covers (all bytes; for the DSP images the
// trimmed word count times 4).
uint32_t CrcByteCount(const k4vimg::CatalogueEntry& entry, const Bytes& image);

// Writes the images and "manifest.txt" into dir (created if needed).
bool WriteImageSet(const std::string& dir, const SetIdentity& identity, const std::vector<Bytes>& images,
                   std::string& error);

// Reads dir/manifest.txt and every image, and checks them: every catalogue
// image present once, with its unit, size and stored flag; the CRC range and
// the CRC equal to what the file holds; model and version as expected.
bool ReadImageSet(const std::string& dir, const std::string& model, const std::string& version,
                  Manifest& manifest, std::vector<Bytes>& images, std::string& error);

// The main board's external flash as a unit holds it: 3583 pages of 128 bytes,
// the text table from page 0, blocks 2 to 11 from page 512 with their
// directory entries on page 3582 (block 11 with each byte pair exchanged).
inline constexpr uint32_t XFLASH_IMAGE_SIZE = 458624;
Bytes LayoutXflash(const Bytes& textTable, const std::vector<const Bytes*>& blocks2To11);

// Assembler source embedding a checked set: the images in catalogue order,
// each checksum block in front of the first image of its pair, and the table
// k4v_image_table (offset, byte count, checksum block offset per image).
bool WriteImageAssembly(const std::string& path, const std::string& setDir, const Manifest& manifest,
                        std::string& error);

// Assembler source of the virtual unit's starting firmware from a checked set:
// named blobs, the external flash contents laid out and written beside path.
bool WriteStartingFirmwareAssembly(const std::string& path, const std::string& setDir, const Manifest& manifest,
                                   const std::vector<Bytes>& images, std::string& error);

}  // namespace imagegen
