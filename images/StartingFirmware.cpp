// Lookup of the starting firmware blobs. The build assembles them into one
// read-only section: k4v_startfw_table holds three 32-bit words per blob (the
// offsets of its NUL-terminated name and of its data from k4v_startfw_base,
// and its byte count).
#include "images/StartingFirmware.h"


extern "C" {
extern const unsigned char k4v_startfw_base[];
extern const uint32_t k4v_startfw_table[];
extern const uint32_t k4v_startfw_count;
}

namespace startfw {

Blob Find(const std::string& name) {
  for (uint32_t i = 0; i < k4v_startfw_count; ++i) {
    const uint32_t* row = k4v_startfw_table + 3 * i;
    const char* blobName = reinterpret_cast<const char*>(k4v_startfw_base + row[0]);
    if (name == blobName) return Blob{k4v_startfw_base + row[1], row[2]};
  }
  return Blob{};
}

}  // namespace startfw
