// The unit's application on the main processor: identifies itself, acknowledges
// with a lone LF, and leads into the boot loader and the debug mode.
#include "sim/TextCommands.h"

namespace sim {

namespace {

class MainApplication final : public TextProgram {
 protected:
  bool OnLine(std::string_view line, UnitContext& unit) override {
    if (m_jump.OnLine(line, unit)) return true;
    return DispatchLine(*this, COMMANDS, line, unit);
  }
  void OnReset() override { m_jump.Disarm(); }

 private:
  void Identify(std::string_view, UnitContext& unit) { AnswerFlashIdentification(unit); }

  void EnterDebugMode(std::string_view, UnitContext& unit) {
    unit.Answer(ACKNOWLEDGE);
    unit.StartProgram(Program::DebugMode, unit.State().main.lineBaud);
  }

  // The debug mode's escape reaches the application too; there is nothing to
  // leave here, so it is only acknowledged.
  void Escape(std::string_view, UnitContext& unit) { unit.Answer(ACKNOWLEDGE); }

  static constexpr TextCommand<MainApplication> COMMANDS[] = {
      {"?", false, &MainApplication::Identify},
      {"D7096.8", false, &MainApplication::EnterDebugMode},
      {"@0", false, &MainApplication::Escape},
  };

  LoaderJump m_jump;
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeMainApplication() { return std::make_unique<MainApplication>(); }

}  // namespace sim
