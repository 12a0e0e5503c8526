// The main processor's resident boot loader: a byte protocol. A command is one
// letter, possibly followed by argument bytes; a byte it does not know is
// answered with "?". It starts at 19200 baud.
//
// It keeps an address register (16 bits, set with "a": a word address for the
// flash, a byte address for the EEPROM) with an extended byte ("n", bits 16 and
// up of a flash word address), a page buffer of 128 words, and a programming
// mode ("P" enters it, "y" leaves it) without which it writes nothing.
#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/Programs.h"

namespace sim {

namespace {

constexpr char CR = '\r';
constexpr std::string_view ACK(&CR, 1);
constexpr std::string_view UNKNOWN = "?";

// The loader's version number from its two version characters: "35" is 305,
// "21" is 201; a first character that is not 1 to 9 gives 0.
int LoaderVersion(const std::string& digits) {
  if (digits.size() < 2 || digits[0] < '1' || digits[0] > '9') return 0;
  return (digits[0] - '0') * 100 + (digits[1] - '0');
}

// The rate a divisor byte of "h" selects on a loader of this version; nothing
// when this loader has no such divisor (or, below version 200, no "h").
std::optional<uint32_t> RateOfDivisor(int version, uint8_t divisor) {
  struct Divisors {
    uint8_t fast, slow;
  };
  Divisors d{};
  if (version >= 300)
    d = {0x04, 0x1D};
  else if (version >= 200)
    d = {0x01, 0x0B};
  else
    return std::nullopt;
  if (divisor == d.fast) return 115200;
  if (divisor == d.slow) return 19200;
  return std::nullopt;
}

constexpr uint32_t FLASH_WORDS = MAIN_FLASH_BYTES / 2;
constexpr size_t MAX_ARGUMENT_BYTES = 1 + 2 * FLASH_PAGE_WORDS;  // "C": count and a page of words

class BootLoader final : public ProgramHandler {
 public:
  BootLoader() { BootLoader::Reset(); }

  void Reset() override {
    m_pending = nullptr;
    m_programming = false;
    m_address = 0;
    m_extended = 0;
    m_pageBuffer.fill(0xFFFF);
  }

  void Receive(uint8_t byte, UnitContext& unit) override {
    if (m_pending && unit.NowMs() - m_lastByteMs > COMMAND_GAP_MS) {
      unit.Note(std::string("loader command '") + static_cast<char>(m_pending->letter) + "' dropped: its argument bytes stopped");
      m_pending = nullptr;
    }
    m_lastByteMs = unit.NowMs();
    if (m_pending) {
      m_arguments[m_argumentCount++] = byte;
      if (m_pending->letter == 'C' && m_argumentCount == 1) {
        // The count byte says how many words follow.
        if (byte == 0 || byte > FLASH_PAGE_WORDS) {
          m_pending = nullptr;
          unit.Note("page buffer load of " + std::to_string(byte) + " words refused");
          unit.Answer(UNKNOWN);
          return;
        }
        m_needed = 1 + 2 * static_cast<size_t>(byte);
      }
      if (m_argumentCount < m_needed) return;
      Run(*m_pending, unit);
      return;
    }
    for (const auto& c : COMMANDS) {
      if (c.letter != byte) continue;
      m_pending = &c;
      m_argumentCount = 0;
      m_needed = c.argumentBytes;
      if (c.argumentBytes == 0) Run(c, unit);
      return;
    }
    OnUnknownByte(byte, unit);
  }

 private:
  struct Command {
    uint8_t letter;
    size_t argumentBytes;  // "C": 1, then the count byte says how many more
    bool writes;           // needs the programming mode
    void (BootLoader::*handler)(UnitContext& unit);
  };

  void Run(const Command& c, UnitContext& unit) {
    m_pending = nullptr;
    if (c.writes && !m_programming) {
      unit.Note(std::string("loader command '") + static_cast<char>(c.letter) + "' refused: not in programming mode");
      unit.Answer(UNKNOWN);
      return;
    }
    (this->*c.handler)(unit);
  }

  void OnUnknownByte(uint8_t byte, UnitContext& unit) {
    // A loader that identifies itself on "?" passes over line ends.
    if (unit.State().main.loader.queryAnswer == LoaderQueryAnswer::Identification && (byte == '\n' || byte == CR)) return;
    unit.Answer(UNKNOWN);
  }

  uint32_t WordAddress() const { return (static_cast<uint32_t>(m_extended) << 16) | m_address; }
  uint16_t FlashWord(const UnitState& s, uint32_t word) const {
    return static_cast<uint16_t>(s.main.flash[2 * word] | (s.main.flash[2 * word + 1] << 8));
  }

  // "?": the older loaders do not know it; the newer ones identify themselves.
  void Query(UnitContext& unit) {
    const auto& loader = unit.State().main.loader;
    if (loader.queryAnswer == LoaderQueryAnswer::Identification)
      unit.AnswerTo("?", loader.identification);
    else
      unit.Answer(UNKNOWN);
  }

