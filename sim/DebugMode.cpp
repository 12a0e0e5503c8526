// The application's debug mode: a hidden command mode that answers
// "Invalid Command" to whatever it does not know (the identify command
// included) and acknowledges its commands with a lone LF.
#include "sim/TextCommands.h"

namespace sim {

namespace {

class DebugMode final : public TextProgram {
 protected:
  bool OnLine(std::string_view line, UnitContext& unit) override { return DispatchLine(*this, COMMANDS, line, unit); }

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

  static constexpr TextCommand<DebugMode> COMMANDS[] = {
      {"dx", false, &DebugMode::Leave},
      {"@0", false, &DebugMode::Escape},
      {"gwyr28", false, &DebugMode::StartLoader},
      {"D7096.8", false, &DebugMode::Enter},
  };
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeDebugMode() { return std::make_unique<DebugMode>(); }

}  // namespace sim
