// The main processor's flash: programming an embedded image page by page
// through the boot loader, verifying it word by word, the checksum a running
// program reports, the fuse bytes and the EEPROM bytes that go with a
// programmed flash.
#include "engine/Crc32.h"
#include "engine/FirmwareImages.h"
#include "mainboard/MainBoard.h"
#include "platform/Clock.h"
#include "serial/SerialPort.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t CR = 0x0D;
constexpr uint32_t BLOCK_WORDS = 16;
constexpr uint32_t BLOCKS_PER_PAGE = 8;
constexpr int MAX_PAGE_TRIES = 4;  // a page's fifth failure ends the run
constexpr uint32_t BLOCK_RETRY_WAIT_MS = 250;
constexpr int EXTRA_EXIT_ATTEMPTS = 4;

const char* const PROGRAMMING_FAILED_TEXT = "Programming Failed. Try Again";
const char* const BAD_SIGNATURE_TEXT = "Invalid motherboard CPU signature";
const char* const FUSE_TEXT = "Cannot set fuse bits";

struct SelectedImage {
  FirmwareImage image;
  const uint16_t* words = nullptr;
  uint32_t wordCount = 0;
};

// The application or programmer image of the board revision.
SelectedImage SelectImage(bool programmerImage, int32_t model) {
  const bool rev3 = mainboard::IsRevision3Board(model);
  const ImageId id = programmerImage ? (rev3 ? PROGRAMMER_IMAGE_V3 : PROGRAMMER_IMAGE)
                                     : (rev3 ? MAIN_APP_IMAGE_V3 : MAIN_APP_IMAGE);
  SelectedImage s;
  s.image = GetFirmwareImage(id);
  s.words = s.image.Words16();
  s.wordCount = s.words ? s.image.elementCount : 0;
  return s;
}

uint32_t FlashWords(int32_t model) {
  return mainboard::IsRevision3Board(model) ? mainboard::FLASH_WORDS_REV3 : mainboard::FLASH_WORDS_STANDARD;
}

}  // namespace

uint16_t CSerialPort::MainFlashChecksum(const uint16_t* words, uint32_t wordCount, uint32_t codeSize,
                                        uint32_t flashWords) {
  uint32_t sum = 0;
  const uint32_t counted = codeSize < flashWords ? codeSize : flashWords;
  for (uint32_t i = 0; i < counted; ++i) {
    // The trimmed size is rounded up to a whole page: what lies past the
    // image is programmed as erased words.
    const uint16_t word = i < wordCount ? words[i] : 0xFFFF;
    sum += (word & 0xFF) + (word >> 8);
  }
  if (codeSize < flashWords) sum += 0x1FEu * (flashWords - codeSize);  // erased words
  return static_cast<uint16_t>(sum);
}

int CSerialPort::SetFuseByte(char readCommand, uint8_t value) {
  uint8_t fuse[2] = {};
  if (!LoaderExchange(&readCommand, 1, 20, fuse, 1, 3)) {
    ClosePort();
    return 0;
  }
  if (fuse[0] == value) return 1;
  const uint8_t write[2] = {static_cast<uint8_t>(readCommand + 0x20), value};
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!LoaderCommand(write, 2, 100) || !LoaderExchange(&readCommand, 1, 20, fuse, 1, 3)) {
      ClosePort();
      return 0;
    }
    if (fuse[0] == value) return 1;
  }
  ClosePort();
  return 0;
}

int CSerialPort::StoreOptionByte(std::string& status) {
  if (!ConnectLoader(status)) return 0;
  LoaderCommand("P", 1, 100);
  const uint8_t option = static_cast<uint8_t>(m_hwFlags & 0xFF & ~0x08);
  return WriteEepromByte(option, mainboard::OPTION_BYTE_ADDRESS);
}

int CSerialPort::VerifyFlashCodeChecksum(std::string& status, bool programmerImage) {
  if (m_loaderVersion == 0 && (!ConnectLoader(status) || !ExitLoader(status, programmerImage))) return 0;
  const SelectedImage selected = SelectImage(programmerImage, m_model);
  if (!selected.words) return 0;
  m_codeSize = TrimBlankWords16(selected.words, selected.wordCount, mainboard::FLASH_PAGE_WORDS);

  char answer[65] = {};
  WriteToQORAndWaitFor("CS\n", 3, 3000, answer, 64, false, 3);
  const char* found = std::strstr(answer, "Checksum:");
  if (!found) {
    status = "Error: Cannot read Flash Code Checksum";
    ClosePort();
    return 0;
  }
  char token[10] = {};
  unsigned int reported = 0;
  const bool parsed = std::sscanf(found, "%9s %x", token, &reported) == 2 && reported <= 0xFFFF;
  const uint16_t expected = MainFlashChecksum(selected.words, selected.wordCount, m_codeSize, FlashWords(m_model));
  if (parsed && reported == expected) {
    status = "Flash Code Checksum verified";
    return 1;
  }
  status = "Error: Flash Code Checksum not correct";
  ClosePort();
  return 0;
}

