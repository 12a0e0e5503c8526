// POSIX backend of the serial device: a raw termios port, opened with
// O_NOCTTY and made exclusive with TIOCEXCL and an advisory flock (the
// super-user passes through TIOCEXCL alone). All waits are poll() on the
// device with the remaining time, so nothing spins.
#include "platform/SerialDevice.h"

#include "platform/Clock.h"
#include "platform/PortNames.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace platform {

struct SerialDevice {
  int fd = -1;
  SerialTimeouts timeouts{};
  uint32_t baudRate = 19200;  // the rate the line runs at, for the write bound
  bool dead = false;
};

namespace {

struct BaudEntry {
  uint32_t rate;
  speed_t code;
};
constexpr BaudEntry kBaudRates[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
    {230400, B230400},
};

bool RateToCode(uint32_t rate, speed_t& code) {
  for (const auto& e : kBaudRates)
    if (e.rate == rate) {
      code = e.code;
      return true;
    }
  return false;
}

uint32_t CodeToRate(speed_t code) {
  for (const auto& e : kBaudRates)
    if (e.code == code) return e.rate;
  return 0;
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

bool Usable(SerialHandle h) { return h != INVALID_SERIAL_HANDLE && h->fd >= 0 && !h->dead; }

// Waits for the events on the device until the absolute deadline (ns).
// Returns the poll revents, 0 on time-out. Marks the device dead on hang-up.
short WaitFor(SerialHandle h, short events, int64_t deadlineNs) {
  for (;;) {
    int64_t left = deadlineNs - NowNs();
    if (left < 0) left = 0;
    timespec ts{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
    pollfd p{h->fd, events, 0};
    const int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      h->dead = true;
      return POLLERR;
    }
    if (r == 0) return 0;
    if (p.revents & (POLLERR | POLLNVAL)) h->dead = true;
    if ((p.revents & POLLHUP) && !(p.revents & POLLIN)) h->dead = true;
    return p.revents;
  }
}

// Reads what is available now, up to n bytes. Returns -1 when the device is
// gone. A read of 0 after poll reported input means the peer hung up.
int ReadAvailable(SerialHandle h, uint8_t* buf, uint32_t n, bool pollSaidReadable) {
  for (;;) {
    const ssize_t r = ::read(h->fd, buf, n);
    if (r > 0) return static_cast<int>(r);
    if (r == 0) {
      if (pollSaidReadable) {
        h->dead = true;
        return -1;
      }
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    h->dead = true;
    return -1;
  }
}

void MakeRaw(termios& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                      IXANY | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

}  // namespace

SerialHandle SerialOpen(const std::string& name) {
  const std::string path = ResolvePortName(name);
  if (path.empty()) return INVALID_SERIAL_HANDLE;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return INVALID_SERIAL_HANDLE;
  termios t{};
  bool ok = isatty(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0;
  const bool exclusive = ok && ioctl(fd, TIOCEXCL) == 0;
  ok = exclusive && tcgetattr(fd, &t) == 0;
  if (ok) {
    MakeRaw(t);
    ok = tcsetattr(fd, TCSANOW, &t) == 0;
  }
  if (!ok) {
    // Exclusive mode belongs to the terminal: leave it only if this open set
    // it, never on behalf of the program that holds the port.
    if (exclusive) ioctl(fd, TIOCNXCL);
    ::close(fd);
    return INVALID_SERIAL_HANDLE;
  }
  auto* device = new SerialDevice;
  device->fd = fd;
  if (const uint32_t rate = CodeToRate(cfgetospeed(&t))) device->baudRate = rate;
  return device;
}

bool SerialClose(SerialHandle h) {
  if (h == INVALID_SERIAL_HANDLE) return false;
  if (h->fd >= 0) {
    // Leave exclusive mode first, so that an ordinary user can open the
    // port again at once.
    ioctl(h->fd, TIOCNXCL);
    flock(h->fd, LOCK_UN);
    ::close(h->fd);
  }
  delete h;
  return true;
}

bool SerialGetState(SerialHandle h, SerialLineSettings& out) {
  if (!Usable(h)) return false;
  termios t{};
  if (tcgetattr(h->fd, &t) != 0) return false;
  out.baudRate = CodeToRate(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: out.byteSize = 5; break;
    case CS6: out.byteSize = 6; break;
    case CS7: out.byteSize = 7; break;
    default: out.byteSize = 8; break;
  }
  out.parity = !(t.c_cflag & PARENB) ? Parity::None : (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
  out.stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
  out.outX = (t.c_iflag & IXON) != 0;
  out.inX = (t.c_iflag & IXOFF) != 0;
  out.binary = !(t.c_oflag & OPOST) && !(t.c_lflag & ICANON);
  return true;
}

bool SerialSetState(SerialHandle h, const SerialLineSettings& in) {
  if (!Usable(h)) return false;
  termios t{};
  if (tcgetattr(h->fd, &t) != 0) return false;
  speed_t code{};
  if (!RateToCode(in.baudRate, code)) return false;
  if (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  switch (in.byteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return false;
  }
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
  if (in.parity != Parity::None) t.c_cflag |= PARENB;
  if (in.parity == Parity::Odd) t.c_cflag |= PARODD;
  if (in.stopBits == StopBits::Two)
    t.c_cflag |= CSTOPB;
  else
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  if (in.binary) MakeRaw(t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
  if (in.outX) t.c_iflag |= IXON;
  if (in.inX) t.c_iflag |= IXOFF;
  if (tcsetattr(h->fd, TCSANOW, &t) != 0) return false;
  h->baudRate = in.baudRate;
  return true;
}

bool SerialDrain(SerialHandle h) {
  if (!Usable(h)) return false;
  // Wait for the driver's output queue to empty, on the clock and with a
  // limit (an adapter that stops sending must not hang the caller): two
  // seconds plus twice the wire time of what was queued.
  int queued = 0;
  if (ioctl(h->fd, TIOCOUTQ, &queued) != 0) queued = 0;
  const auto wireMs = [h](int bytes) { return static_cast<int64_t>(bytes) * 11 * 1000 / h->baudRate; };
  const int64_t deadline = MonotonicMs() + 2000 + 2 * wireMs(queued);
  while (queued > 0) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    const int64_t step = std::max<int64_t>(1, std::min<int64_t>(left, wireMs(queued)));
    WaitMs(static_cast<uint32_t>(step));
    if (ioctl(h->fd, TIOCOUTQ, &queued) != 0) queued = 0;
  }
  // What the driver still holds in the port's own transmitter.
  while (tcdrain(h->fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& out) {
  if (!Usable(h)) return false;
  out = h->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& in) {
  if (!Usable(h)) return false;
  h->timeouts = in;
  return true;
}

bool SerialPurge(SerialHandle h, uint32_t flags) {
  if (!Usable(h)) return false;
  const bool tx = flags & (PURGE_TXCLEAR | PURGE_TXABORT);
  const bool rx = flags & (PURGE_RXCLEAR | PURGE_RXABORT);
  if (!tx && !rx) return true;
  return tcflush(h->fd, tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : TCIFLUSH) == 0;
}

bool SerialRead(SerialHandle h, void* buf, uint32_t n, uint32_t* got) {
  *got = 0;
  if (!Usable(h)) return false;
  if (n == 0) return true;
  auto* out = static_cast<uint8_t*>(buf);
  const SerialTimeouts& to = h->timeouts;

  // Non-blocking set: whatever has arrived, at once.
  if (to.readIntervalTimeout == SERIAL_MAXDWORD && to.readTotalTimeoutMultiplier == 0 &&
      to.readTotalTimeoutConstant == 0) {
    const int r = ReadAvailable(h, out, n, false);
    if (r < 0) return false;
    *got = static_cast<uint32_t>(r);
    return true;
  }

  const uint64_t totalMs = static_cast<uint64_t>(to.readTotalTimeoutMultiplier) * n + to.readTotalTimeoutConstant;
  const bool hasTotal = totalMs != 0;
  const bool hasInterval = to.readIntervalTimeout != 0 && to.readIntervalTimeout != SERIAL_MAXDWORD;
  const int64_t start = NowNs();
  const int64_t totalDeadline = hasTotal ? start + static_cast<int64_t>(totalMs) * 1000000LL : INT64_MAX;
  int64_t lastByte = 0;

  while (*got < n) {
    int64_t deadline = totalDeadline;
    if (hasInterval && *got > 0) {
      const int64_t gapDeadline = lastByte + static_cast<int64_t>(to.readIntervalTimeout) * 1000000LL;
      if (gapDeadline < deadline) deadline = gapDeadline;
    }
    if (deadline != INT64_MAX && NowNs() >= deadline) break;
    const short ev = WaitFor(h, POLLIN, deadline == INT64_MAX ? NowNs() + 3600000000000LL : deadline);
    if (h->dead && !(ev & POLLIN)) return *got > 0;
    if (!(ev & POLLIN)) break;  // time-out
    const int r = ReadAvailable(h, out + *got, n - *got, true);
    if (r < 0) return *got > 0;
    *got += static_cast<uint32_t>(r);
    lastByte = NowNs();
  }
  return true;
}

bool SerialWrite(SerialHandle h, const void* buf, uint32_t n, uint32_t* written) {
  *written = 0;
  if (!Usable(h)) return false;
  const auto* in = static_cast<const uint8_t*>(buf);
  const SerialTimeouts& to = h->timeouts;
  uint64_t limitMs = static_cast<uint64_t>(to.writeTotalTimeoutMultiplier) * n + to.writeTotalTimeoutConstant;
  if (limitMs == 0) {
    // No limit in the time-out set: allow twice the wire time of the bytes at
    // the line's rate (11 bits a byte), plus two seconds, and no more.
    limitMs = 2000 + static_cast<uint64_t>(n) * 2 * 11 * 1000 / h->baudRate;
  }
  const int64_t deadline = NowNs() + static_cast<int64_t>(limitMs) * 1000000LL;
  while (*written < n) {
    const ssize_t r = ::write(h->fd, in + *written, n - *written);
    if (r > 0) {
      *written += static_cast<uint32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      h->dead = true;
      return false;
    }
    if (NowNs() >= deadline) break;
    const short ev = WaitFor(h, POLLOUT, deadline);
    if (h->dead) return false;
    if (!(ev & POLLOUT)) break;
  }
  return true;
}

bool SerialWaitForInput(SerialHandle h, uint32_t ms) {
  if (!Usable(h)) {
    WaitMs(ms);
    return false;
  }
  const int64_t deadline = NowNs() + static_cast<int64_t>(ms) * 1000000LL;
  const short ev = WaitFor(h, POLLIN, deadline);
  if (ev & POLLIN) return true;
  if (h->dead) {
    // Nothing to wait on any more: sit out the rest of the time.
    const int64_t left = deadline - NowNs();
    if (left > 0) WaitMs(static_cast<uint32_t>((left + 999999) / 1000000));
  }
  return false;
}

bool SerialIsDead(SerialHandle h) { return h != INVALID_SERIAL_HANDLE && h->dead; }

}  // namespace platform
