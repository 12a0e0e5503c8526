#include "sim/VirtualUnit.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include "sim/StateFile.h"

namespace sim {

namespace {

constexpr size_t READ_CHUNK = 4096;

// How long n characters take on the wire at the line's rate and framing.
VirtualUnit::Clock::duration CharacterTimesOf(const LineSettings& line, size_t characters) {
  if (line.baud == 0) return {};
  const double seconds = static_cast<double>(characters) * line.BitsPerCharacter() / static_cast<double>(line.baud);
  return std::chrono::duration_cast<VirtualUnit::Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

VirtualUnit::VirtualUnit(const Profile& profile) : VirtualUnit(profile.MakeState()) {}

VirtualUnit::VirtualUnit(UnitState state) : m_core(std::move(state), Clock::now()) {}

VirtualUnit::~VirtualUnit() { Stop(); }

bool VirtualUnit::Start(std::string* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_running) return true;
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = std::string("cannot create wake-up pipe: ") + std::strerror(errno);
    return false;
  }
  if (!OpenTerminal(error)) {
    close(m_wake[0]);
    close(m_wake[1]);
    m_wake[0] = m_wake[1] = -1;
    return false;
  }
  m_stop = false;
  m_running = true;
  m_core.RecordEvent("serving " + m_terminalPath, ReadLineSettings(), Clock::now());
  m_thread = std::thread(&VirtualUnit::Serve, this);
  return true;
}

void VirtualUnit::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_running) return;
    m_stop = true;
    Wake();
  }
  m_thread.join();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_realTime = false;
  CloseTerminal();
  for (const auto& link : m_links) {
    std::error_code ec;
    if (std::filesystem::is_symlink(link, ec)) std::filesystem::remove(link, ec);
  }
  m_links.clear();
  close(m_wake[0]);
  close(m_wake[1]);
  m_wake[0] = m_wake[1] = -1;
  m_running = false;
  m_core.FlushTranscriptFile();
  Changed();
}

bool VirtualUnit::Running() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_running;
}

bool VirtualUnit::OpenTerminal(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    CloseTerminal();
    return false;
  };
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (m_master < 0) return fail("cannot open a pseudo-terminal");
  if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) return fail("cannot unlock the pseudo-terminal");
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) return fail("cannot name the pseudo-terminal");
  m_terminalPath = name;
  // Our own descriptor of the terminal side: while it is open the terminal
  // never hangs up when the far end closes its port, and the line settings
  // the far end programmed persist until it reopens.
  m_keepOpen = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (m_keepOpen < 0) return fail("cannot open the terminal side");
  termios t{};
  if (tcgetattr(m_keepOpen, &t) != 0) return fail("cannot read the terminal settings");
  cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(m_keepOpen, TCSANOW, &t) != 0) return fail("cannot make the terminal raw");
  return true;
}

void VirtualUnit::CloseTerminal() {
  if (m_keepOpen >= 0) close(m_keepOpen);
  if (m_master >= 0) close(m_master);
  m_keepOpen = m_master = -1;
  m_pending.clear();
}

std::string VirtualUnit::TerminalPath() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_terminalPath;
}

bool VirtualUnit::RelinkAll(std::string* error) {
  for (const auto& link : m_links) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(link, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_symlink(status)) {
      if (error) *error = link + " exists and is not a symbolic link";
      return false;
    }
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(m_terminalPath, link, ec);
    if (ec) {
      if (error) *error = "cannot link " + link + ": " + ec.message();
      return false;
    }
  }
  return true;
}

bool VirtualUnit::LinkAs(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_terminalPath.empty()) {
    if (error) *error = "the unit has no terminal yet";
    return false;
  }
  const std::vector<std::string> before = m_links;
  m_links = {path};
  const bool ok = RelinkAll(error);
  m_links = before;
  if (ok) m_links.push_back(path);
  return ok;
}

LineSettings VirtualUnit::ReadLineSettings() const {
  termios t{};
  if (m_master < 0 || tcgetattr(m_master, &t) != 0) return LineSettings{};
  return DecodeLineSettings(t);
}

