// Image set directories: one file per image and "manifest.txt".
//
// Manifest format (text, one item per line, '#' starts a comment line):
//   model <model name>
//   version <firmware version>
//   image <name> <file> <unit> <bytes> <crc> <crc_bytes> <stored>
// unit is byte, word16 or dsp24; crc is the CRC-32 (0x + 8 hex digits) of the
// first crc_bytes bytes; stored is yes when the build keeps that CRC in a
// checksum block (then crc_bytes is the range the installer checks: all bytes,
// or for the DSP images 4 x the word count trimmed of blank words).
#include "tools/imagegen/ImageGen.h"

#include "engine/Crc32.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace imagegen {
namespace {

namespace fs = std::filesystem;
using k4vimg::CATALOGUE;

bool ReadFile(const fs::path& path, Bytes& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path.string();
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// A file name that stays inside the set directory and can be quoted in an
// assembler string.
bool PlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char ch : name) {
    if (ch == '/' || ch == '\\' || ch == '"' || static_cast<unsigned char>(ch) < 0x20) return false;
  }
  return true;
}

}  // namespace

std::string Hex32(uint32_t v) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

bool WriteBinaryFile(const std::string& path, const Bytes& bytes, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

const char* UnitName(k4vimg::Unit unit) {
  switch (unit) {
    case k4vimg::Unit::BYTE: return "byte";
    case k4vimg::Unit::WORD16: return "word16";
    case k4vimg::Unit::DSP_WORD24: return "dsp24";
  }
  return "?";
}

uint32_t CrcByteCount(const k4vimg::CatalogueEntry& entry, const Bytes& image) {
  if (entry.crc != k4vimg::CrcCover::TRIMMED_DSP_WORDS) return static_cast<uint32_t>(image.size());
  // Slots assembled from bytes: the buffer carries no alignment guarantee here.
  std::vector<uint32_t> slots(image.size() / 4);
  for (size_t i = 0; i < slots.size(); ++i) {
    slots[i] = static_cast<uint32_t>(image[4 * i]) | static_cast<uint32_t>(image[4 * i + 1]) << 8 |
               static_cast<uint32_t>(image[4 * i + 2]) << 16 | static_cast<uint32_t>(image[4 * i + 3]) << 24;
  }
  const uint32_t t = TrimBlankWords24(slots.data(), static_cast<uint32_t>(slots.size()), k4vimg::DSP_TRIM_BLOCK);
  return 4 * t;
}

bool WriteImageSet(const std::string& dir, const SetIdentity& identity, const std::vector<Bytes>& images,
                   std::string& error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + dir + ": " + ec.message();
    return false;
  }
  std::ostringstream manifest;
  manifest << "# Firmware image set: one file per image. Columns of an image line:\n"
           << "# name file unit bytes crc crc_bytes stored\n"
           << "model " << identity.model << "\n"
           << "version " << identity.version << "\n";
  for (size_t i = 0; i < k4vimg::CATALOGUE_SIZE; ++i) {
    const auto& entry = CATALOGUE[i];
    if (!WriteBinaryFile((fs::path(dir) / std::string(entry.file)).string(), images[i], error)) return false;
    const uint32_t crcBytes = CrcByteCount(entry, images[i]);
    manifest << "image " << entry.name << ' ' << entry.file << ' ' << UnitName(entry.unit) << ' '
             << images[i].size() << ' ' << Hex32(Crc32(images[i].data(), crcBytes)) << ' ' << crcBytes << ' '
             << (entry.crc == k4vimg::CrcCover::NOT_STORED ? "no" : "yes") << "\n";
  }
  // The manifest last: its time stamp tells the build that the set is complete.
  const std::string text = manifest.str();
  return WriteBinaryFile((fs::path(dir) / "manifest.txt").string(), Bytes(text.begin(), text.end()), error);
}

