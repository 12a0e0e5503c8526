// The virtual unit's starting firmware: the contents that a unit running the
// older firmware version 3.02 holds, by name, as read-only data. The installer
// never links this; see images/README.md for the names and their layouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace startfw {

struct Blob {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The unit's starting (version 3.02) content by name; {nullptr, 0} when unknown.
Blob Find(const std::string& name);

}  // namespace startfw