LineSettings VirtualUnit::CurrentLineSettings() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ReadLineSettings();
}

void VirtualUnit::Wake() {
  if (m_wake[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] const ssize_t r = write(m_wake[1], &b, 1);
  }
}

void VirtualUnit::Serve() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_askRealTime) {
    // The far end waits for some answers with reads of a few milliseconds:
    // the lowest real-time priority lets the unit answer first on a loaded
    // machine. The thread only ever blocks in ppoll(), so it cannot starve
    // anyone.
    sched_param param{};
    param.sched_priority = 1;
    const int r = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    m_realTime = r == 0;
    m_core.RecordEvent(m_realTime ? "real-time scheduling granted" : std::string("real-time scheduling refused: ") + std::strerror(r),
                       ReadLineSettings(), Clock::now());
  }
  while (!m_stop) ServeOnce(lock);
}

void VirtualUnit::SetRealTimeScheduling(bool ask) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_askRealTime = ask;
}

bool VirtualUnit::RealTimeScheduling() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_realTime;
}

void VirtualUnit::ServeOnce(std::unique_lock<std::mutex>& lock) {
  // The wait: the terminal and the wake-up pipe, until the next paced answer
  // or the end of a timed power cut.
  std::optional<Clock::time_point> until;
  if (!m_pending.empty()) until = m_pending.front().due;
  if (const auto restore = m_core.PowerRestoreDue(); restore && (!until || *restore < *until)) until = restore;
  pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};
  const nfds_t count = m_master >= 0 ? 2 : 1;
  timespec timeout{};
  timespec* timeoutPtr = nullptr;
  if (until) {
    const auto left = std::max(Clock::duration::zero(), *until - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
    timeout.tv_nsec = static_cast<long>(ns % 1000000000);
    timeoutPtr = &timeout;
  }
  lock.unlock();
  const int ready = ppoll(fds, count, timeoutPtr, nullptr);
  lock.lock();
  m_core.CountWakeUp();
  const auto now = Clock::now();

  if (ready > 0 && (fds[0].revents & POLLIN)) {
    char drain[64];
    while (read(m_wake[0], drain, sizeof drain) > 0) {
    }
  }
  if (m_hangUpRequested) {
    m_hangUpRequested = false;
    if (m_master >= 0) {
      m_core.RecordEvent("hang-up: cable pulled", ReadLineSettings(), now);
      m_core.CountHangUp();
      CloseTerminal();
    }
    ++m_hangUpsDone;
  }
  if (ready > 0 && count == 2 && fds[1].revents && m_master >= 0) {
    char buffer[READ_CHUNK];
    const ssize_t r = read(m_master, buffer, sizeof buffer);
    if (r > 0) {
      ReceiveBatch(std::string(buffer, static_cast<size_t>(r)), now);
    } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
      // The terminal side is gone although we hold it open: do not poll a
      // dead terminal again.
      m_core.RecordEvent(std::string("terminal lost: ") + (r == 0 ? "end of file" : std::strerror(errno)),
                         LineSettings{}, now);
      CloseTerminal();
    }
  }
  if (const auto restore = m_core.PowerRestoreDue(); restore && *restore <= now)
    m_core.PowerOn(ReadLineSettings(), now);
  WriteDue(Clock::now());
  m_core.FlushTranscriptFile();
  Changed();
}

void VirtualUnit::ReceiveBatch(const std::string& bytes, Clock::time_point now) {
  // The settings the far end programmed, read at every exchange.
  const LineSettings line = ReadLineSettings();
  UnitCore::Outgoing out = m_core.Receive(bytes, line, now);
  if (m_core.TakeHangUpRequest()) {
    m_core.RecordEvent("hang-up: cable pulled", line, now);
    m_core.CountHangUp();
    CloseTerminal();
    return;
  }
  PendingWrite w{now, std::move(out.bytes), std::move(out.note), line};
  if (m_pacing.enabled && line.baud != 0) {
    const auto rxEnd = std::max(now, m_rxFreeAt) + CharacterTimesOf(line, bytes.size());
    m_rxFreeAt = rxEnd;
    if (!w.bytes.empty()) {
      const auto start = std::max(rxEnd + m_pacing.turnaround, m_txFreeAt);
      w.due = start + CharacterTimesOf(line, w.bytes.size());
      m_txFreeAt = w.due;
    }
  }
  if (!w.bytes.empty()) m_pending.push_back(std::move(w));
}

