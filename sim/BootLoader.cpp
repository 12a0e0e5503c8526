// The main processor's resident boot loader: a byte protocol. A command is one
// letter, possibly followed by argument bytes; a byte it does not know is
// answered with "?". It starts at 19200 baud.
#include <array>

#include "sim/Programs.h"

namespace sim {

namespace {

constexpr char CR = '\r';
constexpr std::string_view UNKNOWN = "?";

class BootLoader final : public ProgramHandler {
 public:
  void Reset() override { m_pending = nullptr; }

  void Receive(uint8_t byte, UnitContext& unit) override {
    if (m_pending) {
      m_arguments[m_argumentCount++] = byte;
      if (m_argumentCount < m_pending->argumentBytes) return;
      Run(*m_pending, unit);
      return;
    }
    for (const auto& c : COMMANDS) {
      if (c.letter != byte) continue;
      m_pending = &c;
      m_argumentCount = 0;
      if (c.argumentBytes == 0) Run(c, unit);
      return;
    }
    OnUnknownByte(byte, unit);
  }

 private:
  struct Command {
    uint8_t letter;
    size_t argumentBytes;
    void (BootLoader::*handler)(UnitContext& unit);
  };

  void Run(const Command& c, UnitContext& unit) {
    m_pending = nullptr;
    (this->*c.handler)(unit);
  }

  void OnUnknownByte(uint8_t byte, UnitContext& unit) {
    // A loader that identifies itself on "?" passes over line ends.
    if (unit.State().main.loader.queryAnswer == LoaderQueryAnswer::Identification && (byte == '\n' || byte == CR)) return;
    unit.Answer(UNKNOWN);
  }

  // "?": the older loaders do not know it; the newer ones identify themselves.
  void Query(UnitContext& unit) {
    const auto& loader = unit.State().main.loader;
    if (loader.queryAnswer == LoaderQueryAnswer::Identification)
      unit.Answer(loader.identification);
    else
      unit.Answer(UNKNOWN);
  }

  // "S": the identification, e.g. "SOLSTRAND K4v2 ISP".
  void Identify(UnitContext& unit) { unit.Answer(unit.State().main.loader.identification); }

  // "V": two version characters.
  void Version(UnitContext& unit) { unit.Answer(unit.State().main.loader.versionDigits); }

  // "X": acknowledged with CR; then the program in flash starts, if the loader
  // agrees to start it.
  void Exit(UnitContext& unit) {
    unit.Answer(std::string_view(&CR, 1));
    unit.StartFlashProgram();
  }

  static constexpr Command COMMANDS[] = {
      {'?', 0, &BootLoader::Query},
      {'S', 0, &BootLoader::Identify},
      {'V', 0, &BootLoader::Version},
      {'X', 0, &BootLoader::Exit},
  };

  static constexpr size_t MAX_ARGUMENT_BYTES = 4;

 public:
  static constexpr bool ArgumentsFit() {
    for (const auto& c : COMMANDS)
      if (c.argumentBytes > MAX_ARGUMENT_BYTES) return false;
    return true;
  }

 private:
  const Command* m_pending = nullptr;
  std::array<uint8_t, MAX_ARGUMENT_BYTES> m_arguments{};
  size_t m_argumentCount = 0;
};

static_assert(BootLoader::ArgumentsFit(), "a loader command has more argument bytes than the loader collects");

}  // namespace

std::unique_ptr<ProgramHandler> MakeBootLoader() { return std::make_unique<BootLoader>(); }

}  // namespace sim
