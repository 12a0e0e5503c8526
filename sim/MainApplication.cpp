// The unit's application on the main processor: identifies itself, acknowledges
// with a lone LF, switches its zones, keeps its clock, and leads into the boot
// loader and the debug mode.
#include <cctype>

#include "sim/PowerUp.h"
#include "sim/TextCommands.h"

namespace sim {

namespace {

bool TwoDigits(std::string_view text, int low, int high, int& out) {
  if (text.size() != 2 || !std::isdigit(static_cast<unsigned char>(text[0])) ||
      !std::isdigit(static_cast<unsigned char>(text[1])))
    return false;
  out = (text[0] - '0') * 10 + (text[1] - '0');
  return out >= low && out <= high;
}

// A time of day as the clock takes it: "HH:MM" (00 to 23) on a 24-hour clock,
// "HH:MM" + "AM" or "PM" (01 to 12) on a 12-hour clock.
bool ValidTimeOfDay(std::string_view text, bool format24h) {
  int hour = 0, minute = 0;
  const size_t size = format24h ? 5 : 7;
  if (text.size() != size || text[2] != ':') return false;
  if (!TwoDigits(text.substr(3, 2), 0, 59, minute)) return false;
  if (format24h) return TwoDigits(text.substr(0, 2), 0, 23, hour);
  const std::string_view half = text.substr(5);
  return TwoDigits(text.substr(0, 2), 1, 12, hour) && (half == "AM" || half == "PM");
}

class MainApplication final : public FlashProgram {
 protected:
  bool OnCommand(std::string_view line, UnitContext& unit) override { return DispatchLine(*this, COMMANDS, line, unit); }

 private:
  void EnterDebugMode(std::string_view, UnitContext& unit) {
    unit.Answer(ACKNOWLEDGE);
    unit.StartProgram(Program::DebugMode, unit.State().main.lineBaud);
  }

  // The debug mode's escape reaches the application too; there is nothing to
  // leave here, so it is only acknowledged.
  void Escape(std::string_view, UnitContext& unit) { unit.Answer(ACKNOWLEDGE); }

  // "P<zone>P" + "1" (on, acknowledged), "0" (off, acknowledged) or "?"
  // ("P<zone>P1" or "P<zone>P0" + CR LF).
  template <size_t ZONE>
  void Zone(std::string_view argument, UnitContext& unit) {
    ZoneState& zones = unit.State().zones;
    const bool stuck = unit.Faults().zoneStaysOn[ZONE];
    const std::string name = "P" + std::to_string(ZONE + 1) + "P";
    if (argument == "?") {
      const bool on = QueryZone(zones, ZONE, unit.NowMs()) || stuck;
      unit.AnswerTo(name + "?", name + (on ? "1" : "0") + std::string(LINE_END));
    } else if (argument == "0" || argument == "1") {
      if (stuck)
        unit.Note("zone " + std::to_string(ZONE + 1) + " stays on");
      else
        SwitchZone(zones, ZONE, argument == "1", unit.NowMs());
      unit.Answer(ACKNOWLEDGE);
    } else {
      unit.Answer(INVALID_COMMAND);
    }
  }

  // Settings of the power-up command group ("SST0", "SVM0", "P1M1", "P1S4"):
  // one digit, acknowledged.
  void Setting(std::string_view argument, UnitContext& unit) {
    if (argument.size() == 1 && std::isdigit(static_cast<unsigned char>(argument[0])))
      unit.Answer(ACKNOWLEDGE);
    else
      unit.Answer(INVALID_COMMAND);
  }

  // "STF?": "STF1" (24-hour clock) or "STF0" (12-hour) + CR LF.
  void ClockFormat(std::string_view, UnitContext& unit) {
    unit.AnswerTo("STF?", std::string(unit.State().clock.format24h ? "STF1" : "STF0") + std::string(LINE_END));
  }

  // "STD" + weekday, 1 (Sunday) to 7 (Saturday).
  void Weekday(std::string_view argument, UnitContext& unit) {
    if (argument.size() != 1 || argument[0] < '1' || argument[0] > '7') return unit.Answer(INVALID_COMMAND);
    unit.State().clock.weekday = argument[0] - '0';
    unit.Answer(ACKNOWLEDGE);
  }

  // "STC" + time of day in the clock's own form.
  void TimeOfDay(std::string_view argument, UnitContext& unit) {
    ClockState& clock = unit.State().clock;
    if (!ValidTimeOfDay(argument, clock.format24h)) return unit.Answer(INVALID_COMMAND);
    clock.timeOfDay = std::string(argument);
    unit.Answer(ACKNOWLEDGE);
  }

  static constexpr TextCommand<MainApplication> COMMANDS[] = {
      {"D7096.8", false, &MainApplication::EnterDebugMode},
      {"@0", false, &MainApplication::Escape},
      {"P1P", true, &MainApplication::Zone<0>},
      {"P2P", true, &MainApplication::Zone<1>},
      {"P3P", true, &MainApplication::Zone<2>},
      {"SST", true, &MainApplication::Setting},
      {"SVM", true, &MainApplication::Setting},
      {"P1M", true, &MainApplication::Setting},
      {"P1S", true, &MainApplication::Setting},
      {"STF?", false, &MainApplication::ClockFormat},
      {"STD", true, &MainApplication::Weekday},
      {"STC", true, &MainApplication::TimeOfDay},
  };
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeMainApplication() { return std::make_unique<MainApplication>(); }

}  // namespace sim