  // "S": the identification, e.g. "SOLSTRAND K4v2 ISP".
  void Identify(UnitContext& unit) { unit.AnswerTo("S", unit.State().main.loader.identification); }

  // "V": two version characters.
  void Version(UnitContext& unit) { unit.AnswerTo("V", unit.State().main.loader.versionDigits); }

  // "X": acknowledged with CR; then the program in flash starts, if the loader
  // agrees to start it.
  void Exit(UnitContext& unit) {
    unit.Answer(ACK);
    unit.StartFlashProgram();
  }

  // "h" + divisor: acknowledged at the old rate, then the loader listens at
  // the rate the divisor selects for its version.
  void SetRate(UnitContext& unit) {
    const int version = LoaderVersion(unit.State().main.loader.versionDigits);
    const auto rate = RateOfDivisor(version, m_arguments[0]);
    if (!rate) {
      char text[64];
      std::snprintf(text, sizeof text, "divisor 0x%02X unknown to a version %d loader", m_arguments[0], version);
      unit.Note(text);
      unit.Answer(UNKNOWN);
      return;
    }
    unit.Answer(ACK);
    unit.ChangeRate(*rate);
  }

  // "s": the three signature bytes, last byte first.
  void Signature(UnitContext& unit) {
    const auto& sig = unit.State().main.signature;
    const char bytes[3] = {static_cast<char>(sig[2]), static_cast<char>(sig[1]), static_cast<char>(sig[0])};
    unit.AnswerTo("s", std::string_view(bytes, 3));
  }

  void EnterProgramming(UnitContext& unit) {
    m_programming = true;
    unit.Answer(ACK);
  }

  // "y": leaves the programming mode; sent before every exit.
  void LeaveProgramming(UnitContext& unit) {
    m_programming = false;
    unit.Answer(ACK);
  }

  // "x": sent before a read-back; the loader has nothing to prepare.
  void PrepareReadBack(UnitContext& unit) { unit.Answer(ACK); }

  void SetAddress(UnitContext& unit) {
    m_address = static_cast<uint16_t>((m_arguments[0] << 8) | m_arguments[1]);
    unit.Answer(ACK);
  }

  // "n": bits 16 and up of the flash word address; the flash has 0x20000 words.
  void SetExtendedAddress(UnitContext& unit) {
    if ((static_cast<uint32_t>(m_arguments[0]) << 16) >= FLASH_WORDS) {
      unit.Note("extended address " + std::to_string(m_arguments[0]) + " beyond the flash");
      unit.Answer(UNKNOWN);
      return;
    }
    m_extended = m_arguments[0];
    unit.Answer(ACK);
  }

  // "D" and "d": the EEPROM byte at the address (12 bits); the address
  // advances by one.
  void ReadEeprom(UnitContext& unit) {
    const size_t at = m_address % MAIN_EEPROM_BYTES;
    const char byte = static_cast<char>(unit.State().main.eeprom[at]);
    m_address = static_cast<uint16_t>(m_address + 1);
    unit.CountRead(MAIN_EEPROM);
    unit.AnswerTo("D", std::string_view(&byte, 1), static_cast<uint32_t>(at));
  }

  void WriteEeprom(UnitContext& unit) {
    const size_t at = m_address % MAIN_EEPROM_BYTES;
    unit.State().main.eeprom[at] = m_arguments[0];
    m_address = static_cast<uint16_t>(m_address + 1);
    unit.CountWritten(MAIN_EEPROM);
    unit.Answer(ACK);
  }

  // "e": the application flash erased to 0xFF, the page buffer cleared.
  void Erase(UnitContext& unit) {
    auto& flash = unit.State().main.flash;
    std::fill(flash.begin(), flash.end(), 0xFF);
    m_pageBuffer.fill(0xFFFF);
    m_pagesSinceErase = 0;
    unit.CountErased(MAIN_FLASH);
    unit.Note("flash erased");
    unit.Answer(ACK);
  }

  // "C" + count + words (high byte first): loaded into the page buffer from
  // the word the address points at within its page; the address advances.
  // Which page the block is for is only named by the "m" that writes it, so a
  // block fault is tied to the page in write order: the number of pages
  // written since the last erase.
  void LoadPageBuffer(UnitContext& unit) {
    const uint32_t page = m_pagesSinceErase;
    if (unit.Strikes(FaultKind::FlashBlockUnacknowledged, page)) {
      unit.Note("block for the page written " + std::to_string(page) + " pages after the erase dropped without acknowledgement");
      return;
    }
    const size_t count = m_arguments[0];
    for (size_t i = 0; i < count; ++i) {
      const uint16_t word = static_cast<uint16_t>((m_arguments[1 + 2 * i] << 8) | m_arguments[2 + 2 * i]);
      m_pageBuffer[m_address % FLASH_PAGE_WORDS] = word;
      m_address = static_cast<uint16_t>(m_address + 1);
    }
    unit.Answer(ACK);
  }

