#include "platform/PortNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace platform {

namespace {

// "\\.\COMn" with n >= 1; 0 when the name is not in the device namespace at
// all; -1 when it is, but names no COM port.
int ComPortNumber(const std::string& name) {
  static const std::string prefix = "\\\\.\\";
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  std::string rest = name.substr(prefix.size());
  if (rest.size() < 4) return -1;
  for (int i = 0; i < 3; ++i) rest[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[i])));
  if (rest.compare(0, 3, "COM") != 0) return 0;
  int n = 0;
  for (size_t i = 3; i < rest.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(rest[i])) || n > 100000) return -1;
    n = n * 10 + (rest[i] - '0');
  }
  return n > 0 ? n : -1;
}

// Device names with the given prefix in /dev, ordered by their number.
std::vector<std::string> DevicesWithPrefix(const std::string& prefix) {
  std::vector<std::pair<long, std::string>> found;
  if (DIR* dir = opendir("/dev")) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string digits = name.substr(prefix.size());
      if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        continue;
      found.emplace_back(std::strtol(digits.c_str(), nullptr, 10), name);
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& f : found) names.push_back(f.second);
  return names;
}

// A ttyS port has a UART when the serial core reports a known port type.
bool HasUart(const std::string& ttyName) {
  std::ifstream type("/sys/class/tty/" + ttyName + "/type");
  int value = 0;
  return type >> value && value != 0;
}

}  // namespace

std::vector<std::string> MachineSerialDevices() {
  std::vector<std::string> devices;
  for (const auto& name : DevicesWithPrefix("ttyUSB")) devices.push_back("/dev/" + name);
  for (const auto& name : DevicesWithPrefix("ttyACM")) devices.push_back("/dev/" + name);
  for (const auto& name : DevicesWithPrefix("ttyS"))
    if (HasUart(name)) devices.push_back("/dev/" + name);
  return devices;
}

std::string ResolvePortName(const std::string& name) {
  const int number = ComPortNumber(name);
  if (number == 0) return name;
  if (number < 0) return std::string();
  if (const char* dir = std::getenv("SOLSTRAND_PORTS"); dir && *dir) {
    const std::string path = std::string(dir) + "/com" + std::to_string(number);
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? path : std::string();
  }
  const auto devices = MachineSerialDevices();
  return static_cast<size_t>(number) <= devices.size() ? devices[number - 1] : std::string();
}

}  // namespace platform