int CSerialPort::ProgramMainFlash(std::string& status, CProgCtrl& progress, bool programmerImage) {
  InitCrc32Table();
  if (!ConfirmSerialNumber(status)) {
    ClosePort();
    return 0;
  }
  if (!SetLoaderBaudRate(true, status)) return 0;

  const SelectedImage selected = SelectImage(programmerImage, m_model);
  if (!selected.words || !ImageCrcMatches(selected.image)) {
    status = "uC flash code checksum error...Installation failed";
    ClosePort();
    return 0;
  }
  m_codeSize = TrimBlankWords16(selected.words, selected.wordCount, mainboard::FLASH_PAGE_WORDS);

  if (!LoaderCommand("P", 1, 100)) {
    status = mainboard::LOADER_NOT_RESPONDING_TEXT;
    ClosePort();
    return 0;
  }
  if (!CheckProcessorSignature()) {
    status = BAD_SIGNATURE_TEXT;
    ClosePort();
    return 0;
  }

  const bool rev3 = mainboard::IsRevision3Board(m_model);
  if (!rev3) {
    if (m_loaderVersion >= 300) {
      if (!SetFuseByte('G', 0xD1) || !SetFuseByte('F', 0xD0) || !SetFuseByte('J', 0xFF)) {
        status = FUSE_TEXT;
        return 0;
      }
    } else {
      uint8_t fuse[2] = {};
      if (!LoaderExchange("F", 1, 20, fuse, 1, 3)) {
        status = FUSE_TEXT;
        ClosePort();
        return 0;
      }
      static const uint8_t write[2] = {'f', 0xB7};
      for (int writes = 0; (fuse[0] & 0x2F) != 0x07 && writes < 3; ++writes) {
        if (!LoaderCommand(write, 2, 100) || !LoaderExchange("F", 1, 20, fuse, 1, 3)) {
          status = FUSE_TEXT;
          ClosePort();
          return 0;
        }
      }
    }
  }

  // Erase; until the last page is written the programmed marks read 0x00.
  LoaderCommand("e", 1, rev3 ? 8000 : 100);
  LoaderCommand("P", 1, 100);
  WriteEepromByte(0x00, mainboard::PROGRAMMED_MARK_ADDRESS_0);
  WriteEepromByte(0x00, mainboard::PROGRAMMED_MARK_ADDRESS_1);

  const uint32_t pages = m_codeSize / mainboard::FLASH_PAGE_WORDS;
  progress.SetRange(0, static_cast<int32_t>(pages));
  progress.SetPos(1);
  progress.Show(1);
  progress.SetPos(0);

  ApplyBaudRate();
  m_nonBlockingReads = 0;
  ApplyTimeouts();

  bool failed = false;
  for (uint32_t page = 0; page < pages && !failed; ++page) {
    const uint32_t address = page * mainboard::FLASH_PAGE_WORDS;
    for (int tries = 0;; ) {
      if (tries > MAX_PAGE_TRIES) {
        failed = true;
        break;
      }
      const uint8_t extended[2] = {'n', static_cast<uint8_t>(address >> 16)};
      static const uint8_t start[3] = {'a', 0x00, 0x00};
      if (!LoaderCommand(extended, 2, 300) || !LoaderCommand(start, 3, 300)) {
        failed = true;
        break;
      }
      bool blockFailed = false;
      for (uint32_t block = 0; block < BLOCKS_PER_PAGE; ++block) {
        uint8_t frame[2 + 2 * BLOCK_WORDS];
        frame[0] = 'C';
        frame[1] = BLOCK_WORDS;
        for (uint32_t i = 0; i < BLOCK_WORDS; ++i) {
          const uint32_t w = address + block * BLOCK_WORDS + i;
          const uint16_t word = w < selected.wordCount ? selected.words[w] : 0xFFFF;
          frame[2 + 2 * i] = static_cast<uint8_t>(word >> 8);  // high byte first
          frame[3 + 2 * i] = static_cast<uint8_t>(word & 0xFF);
        }
        if (!WriteAndWaitForByte(frame, sizeof frame, CR, 1000)) {
          blockFailed = true;
          break;
        }
        progress.SetPos(static_cast<int32_t>(page));
      }
      if (blockFailed) {
        // Start the page again from its first word.
        platform::SleepMs(BLOCK_RETRY_WAIT_MS);
        FlushInput(false);
        ++tries;
        continue;
      }
      const uint8_t write[3] = {'m', static_cast<uint8_t>((address >> 8) & 0xFF),
                                static_cast<uint8_t>(address & 0xFF)};
      if (!LoaderCommand(write, 3, 200)) failed = true;
      break;
    }
  }

  if (!failed) {
    m_nonBlockingReads = 0;
    ApplyTimeouts();
    if (m_model >= 0 && m_model <= 12) {
      WriteEepromByte(mainboard::PROGRAMMED_MARK, mainboard::PROGRAMMED_MARK_ADDRESS_0);
      WriteEepromByte(mainboard::PROGRAMMED_MARK, mainboard::PROGRAMMED_MARK_ADDRESS_1);
      if (rev3) {
        const uint16_t checksum =
            MainFlashChecksum(selected.words, selected.wordCount, m_codeSize, FlashWords(m_model));
        WriteEepromByte(static_cast<uint8_t>(checksum & 0xFF), mainboard::EEPROM_CHECKSUM_ADDRESS);
        WriteEepromByte(static_cast<uint8_t>(checksum >> 8), mainboard::EEPROM_CHECKSUM_ADDRESS + 1);
      }
      StoreOptionByte(status);
    }
    LoaderCommand("y", 1, 45);
    bool left = ExitLoader(status, programmerImage);
    for (int extra = 0; !left && extra < EXTRA_EXIT_ATTEMPTS; ++extra) {
      platform::SleepMs(2000);
      ConnectLoader(status);
      left = ExitLoader(status, programmerImage);
    }
    if (left) {
      platform::SleepMs(1000);
      if (VerifyFlashCodeChecksum(status, programmerImage)) {
        if (programmerImage) {
          status = "Flash Programming Done.";
        } else {
          for (int attempt = 0; attempt < 3; ++attempt) {
            platform::SleepMs(100);
            if (SetUnitClock()) break;
          }
          status = "Flash Programming Done. Verifying ...";
        }
        ClosePort();
        progress.Show(0);
        return 1;
      }
    }
  }

  // Failure exit: leave the loader if it can be reached.
  m_nonBlockingReads = 0;
  if (OpenPort(status)) {
    ApplyTimeouts();
    ExitLoader(status, programmerImage);
    ClosePort();
  }
  status = PROGRAMMING_FAILED_TEXT;
  progress.Show(0);
  return 0;
}

