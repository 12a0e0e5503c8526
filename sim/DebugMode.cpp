// The application's debug mode: a hidden command mode that answers
// "Invalid Command" to whatever it does not know (the identify command
// included) and acknowledges its commands with a lone LF. It serves the
// external flash and reports the unit's start-up state.
#include "sim/ExternalFlash.h"
#include "sim/PowerUp.h"
#include "sim/TextCommands.h"

namespace sim {

namespace {

class DebugMode final : public ServesExternalFlash<TextProgram> {
 protected:
  bool OnLine(std::string_view line, UnitContext& unit) override {
    return DispatchLine(*this, COMMANDS, line, unit) || ServeExternalFlash(line, unit);
  }

 private:
  // "dx": back to the application, at the rate the debug mode uses now.
  void Leave(std::string_view, UnitContext& unit) {
    unit.Answer(ACKNOWLEDGE);
    unit.StartProgram(Program::Application, unit.State().main.lineBaud);
  }

  // "@0": the escape for a far end that gets no answer. It ends whatever the
  // debug mode is doing and returns to the application, like "dx"; the
  // application acknowledges it as well, so it is safe to send blind.
  void Escape(std::string_view, UnitContext& unit) {
    unit.Answer(ACKNOWLEDGE);
    unit.Note("escape from the debug mode");
    unit.StartProgram(Program::Application, unit.State().main.lineBaud);
  }

  // "gwyr28": start the boot loader, which answers at its own rate.
  void StartLoader(std::string_view, UnitContext& unit) {
    unit.Answer(ACKNOWLEDGE);
    unit.StartProgram(Program::BootLoader, LOADER_BAUD);
  }

  // The entry command again: already here.
  void Enter(std::string_view, UnitContext& unit) { unit.Answer(ACKNOWLEDGE); }

  // "dP?": the start-up state as one hexadecimal digit + CR LF; 9 is ready.
  void StateQuery(std::string_view, UnitContext& unit) {
    const int state = DebugStateQuery(unit.State().zones, unit.NowMs());
    const char text[4] = {static_cast<char>(state < 10 ? '0' + state : 'a' + state - 10), '\r', '\n', 0};
    unit.AnswerTo("dP?", text);
  }

  // "dB" + code: the debug mode's rate; acknowledged at the old rate.
  void ChangeRate(std::string_view code, UnitContext& unit) {
    if (!ChangeRateByCode(code, unit)) unit.Answer(INVALID_COMMAND);
  }

  static constexpr TextCommand<DebugMode> COMMANDS[] = {
      {"dx", false, &DebugMode::Leave},
      {"@0", false, &DebugMode::Escape},
      {"gwyr28", false, &DebugMode::StartLoader},
      {"D7096.8", false, &DebugMode::Enter},
      {"dP?", false, &DebugMode::StateQuery},
      {"dB", true, &DebugMode::ChangeRate},
  };
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeDebugMode() { return std::make_unique<DebugMode>(); }

}  // namespace sim
