// The model catalogue: model codes, the identification texts that map to
// them, the "found" texts and the lists that the connection checks apply.
// All entries are case-sensitive substrings of an answer; tables are searched
// in order and the first entry found decides.
#pragma once

#include <cstdint>
#include <string_view>

namespace catalogue {

// Answers of the running main application (they carry no model code).
extern const char* const APPLICATION_TABLE[17];

struct CodedEntry {
  const char* text;
  int32_t model;
  uint16_t setFlags;  // flags set when this entry decides (programmer table)
};
// Answers of the EEPROM/flash programmer firmware.
extern const CodedEntry PROGRAMMER_TABLE[16];
// Identifications of the main processor's boot loader.
extern const CodedEntry LOADER_TABLE[12];

// Which check an entry belongs to: the port probe uses the lists without the
// capital-letter entries that only the connection check knows.
enum class Check { Probe, Connection };

struct ListEntry {
  const char* text;
  int32_t model;
  bool connectionCheckOnly;
};
extern const ListEntry ACCEPTANCE_LIST[23];
extern const ListEntry MODEL_LIST[24];

// The first entry of the table contained in the answer, or null.
const char* FindApplicationEntry(std::string_view answer);
const CodedEntry* FindProgrammerEntry(std::string_view answer);
const CodedEntry* FindLoaderEntry(std::string_view answer);
// True when the answer contains an entry of the acceptance list of the check.
bool IsAccepted(std::string_view answer, Check check);
// The model code of the first model-list entry contained, 1 when none is.
int32_t ModelFromList(std::string_view answer, Check check);
// The "found" text of a model code; null for MODEL_UNKNOWN and other codes.
const char* ModelFoundText(int32_t model);

inline bool Contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

}  // namespace catalogue
