// The EEPROM/flash programmer firmware that the installer places in the main
// processor's flash. It listens at 19200 baud, identifies itself as its image
// says, accepts the jump into the boot loader and the debug mode's exit
// commands (there is no debug mode to leave, so they are only acknowledged).
#include "sim/TextCommands.h"

namespace sim {

namespace {

class ProgrammerFirmware final : public TextProgram {
 protected:
  bool OnLine(std::string_view line, UnitContext& unit) override {
    if (m_jump.OnLine(line, unit)) return true;
    return DispatchLine(*this, COMMANDS, line, unit);
  }
  void OnReset() override { m_jump.Disarm(); }

 private:
  void Identify(std::string_view, UnitContext& unit) { AnswerFlashIdentification(unit); }
  void Acknowledge(std::string_view, UnitContext& unit) { unit.Answer(ACKNOWLEDGE); }

  static constexpr TextCommand<ProgrammerFirmware> COMMANDS[] = {
      {"?", false, &ProgrammerFirmware::Identify},
      {"dx", false, &ProgrammerFirmware::Acknowledge},
      {"@0", false, &ProgrammerFirmware::Acknowledge},
  };

  LoaderJump m_jump;
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeProgrammerFirmware() { return std::make_unique<ProgrammerFirmware>(); }

}  // namespace sim
