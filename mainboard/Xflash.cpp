// Programming the main board's external flash through the main processor's
// debug mode (or the programmer firmware): the image is built in memory,
// compared with the flash sector by sector by CRC-32, the sectors that differ
// are erased and written, and the directory page comes last, so that an
// interrupted run leaves the directory erased rather than describing blocks
// that are not there.
#include "mainboard/Xflash.h"

#include "engine/Crc32.h"
#include "engine/FirmwareImages.h"
#include "mainboard/MainBoard.h"
#include "platform/Clock.h"
#include "serial/SerialPort.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t LF = 0x0A;
constexpr uint32_t FRAME_SIZE = 4 + 2 + xflash::PAGE_SIZE + 4;  // 138
constexpr uint32_t BLOCK1_ALIGN_PAGES = 512;                   // 64 KB
constexpr int PAGE_WRITES = 3;

const char* const CANNOT_CONNECT_TEXT = "Cannot connect to Veltro hardware. The EEPROM was not programmed.";

// "<head>'<code>' at <where> <number>. Try again.", with the status code as it
// came (also a NUL byte, which a printf format would end the text at).
std::string FailureText(const char* head, char code, const char* where, uint32_t number) {
  return std::string(head) + '\'' + code + "' at " + where + ' ' + std::to_string(number) + ". Try again.";
}

std::string ProgrammingFailureText(char code, uint32_t page) {
  return FailureText("Motherboard external flash programming failure ", code, "page", page);
}

// Parses a CRC answer ("%x"); false when it does not parse.
bool ParseCrc(const uint8_t* answer, uint32_t& crc) {
  unsigned int value = 0;
  if (std::sscanf(reinterpret_cast<const char*>(answer), "%8x", &value) != 1) return false;
  crc = value;
  return true;
}

}  // namespace

void xflash::AppendXflashBlock(uint32_t& pageCounter, uint32_t& directoryOffset, uint32_t directoryPage,
                               uint8_t* image, uint32_t flags, const uint8_t* block, uint32_t size) {
  std::vector<uint8_t> data(block, block + size);
  if (flags & SWAP_BYTE_PAIRS)
    for (uint32_t i = 0; i + 1 < size; i += 2) std::swap(data[i], data[i + 1]);
  if (flags & DIRECTORY_ENTRY) {
    // Twelve characters and a terminating zero, inside the directory page.
    char entry[13];
    std::snprintf(entry, sizeof entry, "%4x%8x", pageCounter, size);
    const uint32_t at = directoryPage * PAGE_SIZE + directoryOffset;
    if (directoryOffset + sizeof entry <= PAGE_SIZE) std::memcpy(image + at, entry, sizeof entry);
    directoryOffset += 12;
  }
  for (uint32_t offset = 0; offset < size; offset += PAGE_SIZE) {
    if (pageCounter < directoryPage) {
      uint8_t* page = image + pageCounter * PAGE_SIZE;
      const uint32_t n = std::min(PAGE_SIZE, size - offset);
      std::memcpy(page, data.data() + offset, n);
      std::memset(page + n, 0xFF, PAGE_SIZE - n);
    }
    ++pageCounter;
  }
}

xflash::ChipGeometry xflash::GeometryFromIdentification(const char* answer) {
  ChipGeometry g;
  if (std::strstr(answer, "b7bf")) {
    g = {true, 4096, 32, 0};
  } else if (std::strstr(answer, "a401")) {
    g = {true, 65536, 512, 0};
  } else {
    return g;
  }
  g.highestSector = XFLASH_DIRECTORY_PAGE / g.pagesPerSector;
  return g;
}

