// k4v-imagegen, run by the build:
//   k4v-imagegen generate --model M --version V --programmer-version P --loader-version L --out DIR
//       writes the synthetic image set (images and manifest.txt) into DIR
//   k4v-imagegen embed --set DIR --model M --version V --out FILE.S
//       checks the set in DIR and writes the assembler source that embeds it
//   k4v-imagegen startfw --set DIR --model M --version V --out FILE.S
//       checks the set in DIR and writes the virtual unit's starting firmware
// Exit code 0 on success, 1 when a set is refused or a file cannot be
// written, 2 for a wrong command line.
#include "tools/imagegen/ImageGen.h"

#include <cstdio>
#include <map>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: k4v-imagegen generate --model M --version V --programmer-version P --loader-version L --out DIR\n"
               "       k4v-imagegen embed --set DIR --model M --version V --out FILE.S\n"
               "       k4v-imagegen startfw --set DIR --model M --version V --out FILE.S\n");
  return 2;
}

int Fail(const std::string& what, const std::string& error) {
  std::fprintf(stderr, "k4v-imagegen: %s:\n%s\n", what.c_str(), error.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::map<std::string, std::string> options;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key.rfind("--", 0) != 0) return Usage();
    options[key.substr(2)] = argv[i + 1];
  }
  if ((argc - 2) % 2 != 0) return Usage();
  auto need = [&](std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
      if (options[key].empty()) return false;
    }
    return true;
  };

  std::string error;
  if (command == "generate") {
    if (!need({"model", "version", "programmer-version", "loader-version", "out"})) return Usage();
    const imagegen::SetIdentity identity{options["model"], options["version"], options["programmer-version"],
                                         options["loader-version"]};
    const auto images = imagegen::MakeSyntheticSet(identity, error);
    if (images.empty()) return Fail("the synthetic set breaks a rule", error);
    if (!imagegen::WriteImageSet(options["out"], identity, images, error)) return Fail("cannot write the set", error);
    return 0;
  }
  if (command == "embed" || command == "startfw") {
    if (!need({"set", "model", "version", "out"})) return Usage();
    imagegen::Manifest manifest;
    std::vector<imagegen::Bytes> images;
    if (!imagegen::ReadImageSet(options["set"], options["model"], options["version"], manifest, images, error)) {
      return Fail("the image set in " + options["set"] + " does not match this build", error);
    }
    const bool written =
        command == "embed"
            ? imagegen::WriteImageAssembly(options["out"], options["set"], manifest, error)
            : imagegen::WriteStartingFirmwareAssembly(options["out"], options["set"], manifest, images, error);
    if (!written) return Fail("cannot write " + options["out"], error);
    return 0;
  }
  return Usage();
}
