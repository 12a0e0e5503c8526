#include "tests/support/PtyPeer.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace k4vtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "k4v-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

PortDirectory::PortDirectory() {
  if (const char* old = std::getenv("SOLSTRAND_PORTS")) {
    m_hadOldValue = true;
    m_oldValue = old;
  }
  setenv("SOLSTRAND_PORTS", m_dir.Path().c_str(), 1);
}

PortDirectory::~PortDirectory() {
  if (m_hadOldValue)
    setenv("SOLSTRAND_PORTS", m_oldValue.c_str(), 1);
  else
    unsetenv("SOLSTRAND_PORTS");
}

void PortDirectory::Link(int comNumber, const std::string& target) {
  const std::string link = m_dir.Path() + "/com" + std::to_string(comNumber);
  unlink(link.c_str());
  if (symlink(target.c_str(), link.c_str()) != 0) throw std::runtime_error("symlink failed");
}

void PortDirectory::PlainFile(int comNumber) {
  const std::string path = m_dir.Path() + "/com" + std::to_string(comNumber);
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  if (fd < 0) throw std::runtime_error("cannot create plain file");
  close(fd);
}

PtyPeer::PtyPeer() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) throw std::runtime_error("no pty");
  m_terminalPath = ptsname(m_master);
  m_keepOpen = open(m_terminalPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_keepOpen < 0) throw std::runtime_error("cannot open terminal side");
  termios t{};
  tcgetattr(m_keepOpen, &t);
  cfmakeraw(&t);
  tcsetattr(m_keepOpen, TCSANOW, &t);
  fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() { Vanish(); }

void PtyPeer::Vanish() {
  if (m_keepOpen >= 0) close(m_keepOpen);
  if (m_master >= 0) close(m_master);
  m_keepOpen = m_master = -1;
}

termios PtyPeer::LineSettings() const {
  termios t{};
  tcgetattr(m_master, &t);
  return t;
}

uint32_t PtyPeer::BaudRate() const {
  switch (cfgetospeed(&static_cast<const termios&>(LineSettings()))) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
  }
}

bool PtyPeer::Is8N2() const {
  const termios t = LineSettings();
  return (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB) && (t.c_cflag & CSTOPB);
}

void PtyPeer::Write(const std::string& bytes) const {
  Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void PtyPeer::Write(const std::vector<uint8_t>& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t r = write(m_master, bytes.data() + done, bytes.size() - done);
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EINTR) return;
    pollfd p{m_master, POLLOUT, 0};
    if (poll(&p, 1, 1000) <= 0) return;
  }
}

std::string PtyPeer::Read(int ms, size_t maxBytes) const {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < maxBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[4096];
    const ssize_t r = read(m_master, buf, std::min(sizeof buf, maxBytes - out.size()));
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

std::string PtyPeer::ReadUntil(const std::string& terminator, int ms) const {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < terminator.size() || out.compare(out.size() - terminator.size(), terminator.size(), terminator) != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char c;
    if (read(m_master, &c, 1) == 1) out.push_back(c);
  }
  return out;
}

}  // namespace k4vtest
