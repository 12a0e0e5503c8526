#include "sim/Transcript.h"

#include <cstdio>

namespace sim {

std::string EscapeBytes(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out.push_back(static_cast<char>(c));
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        }
    }
  }
  return out + "\"";
}

std::string FormatTranscriptEntry(const TranscriptEntry& e) {
  char head[64];
  const char* kind = e.kind == TranscriptEntry::Kind::Received ? "RX" : e.kind == TranscriptEntry::Kind::Sent ? "TX" : "--";
  std::snprintf(head, sizeof head, "%12.3f %s ", e.timeMs, kind);
  std::string line = head;
  line += e.line.Text();
  line += ' ';
  line += e.powered ? ProgramName(e.program) : "powered-off";
  line += ' ';
  line += e.kind == TranscriptEntry::Kind::Event ? e.bytes : EscapeBytes(e.bytes);
  if (!e.note.empty()) line += "  (" + e.note + ")";
  return line;
}

std::string FormatCounters(const UnitCounters& c) {
  std::string out;
  auto add = [&](const char* name, uint64_t v) { out += std::string(name) + " " + std::to_string(v) + "\n"; };
  add("rx-bytes", c.rxBytes);
  add("tx-bytes", c.txBytes);
  add("exchanges", c.exchanges);
  add("conformance-errors", c.conformanceErrors);
  add("wrong-rate-exchanges", c.wrongRateExchanges);
  add("lost-bytes", c.lostBytes);
  add("corrupted-bytes", c.corruptedBytes);
  add("garbage-answers", c.garbageAnswers);
  add("overrun-bytes", c.overrunBytes);
  add("hang-ups", c.hangUps);
  add("power-losses", c.powerLosses);
  add("program-starts", c.programStarts);
  add("loop-wake-ups", c.loopWakeUps);
  for (const auto& [name, m] : c.memories) {
    add((name + "-erased").c_str(), m.erased);
    add((name + "-written").c_str(), m.written);
    add((name + "-read").c_str(), m.read);
  }
  return out;
}

}  // namespace sim
