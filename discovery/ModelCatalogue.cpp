// The model catalogue's tables and the CSerialPort operations that apply them.
#include "discovery/ModelCatalogue.h"

#include "serial/SerialPort.h"

#include <cstdio>
#include <cstring>

namespace catalogue {

const char* const APPLICATION_TABLE[17] = {
    "QOR 7 V",          "QOR 70 V",         "QOR 70-HD v",   "QOR 80-HD v",      "QOR 90 v",       "QOR 60 v",
    "QOR 90/ARC v",     "QOR 60/ARC v",     "QOR 60v v",     "Solstrand K3HD v", "Solstrand K3v2 v", "Solstrand K4 v",
    "Solstrand K4v v",  "Solstrand K4v 3D v", "QOR 60v 3D v", "QOR 80 V",         "Solstrand K3 v",
};

const CodedEntry PROGRAMMER_TABLE[16] = {
    {"QOR 70 EEPROM Prog", 1, 0},
    {"QOR 80 EEPROM Prog", 2, 0},
    {"QOR 70-HD EEPROM Prog", 1, 0},
    {"QOR 80-HD EEPROM Prog", 2, 0},
    {"QOR 90 EEPROM Prog", 3, HW_QOR90_VIDEO},
    {"QOR 90/ARC EEPROM Prog", 4, HW_QOR90_VIDEO},
    {"QOR 60 EEPROM Prog", 5, 0},
    {"QOR 60/ARC EEPROM Prog", 6, 0},
    {"QOR 60v EEPROM Prog", 7, 0},
    {"QOR 60v FLASH Prog", 8, 0},
    {"Solstrand K3HD EEPROM Prog", 9, 0},
    {"Solstrand K3v2 EEPROM Prog", 9, HW_QOR90_VIDEO},
    {"Solstrand K4 EEPROM Prog", 10, 0},
    {"Solstrand K4v EEPROM Prog", 11, 0},
    {"Solstrand K4v FLASH Prog", 12, 0},
    {"Solstrand K3 EEPROM Prog", 9, 0},
};

const CodedEntry LOADER_TABLE[12] = {
    {"SOLSTRAND K3 ISP", 9, 0},  {"SOLSTRAND K4 ISP", 10, 0}, {"SOLSTRAND K4v2 ISP", 11, 0},
    {"SOLSTRAND K4v3 ISP", 12, 0}, {"QOR 70 ISP", 1, 0},        {"QOR 80 ISP", 2, 0},
    {"QOR 90 ISP", 3, 0},         {"QOR 90arc ISP", 4, 0},     {"QOR 60 ISP", 5, 0},
    {"QOR 60arc ISP", 6, 0},      {"QOR 60v2 ISP", 7, 0},      {"QOR 60v3 ISP", 8, 0},
};

const ListEntry ACCEPTANCE_LIST[23] = {
    {"QOR 7 ", 0, false},           {"QOR 70 ", 0, false},           {"QOR 70-HD ", 0, false},
    {"QOR 80-HD ", 0, false},       {"QOR 90 ", 0, false},           {"QOR 90/ARC ", 0, false},
    {"QOR 90arc ISP", 0, false},    {"QOR 60arc ISP", 0, false},     {"QOR 60 ", 0, false},
    {"QOR 60/ARC ", 0, false},      {"QOR 60v ", 0, false},          {"QOR 60v2 ISP", 0, false},
    {"QOR 60v3 ISP", 0, false},     {"SOLSTRAND K4v3 ISP", 0, false}, {"Solstrand K3HD ", 0, false},
    {"Solstrand K3v2 ", 0, false},  {"Solstrand K4 ", 0, false},     {"SOLSTRAND K4", 0, true},
    {"Solstrand K4v ", 0, false},   {"SOLSTRAND K4v2 ISP", 0, false}, {"QOR 80 ", 0, false},
    {"Solstrand K3", 0, false},     {"SOLSTRAND K3", 0, true},
};

const ListEntry MODEL_LIST[24] = {
    {"Solstrand K3 ", 9, false},      {"SOLSTRAND K3", 9, true},        {"QOR 7 ", 0, false},
    {"QOR 80 ", 2, false},            {"QOR 70-HD ", 1, false},         {"QOR 80-HD ", 2, false},
    {"QOR 90 ", 3, false},            {"QOR 90/ARC ", 4, false},        {"QOR 90arc ISP", 4, false},
    {"QOR 60 ", 5, false},            {"QOR 60/ARC ", 6, false},        {"QOR 60arc ISP", 6, false},
    {"QOR 60v F", 8, false},          {"QOR 60v3 ISP", 8, false},       {"QOR 60v ", 7, false},
    {"QOR 60v2 ISP", 7, false},       {"Solstrand K3HD ", 9, false},    {"Solstrand K3v2 ", 9, false},
    {"Solstrand K4 ", 10, false},     {"SOLSTRAND K4 ", 10, true},      {"Solstrand K4v F", 12, false},
    {"SOLSTRAND K4v3 ISP", 12, false}, {"Solstrand K4v ", 11, false},   {"SOLSTRAND K4v2 ISP", 11, false},
};

const char* FindApplicationEntry(std::string_view answer) {
  for (const char* entry : APPLICATION_TABLE)
    if (Contains(answer, entry)) return entry;
  return nullptr;
}

const CodedEntry* FindProgrammerEntry(std::string_view answer) {
  for (const auto& entry : PROGRAMMER_TABLE)
    if (Contains(answer, entry.text)) return &entry;
  return nullptr;
}

const CodedEntry* FindLoaderEntry(std::string_view answer) {
  for (const auto& entry : LOADER_TABLE)
    if (Contains(answer, entry.text)) return &entry;
  return nullptr;
}

bool IsAccepted(std::string_view answer, Check check) {
  for (const auto& entry : ACCEPTANCE_LIST)
    if ((check == Check::Connection || !entry.connectionCheckOnly) && Contains(answer, entry.text)) return true;
  return false;
}

int32_t ModelFromList(std::string_view answer, Check check) {
  for (const auto& entry : MODEL_LIST)
    if ((check == Check::Connection || !entry.connectionCheckOnly) && Contains(answer, entry.text))
      return entry.model;
  return 1;
}

const char* ModelFoundText(int32_t model) {
  static const char* const texts[] = {
      "QOR 7 found",     "QOR 70 found",       "QOR 80 found",       "QOR 90 found",       "QOR 90/ARC found",
      "QOR 60 found",    "QOR 60/ARC found",   "QOR 60v found",      "QOR 60v found",      "Solstrand K3 found",
      "Solstrand K4 found", "Solstrand K4v found", "Solstrand K4v found",
  };
  return model >= 0 && model < MODEL_UNKNOWN ? texts[model] : nullptr;
}

}  // namespace catalogue