void CSerialPort::BuildXflashImage(uint32_t& usedPages, uint32_t directoryPage, uint8_t* image) {
  std::memset(image, 0xFF, directoryPage * xflash::PAGE_SIZE);
  std::memset(image + directoryPage * xflash::PAGE_SIZE, 0x00, xflash::PAGE_SIZE);
  uint32_t pageCounter = 0;
  uint32_t directoryOffset = 0;
  const FirmwareImage table = GetFirmwareImage(m_model == 12 ? XFLASH_TEXT_TABLE_MODEL12 : XFLASH_TEXT_TABLE);
  xflash::AppendXflashBlock(pageCounter, directoryOffset, directoryPage, image, 0, table.bytes, table.byteCount);
  pageCounter = (pageCounter + BLOCK1_ALIGN_PAGES - 1) / BLOCK1_ALIGN_PAGES * BLOCK1_ALIGN_PAGES;
  for (int block = XFLASH_BLOCK_2; block <= XFLASH_BLOCK_11; ++block) {
    const FirmwareImage data = GetFirmwareImage(static_cast<ImageId>(block));
    const uint32_t flags =
        xflash::DIRECTORY_ENTRY | (block == XFLASH_BLOCK_11 ? xflash::SWAP_BYTE_PAIRS : 0u);
    xflash::AppendXflashBlock(pageCounter, directoryOffset, directoryPage, image, flags, data.bytes, data.byteCount);
  }
  usedPages = pageCounter;
}

char CSerialPort::SendXflashPage(uint32_t page, const uint8_t* data) {
  uint8_t frame[FRAME_SIZE];
  std::memcpy(frame, "dea\n", 4);
  StoreLe16(frame + 4, static_cast<uint16_t>(page));
  std::memcpy(frame + 6, data, xflash::PAGE_SIZE);
  StoreLe32(frame + 6 + xflash::PAGE_SIZE, Crc32(frame + 4, 2 + xflash::PAGE_SIZE));
  uint8_t answer[3] = {};
  if (!LoaderExchange(frame, FRAME_SIZE, 560, answer, 2, 3)) return 'R';
  if (answer[0] == LF && answer[1] != 0) {
    // The code came after a line feed: let the rest of the line arrive and
    // throw it away.
    platform::SleepMs(50);
    FlushInput(true);
    return static_cast<char>(answer[1]);
  }
  return static_cast<char>(answer[0]);
}

bool CSerialPort::ReadXflashPageCrc(uint32_t page, uint32_t& crc) {
  char command[16];
  std::snprintf(command, sizeof command, "deb%04x\n", page & 0xFFFF);
  uint8_t answer[10] = {};
  return LoaderExchange(command, 8, 1120, answer, 9, 3) && ParseCrc(answer, crc);
}

bool CSerialPort::ReadXflashCrc(uint32_t offset, uint32_t length, uint32_t& crc) {
  char command[20];
  std::snprintf(command, sizeof command, "dec%06x%06x\n", offset & 0xFFFFFF, length & 0xFFFFFF);
  uint8_t answer[10] = {};
  return LoaderExchange(command, 16, 20000, answer, 9, 3) && ParseCrc(answer, crc);
}

char CSerialPort::ProgramXflashPage(uint32_t page, const uint8_t* data, bool force) {
  if (!force) {
    uint32_t flashCrc = 0;
    if (ReadXflashPageCrc(page, flashCrc) && flashCrc == Crc32(data, xflash::PAGE_SIZE)) return 'S';
  }
  char code = 'R';
  for (int write = 0; write < PAGE_WRITES && code != 'S'; ++write) code = SendXflashPage(page, data);
  return code;
}

