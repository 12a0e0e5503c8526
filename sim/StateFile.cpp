#include "sim/StateFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string_view>

namespace sim {

namespace {

constexpr std::string_view HEADER = "K4V-VIRTUAL-UNIT-STATE 1\n";
constexpr size_t MAX_RECORD_BYTES = 64u << 20;

class Writer {
 public:
  Writer() { m_out.append(HEADER); }
  void Put(std::string_view key, std::string_view value) {
    PutLe(key.size(), 2);
    m_out.append(key);
    PutLe(value.size(), 4);
    m_out.append(value);
  }
  void Put(std::string_view key, const std::vector<uint8_t>& bytes) {
    Put(key, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  void PutNumber(std::string_view key, int64_t v) { Put(key, std::to_string(v)); }
  void PutFlag(std::string_view key, bool v) { Put(key, v ? "1" : "0"); }
  template <size_t N>
  void PutBytes(std::string_view key, const std::array<uint8_t, N>& a) {
    Put(key, std::string_view(reinterpret_cast<const char*>(a.data()), N));
  }
  std::string Take() { return std::move(m_out); }

 private:
  void PutLe(size_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) m_out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  std::string m_out;
};

class Reader {
 public:
  bool Parse(const std::string& bytes, std::string& error) {
    if (bytes.compare(0, HEADER.size(), HEADER) != 0) return Fail(error, "not a virtual unit state file");
    size_t at = HEADER.size();
    while (at < bytes.size()) {
      size_t keyLength = 0, valueLength = 0;
      if (!GetLe(bytes, at, 2, keyLength) || bytes.size() - at < keyLength) return Fail(error, "truncated record");
      std::string key = bytes.substr(at, keyLength);
      at += keyLength;
      if (!GetLe(bytes, at, 4, valueLength) || bytes.size() - at < valueLength || valueLength > MAX_RECORD_BYTES)
        return Fail(error, "truncated record '" + key + "'");
      m_values[key] = bytes.substr(at, valueLength);
      at += valueLength;
    }
    return true;
  }

  // Each getter leaves the target as it is when the key is absent, and fails
  // when the value does not fit.
  bool Text(const std::string& key, std::string& out) const {
    if (const std::string* v = Find(key)) out = *v;
    return true;
  }
  // A memory or byte array: the value must have the target's size.
  template <class Bytes>
  bool Fixed(const std::string& key, Bytes& out) {
    const std::string* v = Find(key);
    if (!v) return true;
    if (v->size() != out.size()) return Bad(key);
    std::copy(v->begin(), v->end(), out.begin());
    return true;
  }
  template <class T>
  bool Number(const std::string& key, T& out, int64_t low, int64_t high) {
    const std::string* v = Find(key);
    if (!v) return true;
    int64_t n = 0;
    const auto r = std::from_chars(v->data(), v->data() + v->size(), n);
    if (r.ec != std::errc() || r.ptr != v->data() + v->size() || n < low || n > high) return Bad(key);
    out = static_cast<T>(n);
    return true;
  }
  bool Flag(const std::string& key, bool& out) {
    int v = out ? 1 : 0;
    if (!Number(key, v, 0, 1)) return false;
    out = v != 0;
    return true;
  }
  bool ProgramValue(const std::string& key, Program& out) {
    const std::string* v = Find(key);
    if (!v) return true;
    const auto p = ProgramFromName(*v);
    if (!p) return Bad(key);
    out = *p;
    return true;
  }
  const std::string& Error() const { return m_error; }

 private:
  const std::string* Find(const std::string& key) const {
    const auto it = m_values.find(key);
    return it == m_values.end() ? nullptr : &it->second;
  }
  static bool GetLe(const std::string& bytes, size_t& at, int n, size_t& out) {
    if (bytes.size() - at < static_cast<size_t>(n)) return false;
    out = 0;
    for (int i = 0; i < n; ++i) out |= static_cast<size_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    at += static_cast<size_t>(n);
    return true;
  }
  static bool Fail(std::string& error, const std::string& why) {
    error = why;
    return false;
  }
  bool Bad(const std::string& key) {
    if (m_error.empty()) m_error = "bad value for '" + key + "'";
    return false;
  }

  std::map<std::string, std::string> m_values;
  std::string m_error;
};

constexpr int64_t MAX_BAUD = 4000000;

}  // namespace

std::string SerialiseState(const UnitState& s) {
  Writer w;
  w.Put("profile", s.profileName);
  w.Put("model", s.model);
  w.PutNumber("board-revision", s.boardRevision);
  w.PutFlag("powered", s.powered);
  w.Put("main.program", ProgramName(s.main.program));
  w.PutNumber("main.line-baud", s.main.lineBaud);
  w.PutNumber("main.application-baud", s.main.applicationBaud);
  w.Put("main.flash", s.main.flash);
  w.Put("main.eeprom", s.main.eeprom);
  w.PutBytes("main.fuses", s.main.fuses);
  w.PutBytes("main.signature", s.main.signature);
  w.Put("loader.identification", s.main.loader.identification);
  w.Put("loader.version", s.main.loader.versionDigits);
  w.Put("loader.query-answer", s.main.loader.queryAnswer == LoaderQueryAnswer::Identification ? "identification" : "question-marks");
  w.PutFlag("main.checksum-blank", s.main.checksumBlank);
  w.Put("xflash", s.xflash.data);
  w.Put("xflash.chip", s.xflash.chip);
  for (size_t z = 0; z < s.zones.on.size(); ++z) w.PutFlag("zone" + std::to_string(z + 1), s.zones.on[z]);
  w.PutNumber("power-up.zone1-queries", s.zones.rules.zone1OnAfterQueries);
  w.PutNumber("power-up.zone1-ms", s.zones.rules.zone1OnAfterMs);
  w.PutNumber("power-up.debug-queries", s.zones.rules.debugReadyAfterQueries);
  w.PutNumber("power-up.debug-ms", s.zones.rules.debugReadyAfterMs);
  w.PutFlag("clock.24h", s.clock.format24h);
  w.PutNumber("clock.weekday", s.clock.weekday);
  w.Put("clock.time", s.clock.timeOfDay);
  w.PutFlag("dsp.present", s.dsp.present);
  w.PutNumber("dsp.identification", s.dsp.identification);
  w.PutNumber("dsp.revision", s.dsp.revision);
  w.PutFlag("video.present", s.video.present);
  w.Put("video.loader-identification", s.video.loaderIdentification);
  w.PutNumber("video.loader-baud", s.video.loaderBaud);
  return w.Take();
}

std::optional<UnitState> ParseState(const std::string& bytes, std::string* error) {
  Reader r;
  std::string why;
  if (!r.Parse(bytes, why)) {
    if (error) *error = why;
    return std::nullopt;
  }
  UnitState s;
  std::string queryAnswer = "question-marks";
  bool ok = r.Text("profile", s.profileName) && r.Text("model", s.model) &&
            r.Number("board-revision", s.boardRevision, 2, 3) && r.Flag("powered", s.powered) &&
            r.ProgramValue("main.program", s.main.program) && r.Number("main.line-baud", s.main.lineBaud, 1, MAX_BAUD) &&
            r.Number("main.application-baud", s.main.applicationBaud, 1, MAX_BAUD) &&
            r.Fixed("main.flash", s.main.flash) &&
            r.Fixed("main.eeprom", s.main.eeprom) && r.Fixed("main.fuses", s.main.fuses) &&
            r.Fixed("main.signature", s.main.signature) &&
            r.Text("loader.identification", s.main.loader.identification) &&
            r.Text("loader.version", s.main.loader.versionDigits) && r.Text("loader.query-answer", queryAnswer) &&
            r.Fixed("xflash", s.xflash.data) && r.Flag("main.checksum-blank", s.main.checksumBlank) &&
            r.Text("xflash.chip", s.xflash.chip);
  if (ok && !FindExternalFlashChip(s.xflash.chip)) {
    ok = false;
    why = "bad value for 'xflash.chip'";
  }
  for (size_t z = 0; ok && z < s.zones.on.size(); ++z) ok = r.Flag("zone" + std::to_string(z + 1), s.zones.on[z]);
  constexpr int64_t MAX_RULE = 0xFFFFFFFF;
  ok = ok && r.Number("power-up.zone1-queries", s.zones.rules.zone1OnAfterQueries, 0, MAX_RULE) &&
       r.Number("power-up.zone1-ms", s.zones.rules.zone1OnAfterMs, 0, MAX_RULE) &&
       r.Number("power-up.debug-queries", s.zones.rules.debugReadyAfterQueries, 0, MAX_RULE) &&
       r.Number("power-up.debug-ms", s.zones.rules.debugReadyAfterMs, 0, MAX_RULE);
  ok = ok && r.Flag("clock.24h", s.clock.format24h) && r.Number("clock.weekday", s.clock.weekday, 0, 7) &&
       r.Text("clock.time", s.clock.timeOfDay) && r.Flag("dsp.present", s.dsp.present) &&
       r.Number("dsp.identification", s.dsp.identification, 0, 0xFFFFFF) &&
       r.Number("dsp.revision", s.dsp.revision, 0, 0xFFFFFF) && r.Flag("video.present", s.video.present) &&
       r.Text("video.loader-identification", s.video.loaderIdentification) &&
       r.Number("video.loader-baud", s.video.loaderBaud, 1, MAX_BAUD);
  if (ok) {
    if (queryAnswer == "identification")
      s.main.loader.queryAnswer = LoaderQueryAnswer::Identification;
    else if (queryAnswer == "question-marks")
      s.main.loader.queryAnswer = LoaderQueryAnswer::QuestionMarks;
    else {
      ok = false;
      why = "bad value for 'loader.query-answer'";
    }
  }
  if (!ok) {
    if (error) *error = why.empty() ? r.Error() : why;
    return std::nullopt;
  }
  return s;
}

bool SaveStateFile(const UnitState& state, const std::string& path, std::string* error) {
  // Written beside the target and renamed over it, so that a crash never
  // leaves half a state file.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    const std::string bytes = SerialiseState(state);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      if (error) *error = "cannot write state file " + path;
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    if (error) *error = "cannot replace state file " + path;
    return false;
  }
  return true;
}

std::optional<UnitState> LoadStateFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read state file " + path;
    return std::nullopt;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string why;
  auto state = ParseState(bytes, &why);
  if (!state && error) *error = path + ": " + why;
  return state;
}

}  // namespace sim