void CSerialPort::SetModelIfUnknown(int32_t model) {
  if (m_connectState == CONNECT_LOADER || m_connectState == CONNECT_NONE || m_model == MODEL_UNKNOWN)
    m_model = model;
}

int CSerialPort::GetModelFoundText(std::string& status) {
  if (const char* text = catalogue::ModelFoundText(m_model)) status = text;
  return 1;
}

int CSerialPort::ParseVideoLoaderIdent(const char* identification) {
  using catalogue::Contains;
  const std::string_view text(identification);
  if (!Contains(text, "DVB BOOT")) return 0;

  // The video processor: a recognised chip sets only its own bit.
  constexpr uint16_t chipBits = HW_GF9351 | HW_GF9452 | HW_GF9452V;
  if (Contains(text, "GF9351"))
    m_hwFlags |= HW_GF9351;
  else if (Contains(text, "GF9452v"))
    m_hwFlags |= HW_GF9452V;
  else if (Contains(text, "GF9452"))
    m_hwFlags |= HW_GF9452;
  else
    m_hwFlags &= static_cast<uint16_t>(~chipBits);

  if (Contains(text, "QOR-90"))
    m_hwFlags |= HW_QOR90_VIDEO;
  else
    m_hwFlags &= static_cast<uint16_t>(~HW_QOR90_VIDEO);

  const size_t dot = text.find('.');
  if (dot == std::string_view::npos) return 1;

  // The version: a single-precision number read from the four characters that
  // start one before the first "." (from the first character when the "." is
  // the first character). All comparisons below are in single precision.
  m_videoLoaderVersion = 0.0f;
  const size_t from = dot == 0 ? 0 : dot - 1;
  char field[5] = {};
  const std::string_view piece = text.substr(from, 4);
  std::memcpy(field, piece.data(), piece.size());
  float parsed = 0.0f;
  if (std::sscanf(field, "%f", &parsed) == 1) m_videoLoaderVersion = parsed;
  const float v = m_videoLoaderVersion;
  const bool gf9452Any = m_hwFlags & (HW_GF9452 | HW_GF9452V);

  auto assign = [this](uint16_t bit, bool on) {
    m_hwFlags = static_cast<uint16_t>(on ? (m_hwFlags | bit) : (m_hwFlags & ~bit));
  };
  if (Contains(text, "EXT")) {
    if (m_hwFlags & HW_QOR90_VIDEO) {
      // No further change.
    } else if (gf9452Any) {
      assign(HW_OKI_NEW_LOADER, v >= 0.24f);
    } else {
      assign(HW_OKI_NEW_LOADER, v > 0.07f);
    }
  } else {
    if (gf9452Any) {
      assign(HW_OKI_NEEDS_NEW_LOADER, !((m_hwFlags & HW_GF9452V) && v >= 0.24f));
    } else {
      assign(HW_GF9351_REV2, v >= 0.07f);
      assign(HW_OKI_NEEDS_NEW_LOADER, !(v >= 0.07f && (m_hwFlags & HW_GF9351)));
      if (m_hwFlags & HW_QOR90_VIDEO) assign(HW_OKI_NEEDS_NEW_LOADER, false);
    }
    assign(HW_OKI_NEW_LOADER, false);
  }
  return 1;
}