bool ReadImageSet(const std::string& dir, const std::string& model, const std::string& version,
                  Manifest& manifest, std::vector<Bytes>& images, std::string& error) {
  std::ifstream in(fs::path(dir) / "manifest.txt");
  if (!in) {
    error = "no manifest.txt in " + dir;
    return false;
  }
  std::vector<ManifestEntry> byIndex(k4vimg::CATALOGUE_SIZE);
  std::vector<bool> seen(k4vimg::CATALOGUE_SIZE, false);
  std::string line;
  int lineNumber = 0;
  std::ostringstream problems;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string keyword;
    fields >> keyword;
    if (keyword == "model" || keyword == "version") {
      std::string rest;
      std::getline(fields >> std::ws, rest);
      (keyword == "model" ? manifest.model : manifest.version) = rest;
      continue;
    }
    ManifestEntry e;
    std::string crcText, stored;
    if (keyword != "image" || !(fields >> e.name >> e.file >> e.unit >> e.bytes >> crcText >> e.crcBytes >> stored)) {
      problems << "manifest line " << lineNumber << " is not understood\n";
      continue;
    }
    char* end = nullptr;
    const unsigned long crc = std::strtoul(crcText.c_str(), &end, 16);
    if (end == crcText.c_str() || *end != '\0' || crc > 0xFFFFFFFFul) {
      problems << "manifest line " << lineNumber << ": \"" << crcText << "\" is not a CRC\n";
      continue;
    }
    e.crc = static_cast<uint32_t>(crc);
    e.stored = stored == "yes";
    const size_t i = k4vimg::CatalogueIndex(e.name);
    if (i == k4vimg::CATALOGUE_SIZE) {
      problems << e.name << ": not an image of this build\n";
      continue;
    }
    if (seen[i]) problems << e.name << ": listed twice\n";
    seen[i] = true;
    byIndex[i] = e;
  }
  if (!model.empty() && manifest.model != model)
    problems << "the set is for model \"" << manifest.model << "\", this build for \"" << model << "\"\n";
  if (!version.empty() && manifest.version != version)
    problems << "the set is version \"" << manifest.version << "\", this build " << version << "\n";

  images.assign(k4vimg::CATALOGUE_SIZE, Bytes());
  for (size_t i = 0; i < k4vimg::CATALOGUE_SIZE; ++i) {
    const auto& entry = CATALOGUE[i];
    const ManifestEntry& e = byIndex[i];
    if (!seen[i]) {
      problems << entry.name << ": missing\n";
      continue;
    }
    if (e.unit != UnitName(entry.unit)) problems << entry.name << ": unit " << e.unit << ", must be " << UnitName(entry.unit) << "\n";
    if (e.bytes != entry.bytes) problems << entry.name << ": manifest size " << e.bytes << ", must be " << entry.bytes << "\n";
    if (e.stored != (entry.crc != k4vimg::CrcCover::NOT_STORED)) problems << entry.name << ": stored flag is wrong\n";
    if (!PlainFileName(e.file)) {
      problems << entry.name << ": file name \"" << e.file << "\" is not a plain file name\n";
      continue;
    }
    std::string readError;
    if (!ReadFile(fs::path(dir) / e.file, images[i], readError)) {
      problems << entry.name << ": " << readError << "\n";
      continue;
    }
    if (images[i].size() != entry.bytes) {
      problems << entry.name << ": file holds " << images[i].size() << " bytes, must be " << entry.bytes << "\n";
      continue;
    }
    const uint32_t crcBytes = CrcByteCount(entry, images[i]);
    if (e.crcBytes != crcBytes) problems << entry.name << ": CRC range " << e.crcBytes << " bytes, must be " << crcBytes << "\n";
    const uint32_t crc = Crc32(images[i].data(), crcBytes);
    if (e.crc != crc) problems << entry.name << ": CRC " << Hex32(e.crc) << " in the manifest, the file gives " << Hex32(crc) << "\n";
  }
  manifest.entries = byIndex;
  error = problems.str();
  return error.empty();
}

}  // namespace imagegen
