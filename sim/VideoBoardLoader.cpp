// The video board controller's boot loader while it holds the serial line:
// "V" gets its identification line, "b" the ready answer "!" + LF, and every
// other command the same "!" + LF as a refusal.
#include "sim/TextCommands.h"

namespace sim {

namespace {

constexpr std::string_view READY_OR_REFUSED = "!\n";

class VideoBoardLoader final : public TextProgram {
 protected:
  bool OnLine(std::string_view line, UnitContext& unit) override { return DispatchLine(*this, COMMANDS, line, unit); }
  void OnUnknown(UnitContext& unit) override { unit.Answer(READY_OR_REFUSED); }

 private:
  void Identify(std::string_view, UnitContext& unit) {
    unit.Answer(unit.State().video.loaderIdentification + std::string(LINE_END));
  }
  void Ready(std::string_view, UnitContext& unit) { unit.Answer(READY_OR_REFUSED); }

  static constexpr TextCommand<VideoBoardLoader> COMMANDS[] = {
      {"V", false, &VideoBoardLoader::Identify},
      {"b", false, &VideoBoardLoader::Ready},
  };
};

}  // namespace

std::unique_ptr<ProgramHandler> MakeVideoBoardLoader() { return std::make_unique<VideoBoardLoader>(); }

}  // namespace sim