int CSerialPort::VerifyMainFlash(std::string& status, CProgCtrl& progress, bool programmerImage) {
  if (m_loaderVersion == 0) {
    if (!ConnectLoader(status)) return 0;
    if (!ExitLoader(status, programmerImage)) {
      status = "Error: QOR code failed to boot";
      return 0;
    }
  }
  const SelectedImage selected = SelectImage(programmerImage, m_model);
  if (!selected.words) return 0;
  m_codeSize = TrimBlankWords16(selected.words, selected.wordCount, mainboard::FLASH_PAGE_WORDS);

  if (!ConnectLoader(status)) return 0;
  if (!ConfirmSerialNumber(status)) {
    ClosePort();
    return 0;
  }
  if (!SetLoaderBaudRate(true, status)) return 0;
  LoaderCommand("x", 1, 45);
  LoaderCommand("P", 1, 100);
  if (!CheckProcessorSignature()) {
    status = BAD_SIGNATURE_TEXT;
    ClosePort();
    return 0;
  }

  progress.SetRange(0, static_cast<int32_t>(m_codeSize / mainboard::FLASH_PAGE_WORDS));
  progress.SetPos(1);
  progress.Show(1);
  progress.SetPos(0);
  m_nonBlockingReads = 1;
  ApplyTimeouts();

  static const uint8_t extendedZero[2] = {'n', 0x00};
  if (!LoaderCommand(extendedZero, 2, 300)) {
    status = "Failed to set Mega2561 extended address";
    ClosePort();
    return 0;
  }
  static const uint8_t startAddress[3] = {'a', 0x00, 0x00};
  bool allVerified = false;
  if (LoaderCommand(startAddress, 3, 120)) {
    allVerified = true;
    uint32_t lastExtended = 0;
    for (uint32_t w = 0; w < m_codeSize; ++w) {
      const uint8_t extended[2] = {'n', static_cast<uint8_t>(w >> 16)};
      if ((w >> 16) != lastExtended) {
        LoaderCommand(extended, 2, 300);
        lastExtended = w >> 16;
      }
      const uint16_t expected = w < selected.wordCount ? selected.words[w] : 0xFFFF;
      bool matched = false;
      for (int read = 0; read < 3 && !matched; ++read) {
        uint8_t word[3] = {};
        if (!LoaderExchange("R", 1, 150, word, 2, 3)) continue;  // counts as a read, address kept
        if (static_cast<uint16_t>((word[0] << 8) | word[1]) == expected) {
          matched = true;
        } else {
          // Read it again from its own address.
          const uint8_t address[3] = {'a', static_cast<uint8_t>((w >> 8) & 0xFF), static_cast<uint8_t>(w & 0xFF)};
          LoaderCommand(extended, 2, 300);
          LoaderCommand(address, 3, 120);
        }
      }
      if (w % mainboard::FLASH_PAGE_WORDS == 0) progress.SetPos(static_cast<int32_t>(w / mainboard::FLASH_PAGE_WORDS));
      if (!matched) {
        progress.Show(0);
        allVerified = false;
        break;
      }
    }
  }

  m_nonBlockingReads = 0;
  if (!IsOpen()) OpenPort(status);
  ApplyTimeouts();
  StoreOptionByte(status);
  LoaderCommand("y", 1, 45);
  const bool left = ExitLoader(status, programmerImage);
  int result = 0;
  if (left && allVerified) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      platform::SleepMs(200);
      if (SetUnitClock()) break;
    }
    status = "Verified OK.";
    result = 1;
  } else {
    status = "Verify FAILED.";
  }
  ClosePort();
  progress.Show(0);
  return result;
}
