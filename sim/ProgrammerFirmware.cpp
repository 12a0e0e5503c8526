// The EEPROM/flash programmer firmware that the installer places in the main
// processor's flash. It listens at 19200 baud, identifies itself as its image
// says, reports its flash checksum, changes its rate, serves the external
// flash like the debug mode, and accepts the jump into the boot loader and
// the debug mode's exit commands (there is no debug mode to leave, so they
// are only acknowledged).
#include "sim/ExternalFlash.h"
#include "sim/TextCommands.h"

namespace sim {

namespace {

class ProgrammerFirmware final : public ServesExternalFlash<FlashProgram> {
 protected:
  bool OnCommand(std::string_view line, UnitContext& unit) override {
    return DispatchLine(*this, COMMANDS, line, unit) || ServeExternalFlash(line, unit);
  }

 private:
  void Acknowledge(std::string_view, UnitContext& unit) { unit.Answer(ACKNOWLEDGE); }

  static constexpr TextCommand<ProgrammerFirmware> COMMANDS[] = {
      {"dx", false, &ProgrammerFirmware::Acknowledge},
      {"@0", false, &ProgrammerFirmware::Acknowledge},
  };
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeProgrammerFirmware() { return std::make_unique<ProgrammerFirmware>(); }

}  // namespace sim