void VirtualUnit::WriteDue(Clock::time_point now) {
  while (!m_pending.empty() && m_pending.front().due <= now) {
    const PendingWrite w = std::move(m_pending.front());
    m_pending.pop_front();
    WriteNow(w, now);
  }
}

void VirtualUnit::WriteNow(const PendingWrite& w, Clock::time_point now) {
  if (m_master < 0) return;
  // One write per answer; what the far end's input buffer has no room for is
  // lost, as on a real line.
  const ssize_t r = write(m_master, w.bytes.data(), w.bytes.size());
  const size_t written = r > 0 ? static_cast<size_t>(r) : 0;
  std::string note = w.note;
  if (written < w.bytes.size()) {
    m_core.RecordOverrun(w.bytes.size() - written);
    if (!note.empty()) note += ", ";
    note += std::to_string(w.bytes.size() - written) + " bytes overrun";
  }
  m_core.RecordSent(w.bytes.substr(0, written), note, w.line, now);
}

UnitState VirtualUnit::Snapshot() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_core.View();
}

void VirtualUnit::Mutate(const std::function<void(UnitState&)>& change) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_core.Mutate(change);
  Changed();
}

bool VirtualUnit::SaveState(const std::string& path, std::string* error) const {
  const UnitState state = Snapshot();
  return SaveStateFile(state, path, error);
}

std::optional<UnitState> VirtualUnit::LoadState(const std::string& path, std::string* error) {
  return LoadStateFile(path, error);
}

UnitCounters VirtualUnit::Counters() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_core.Counters();
}

uint64_t VirtualUnit::ConformanceErrors() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_core.Counters().conformanceErrors;
}

std::vector<TranscriptEntry> VirtualUnit::Transcript() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_core.Transcript();
}

void VirtualUnit::ClearTranscript() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_core.ClearTranscript();
}

void VirtualUnit::ResetCounters() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_core.ResetCounters();
  Changed();
}

bool VirtualUnit::SetTranscriptFile(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_core.SetTranscriptFile(path, error);
}

void VirtualUnit::SetFaults(const FaultSettings& faults) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_core.SetFaults(faults);
}

void VirtualUnit::SetPacing(const PacingSettings& pacing) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pacing = pacing;
}

void VirtualUnit::HangUp() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_running) {
    if (m_master >= 0) {
      m_core.RecordEvent("hang-up: cable pulled", ReadLineSettings(), Clock::now());
      m_core.CountHangUp();
    }
    CloseTerminal();
    return;
  }
  // The serving thread owns the descriptors while it polls them: it closes
  // them itself.
  const uint64_t target = m_hangUpsDone + 1;
  m_hangUpRequested = true;
  Wake();
  m_changed.wait(lock, [&] { return m_hangUpsDone >= target || !m_running; });
}

bool VirtualUnit::Reconnect(std::string* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_running) {
    if (error) *error = "the unit is not serving";
    return false;
  }
  if (m_master >= 0) return true;
  if (!OpenTerminal(error)) return false;
  m_core.RecordEvent("cable plugged in: " + m_terminalPath, ReadLineSettings(), Clock::now());
  const bool ok = RelinkAll(error);
  Wake();
  Changed();
  return ok;
}

void VirtualUnit::PowerOff() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_core.PowerOff("power switched off", ReadLineSettings(), Clock::now());
  m_pending.clear();
  Wake();
  Changed();
}

void VirtualUnit::PowerOn() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_core.PowerOn(ReadLineSettings(), Clock::now());
  Wake();
  Changed();
}

bool VirtualUnit::WaitUntil(const std::function<bool(const UnitState&, const UnitCounters&)>& condition,
                            std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return condition(m_core.View(), m_core.Counters()); });
}

}  // namespace sim