int CSerialPort::ProgramXflash(std::string& status, CProgCtrl& progress) {
  InitCrc32Table();
  if (!OpenPort(status)) {
    status = CANNOT_CONNECT_TEXT;
    return 0;
  }

  // Reach the debug mode (or the programmer firmware) at high speed.
  if (m_connectState == CONNECT_APPLICATION) {
    if (!SwitchZonesOff()) {
      status = mainboard::MAIN_PROCESSOR_NOT_RESPONDING_TEXT;
      return 0;
    }
    m_baudIndex = m_fastBaudIndex;
    if (!ChangeUnitBaudRate()) {
      status = mainboard::FAILED_TO_SWITCH_TEXT;
      return 0;
    }
    if (!EnterDebugMode(status)) {
      ClosePort();
      return 0;
    }
  } else if (m_baudIndex != m_fastBaudIndex) {
    m_baudIndex = m_fastBaudIndex;
    if (!ChangeUnitBaudRate()) {
      status = mainboard::FAILED_TO_SWITCH_TEXT;
      return 0;
    }
  }

  FlushInput(false);
  // The image is held only while this operation runs.
  std::unique_ptr<uint8_t[]> image(new uint8_t[xflash::XFLASH_IMAGE_SIZE]);
  uint32_t usedPages = 0;
  BuildXflashImage(usedPages, xflash::XFLASH_DIRECTORY_PAGE, image.get());

  bool failed = false;
  char lastCode = 'S';
  uint32_t lastPage = 0;
  char chip[65] = {};
  WriteToQORAndWaitFor("dei\n", 4, 200, chip, 64, false, 3);
  const xflash::ChipGeometry geometry = xflash::GeometryFromIdentification(chip);
  if (!geometry.accepted) {
    status = "MB Xflash too small. Call technical support.";
    failed = true;
  }

  if (!failed) {
    WriteToQORAndWait("del0\n", 5, 100);
    m_nonBlockingReads = 1;
    ApplyTimeouts();
    progress.SetRange(0, static_cast<int32_t>(usedPages));
    progress.SetPos(1);
    progress.Show(1);
    progress.SetPos(0);

    // Compare sector by sector; a differing sector also marks the sector of
    // the directory page, which is rewritten last.
    const uint32_t highest = geometry.highestSector;
    std::vector<bool> marked(highest + 1, false);
    for (uint32_t s = 0; s <= highest; ++s) {
      const uint32_t begin = s * geometry.sectorSize;
      const uint32_t end = std::min((s + 1) * geometry.sectorSize, xflash::XFLASH_IMAGE_SIZE);
      uint32_t flashCrc = 0;
      if (!ReadXflashCrc(begin, end - begin, flashCrc) || flashCrc != Crc32(image.get() + begin, end - begin)) {
        marked[s] = true;
        marked[highest] = true;
      }
    }

    if (marked[highest]) {
      // Erase from the highest marked sector down.
      for (uint32_t s = highest + 1; s-- > 0 && !failed;) {
        if (!marked[s]) continue;
        char command[16];
        std::snprintf(command, sizeof command, "ded%04x\n", s & 0xFFFF);
        uint8_t answer[3] = {};
        const char code = LoaderExchange(command, 8, 20000, answer, 2, 2) ? static_cast<char>(answer[0]) : 'R';
        if (code != 'S' && code != '1') {
          status = FailureText("Motherboard external flash erase failure ", code, "sector", s);
          failed = true;
        }
      }
      // Write the marked sectors' pages, then the directory page.
      for (uint32_t s = 0; s <= highest && !failed; ++s) {
        const uint32_t first = s * geometry.pagesPerSector;
        if (!marked[s]) {
          progress.SetPos(static_cast<int32_t>(first + geometry.pagesPerSector - 1));
          continue;
        }
        for (uint32_t page = first; page < first + geometry.pagesPerSector && page < usedPages; ++page) {
          lastPage = page;
          lastCode = ProgramXflashPage(page, image.get() + page * xflash::PAGE_SIZE, false);
          if (lastCode != 'S') {
            status = ProgrammingFailureText(lastCode, page);
            failed = true;
            break;
          }
          progress.SetPos(static_cast<int32_t>(page));
        }
      }
      if (!failed) {
        lastPage = xflash::XFLASH_DIRECTORY_PAGE;
        lastCode = ProgramXflashPage(lastPage, image.get() + xflash::DIRECTORY_OFFSET, false);
        if (lastCode != 'S') {
          status = ProgrammingFailureText(lastCode, lastPage);
          failed = true;
        }
      }
    }
  }

  if (!failed) {
    m_nonBlockingReads = 0;
    ApplyTimeouts();
    WriteToQORAndWait("del1\n", 5, 100);
    image.reset();
    if (ExitDebugMode(status)) {
      if (m_baudIndex != 0) {
        m_baudIndex = 0;
        ChangeUnitBaudRate();
      }
      ClosePort();
      status = "EEPROM Programming Done.";
      progress.Show(0);
      return 1;
    }
    status = ProgrammingFailureText(lastCode, lastPage);
  }

  // Failure exit.
  image.reset();
  m_nonBlockingReads = 0;
  if (OpenPort(status)) {
    WriteToQORAndWait("del1\n", 5, 100);
    ExitDebugMode(status);
    if (m_baudIndex != 0) {
      m_baudIndex = 0;
      ChangeUnitBaudRate();
    }
  }
  ClosePort();
  progress.Show(0);
  return 0;
}
