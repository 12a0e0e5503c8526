#include "tests/sim/FarEnd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace simtest {

namespace {

speed_t SpeedCode(uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
  }
  throw std::invalid_argument("no such rate");
}

using Clock = std::chrono::steady_clock;

}  // namespace

FarEnd::FarEnd(const std::string& path) {
  m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) throw std::runtime_error("cannot open " + path);
}

FarEnd::~FarEnd() { Close(); }

void FarEnd::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void FarEnd::SetLine(uint32_t baud, tcflag_t framing) {
  termios t{};
  if (tcgetattr(m_fd, &t) != 0) throw std::runtime_error("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  t.c_cflag |= framing | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, SpeedCode(baud));
  cfsetospeed(&t, SpeedCode(baud));
  if (tcsetattr(m_fd, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr");
}

uint32_t FarEnd::Baud() const {
  termios t{};
  tcgetattr(m_fd, &t);
  return sim::DecodeLineSettings(t).baud;
}

void FarEnd::Send(const std::string& bytes) {
  // One write, as the installer writes a command.
  if (write(m_fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("short write to the unit");
}

std::string FarEnd::ReadUntilQuiet(int quietMs, int maxMs) {
  std::string out;
  const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
  while (Clock::now() < end) {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
    char buffer[512];
    const ssize_t r = read(m_fd, buffer, sizeof buffer);
    if (r <= 0) break;
    out.append(buffer, static_cast<size_t>(r));
  }
  return out;
}

std::string FarEnd::ReadCount(size_t n, int maxMs) {
  std::string out;
  const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) break;
    char buffer[512];
    const ssize_t r = read(m_fd, buffer, std::min(sizeof buffer, n - out.size()));
    if (r <= 0) break;
    out.append(buffer, static_cast<size_t>(r));
  }
  return out;
}

std::string Ask(sim::VirtualUnit& unit, FarEnd& far, const std::string& bytes) {
  const uint64_t before = unit.Counters().rxBytes;
  far.Send(bytes);
  const bool taken = unit.WaitUntil(
      [&](const sim::UnitState&, const sim::UnitCounters& c) { return c.rxBytes >= before + bytes.size(); },
      std::chrono::seconds(10));
  if (!taken) throw std::runtime_error("the unit did not take the bytes in");
  return far.ReadUntilQuiet();
}

std::string AskEach(UnitOnLine& u, std::initializer_list<std::pair<std::string, size_t>> steps) {
  std::string answers;
  for (const auto& [command, answerBytes] : steps) answers += u.AskN(command, answerBytes);
  return answers;
}

UnitOnLine::UnitOnLine(const std::string& profile) : unit(sim::Profile::ByName(profile)) { Open(); }

UnitOnLine::UnitOnLine(sim::UnitState state) : unit(std::move(state)) { Open(); }

void UnitOnLine::Open() {
  std::string error;
  if (!unit.Start(&error)) throw std::runtime_error(error);
  far = std::make_unique<FarEnd>(unit.TerminalPath());
  far->SetLine(19200);
}

}  // namespace simtest
