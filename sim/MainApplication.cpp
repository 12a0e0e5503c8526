// The unit's application on the main processor: identifies itself, acknowledges
// with a lone LF, and leads into the boot loader and the debug mode.
#include "sim/TextCommands.h"

namespace sim {

namespace {

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

  static constexpr TextCommand<MainApplication> COMMANDS[] = {
      {"D7096.8", false, &MainApplication::EnterDebugMode},
      {"@0", false, &MainApplication::Escape},
  };
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeMainApplication() { return std::make_unique<MainApplication>(); }

}  // namespace sim
