// Benchmark of the image set: CRC-32 throughput, the integrity check of every
// image, and the memory the embedded set takes (program size, resident memory
// before and after every image has been read once).
#include "engine/Crc32.h"
#include "engine/FirmwareImages.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  struct stat exe {};
  stat("/proc/self/exe", &exe);
  uint64_t setBytes = 0;
  for (uint32_t id = 0; id < IMAGE_ID_COUNT; ++id) setBytes += GetFirmwareImage(static_cast<ImageId>(id)).byteCount;
  std::printf("program size: %lld bytes; embedded image set: %llu bytes\n", static_cast<long long>(exe.st_size),
              static_cast<unsigned long long>(setBytes));
  std::printf("resident memory before reading the images: %ld kB (file-backed %ld kB, anonymous %ld kB)\n",
              StatusKb("VmRSS"), StatusKb("RssFile"), StatusKb("RssAnon"));

  InitCrc32Table();
  auto start = std::chrono::steady_clock::now();
  uint32_t checked = 0;
  for (uint32_t id = 0; id < IMAGE_ID_COUNT; ++id) {
    const FirmwareImage image = GetFirmwareImage(static_cast<ImageId>(id));
    if (image.carried && image.hasStoredCrc && ImageCrcMatches(image)) ++checked;
    if (image.carried && !image.hasStoredCrc) Crc32(image.bytes, image.byteCount);  // reads it once
  }
  std::printf("integrity check of %u images with a stored CRC and one read of the rest: %.1f ms\n", checked,
              SecondsSince(start) * 1000);
  std::printf("resident memory after reading every image: %ld kB (file-backed %ld kB, anonymous %ld kB)\n",
              StatusKb("VmRSS"), StatusKb("RssFile"), StatusKb("RssAnon"));

  const FirmwareImage unified = GetFirmwareImage(VIDEO_UNIFIED_IMAGE);
  constexpr int ROUNDS = 20;
  start = std::chrono::steady_clock::now();
  uint32_t sink = 0;
  for (int i = 0; i < ROUNDS; ++i) sink += Crc32(unified.bytes, unified.byteCount);
  const double seconds = SecondsSince(start);
  std::printf("Crc32 throughput: %.0f MB/s (%d x %u bytes, result %08x)\n",
              ROUNDS * static_cast<double>(unified.byteCount) / seconds / 1e6, ROUNDS, unified.byteCount, sink);
  return checked == 13 ? 0 : 1;
}