  // "m" + address: the page buffer written into the page at the word address
  // (with the extended byte). Flash bits only go from 1 to 0: a page that was
  // not erased keeps its zero bits. The page buffer is cleared.
  void WritePage(UnitContext& unit) {
    const uint32_t word = (static_cast<uint32_t>(m_extended) << 16) | (m_arguments[0] << 8) | m_arguments[1];
    const uint32_t first = word - word % FLASH_PAGE_WORDS;
    auto& flash = unit.State().main.flash;
    for (size_t i = 0; i < FLASH_PAGE_WORDS; ++i) {
      const size_t at = 2 * (first + i);
      flash[at] &= static_cast<uint8_t>(m_pageBuffer[i] & 0xFF);
      flash[at + 1] &= static_cast<uint8_t>(m_pageBuffer[i] >> 8);
    }
    m_pageBuffer.fill(0xFFFF);
    ++m_pagesSinceErase;
    unit.Answer(ACK);
    unit.CountWritten(MAIN_FLASH);
  }

  // "R": the flash word at the address, high byte first; the 16-bit address
  // advances (the extended byte stays).
  void ReadFlash(UnitContext& unit) {
    const uint32_t word = WordAddress();
    const uint16_t value = FlashWord(unit.State(), word);
    const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    m_address = static_cast<uint16_t>(m_address + 1);
    unit.CountRead(MAIN_FLASH);
    unit.AnswerTo("R", std::string_view(bytes, 2), word);
  }

  // "F", "G", "J" read a fuse byte; "f", "g", "j" + value write it.
  void ReadFuse(UnitContext& unit, FuseIndex fuse, std::string_view letter) {
    const char byte = static_cast<char>(unit.State().main.fuses[fuse]);
    unit.AnswerTo(letter, std::string_view(&byte, 1));
  }
  void WriteFuse(UnitContext& unit, FuseIndex fuse) {
    unit.State().main.fuses[fuse] = m_arguments[0];
    unit.CountWritten(FUSES);
    unit.Answer(ACK);
  }
  void ReadFuseF(UnitContext& unit) { ReadFuse(unit, FUSE_F, "F"); }
  void ReadFuseG(UnitContext& unit) { ReadFuse(unit, FUSE_G, "G"); }
  void ReadFuseJ(UnitContext& unit) { ReadFuse(unit, FUSE_J, "J"); }
  void WriteFuseF(UnitContext& unit) { WriteFuse(unit, FUSE_F); }
  void WriteFuseG(UnitContext& unit) { WriteFuse(unit, FUSE_G); }
  void WriteFuseJ(UnitContext& unit) { WriteFuse(unit, FUSE_J); }

  static constexpr Command COMMANDS[] = {
      {'?', 0, false, &BootLoader::Query},
      {'S', 0, false, &BootLoader::Identify},
      {'V', 0, false, &BootLoader::Version},
      {'X', 0, false, &BootLoader::Exit},
      {'h', 1, false, &BootLoader::SetRate},
      {'s', 0, false, &BootLoader::Signature},
      {'P', 0, false, &BootLoader::EnterProgramming},
      {'y', 0, false, &BootLoader::LeaveProgramming},
      {'x', 0, false, &BootLoader::PrepareReadBack},
      {'a', 2, false, &BootLoader::SetAddress},
      {'n', 1, false, &BootLoader::SetExtendedAddress},
      {'D', 0, false, &BootLoader::ReadEeprom},
      {'d', 1, true, &BootLoader::WriteEeprom},
      {'e', 0, true, &BootLoader::Erase},
      {'C', 1, false, &BootLoader::LoadPageBuffer},
      {'m', 2, true, &BootLoader::WritePage},
      {'R', 0, false, &BootLoader::ReadFlash},
      {'F', 0, false, &BootLoader::ReadFuseF},
      {'G', 0, false, &BootLoader::ReadFuseG},
      {'J', 0, false, &BootLoader::ReadFuseJ},
      {'f', 1, true, &BootLoader::WriteFuseF},
      {'g', 1, true, &BootLoader::WriteFuseG},
      {'j', 1, true, &BootLoader::WriteFuseJ},
  };

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
  size_t m_needed = 0;
  double m_lastByteMs = 0;
  bool m_programming = false;
  uint16_t m_address = 0;
  uint8_t m_extended = 0;
  uint32_t m_pagesSinceErase = 0;
  std::array<uint16_t, FLASH_PAGE_WORDS> m_pageBuffer{};
};

static_assert(BootLoader::ArgumentsFit(), "a loader command has more argument bytes than the loader collects");

}  // namespace

std::unique_ptr<ProgramHandler> MakeBootLoader() { return std::make_unique<BootLoader>(); }

}  // namespace sim
