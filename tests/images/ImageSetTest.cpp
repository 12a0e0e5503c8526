// k4v-imagegen: the synthetic set is the same on every run, and a set whose
// sizes, CRCs, CRC ranges, names or version do not match is refused.
#include "engine/Crc32.h"
#include "tests/support/PtyPeer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int RunTool(const std::string& arguments) {
  const std::string command = std::string("'") + K4V_IMAGEGEN + "' " + arguments + " 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Generate(const std::string& dir) {
  return "generate --model 'Solstrand K4v' --version 3.10 --programmer-version 1.01 --loader-version 0.31 --out '" +
         dir + "'";
}

std::string Embed(const std::string& dir) {
  return "embed --set '" + dir + "' --model 'Solstrand K4v' --version 3.10 --out '" + dir + "/images.S'";
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Rewrites the manifest line that starts with `prefix` (removes it for "").
void EditManifest(const fs::path& dir, const std::string& prefix, const std::function<std::string(std::string)>& edit) {
  std::ifstream in(dir / "manifest.txt");
  std::ostringstream out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) line = edit(line);
    if (!line.empty()) out << line << "\n";
  }
  in.close();
  std::ofstream(dir / "manifest.txt", std::ios::trunc) << out.str();
}

// Replaces field `index` (0-based, blank separated) of a manifest line.
std::string SetField(const std::string& line, size_t index, const std::string& value) {
  std::istringstream in(line);
  std::vector<std::string> fields{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
  fields.at(index) = value;
  std::string out;
  for (const auto& f : fields) out += (out.empty() ? "" : " ") + f;
  return out;
}

std::string Hex(uint32_t v) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

TEST(ImageGenerator, WritesTheSameSetEveryTime) {
  k4vtest::TempDir first, second;
  ASSERT_EQ(RunTool(Generate(first.Path())), 0);
  ASSERT_EQ(RunTool(Generate(second.Path())), 0);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(first.Path())) {
    ++files;
    EXPECT_EQ(ReadBytes(entry.path()), ReadBytes(fs::path(second.Path()) / entry.path().filename()))
        << entry.path().filename();
  }
  EXPECT_EQ(files, 30u);  // 29 images and the manifest
}

struct RefusalCase {
  const char* name;
  std::function<void(const fs::path&)> spoil;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class ImageSetCheck : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImageSetCheck, RefusesASetThatDoesNotMatch) {
  k4vtest::TempDir dir;
  ASSERT_EQ(RunTool(Generate(dir.Path())), 0);
  ASSERT_EQ(RunTool(Embed(dir.Path())), 0) << "the generated set itself is refused";
  fs::remove(fs::path(dir.Path()) / "images.S");
  GetParam().spoil(dir.Path());
  EXPECT_EQ(RunTool(Embed(dir.Path())), 1);
  EXPECT_FALSE(fs::exists(fs::path(dir.Path()) / "images.S"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageSetCheck,
    ::testing::Values(
        RefusalCase{"FileOneByteShort",
                    [](const fs::path& d) {
                      auto b = ReadBytes(d / "dsp_core1.bin");
                      b.pop_back();
                      WriteBytes(d / "dsp_core1.bin", b);
                    }},
        RefusalCase{"FileOneBitChanged",
                    [](const fs::path& d) {
                      auto b = ReadBytes(d / "oki_17.bin");
                      b[100] ^= 0x01;
                      WriteBytes(d / "oki_17.bin", b);
                    }},
        RefusalCase{"ManifestCrcWrong",
                    [](const fs::path& d) {
                      EditManifest(d, "image VIDEO_UNIFIED_IMAGE ",
                                   [](std::string l) { return SetField(l, 5, "0x12345678"); });
                    }},
        RefusalCase{"ManifestSizeWrong",
                    [](const fs::path& d) {
                      // File and manifest agree, the catalogue does not.
                      auto b = ReadBytes(d / "cpld.bin");
                      b.resize(b.size() + 16384, 0xFF);
                      WriteBytes(d / "cpld.bin", b);
                      EditManifest(d, "image CPLD_IMAGE ", [&](std::string l) {
                        l = SetField(l, 4, std::to_string(b.size()));
                        l = SetField(l, 5, Hex(Crc32(b.data(), static_cast<uint32_t>(b.size()))));
                        return SetField(l, 6, std::to_string(b.size()));
                      });
                    }},
        RefusalCase{"DspCrcOverTheWrongRange",
                    [](const fs::path& d) {
                      // A CRC that is right for its stated range, but the range is not
                      // the trimmed word count.
                      const auto b = ReadBytes(d / "dsp_core0.bin");
                      const uint32_t range = 4 * 83712;
                      EditManifest(d, "image DSP_CORE0_IMAGE ", [&](std::string l) {
                        l = SetField(l, 5, Hex(Crc32(b.data(), range)));
                        return SetField(l, 6, std::to_string(range));
                      });
                    }},
        RefusalCase{"ImageMissing", [](const fs::path& d) { EditManifest(d, "image CPLD_CHECK_IMAGE ", [](std::string) { return std::string(); }); }},
        RefusalCase{"UnknownImage",
                    [](const fs::path& d) {
                      std::ofstream(d / "manifest.txt", std::ios::app) << "image OKI_IMAGE_19 oki_17.bin word16 2048 0x0 2048 yes\n";
                    }},
        RefusalCase{"OtherVersion", [](const fs::path& d) { EditManifest(d, "version ", [](std::string) { return std::string("version 3.09"); }); }},
        RefusalCase{"FileOutsideTheSet",
                    [](const fs::path& d) {
                      EditManifest(d, "image CPLD_IMAGE ", [](std::string l) { return SetField(l, 2, "../cpld.bin"); });
                    }},
        RefusalCase{"UnitWrong",
                    [](const fs::path& d) {
                      EditManifest(d, "image OKI_IMAGE_13 ", [](std::string l) { return SetField(l, 3, "byte"); });
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
