#include "platform/Clock.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <time.h>

namespace platform {

namespace {
std::atomic<uint32_t> g_sleepDivisor{1};
std::atomic<uint32_t> g_sleepFloorMs{0};
std::atomic<uint64_t> g_totalSleptMs{0};
std::mutex g_localTimeMutex;
std::optional<std::tm> g_pinnedLocalTime;

void SleepReal(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
}  // namespace

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t EffectiveSleepMs(uint32_t ms) {
  const uint32_t divisor = g_sleepDivisor.load();
  if (divisor <= 1) return ms;
  const uint32_t floorMs = g_sleepFloorMs.load();
  const uint32_t shortened = ms / divisor;
  const uint32_t kept = ms < floorMs ? ms : floorMs;
  return shortened > kept ? shortened : kept;
}

void SleepMs(uint32_t ms) {
  const uint32_t effective = EffectiveSleepMs(ms);
  g_totalSleptMs += effective;
  SleepReal(effective);
}

uint64_t TotalSleptMs() { return g_totalSleptMs.load(); }

void WaitMs(uint32_t ms) { SleepReal(ms); }

bool GetLocalTime(std::tm& out) {
  {
    std::lock_guard<std::mutex> lock(g_localTimeMutex);
    if (g_pinnedLocalTime) {
      out = *g_pinnedLocalTime;
      return true;
    }
  }
  const time_t now = time(nullptr);
  return localtime_r(&now, &out) != nullptr;
}

void SetTestSleepShortening(uint32_t divisor, uint32_t floorMs) {
  g_sleepDivisor.store(divisor == 0 ? 1 : divisor);
  g_sleepFloorMs.store(floorMs);
}

void SetTestLocalTime(const std::tm* pinned) {
  std::lock_guard<std::mutex> lock(g_localTimeMutex);
  if (pinned)
    g_pinnedLocalTime = *pinned;
  else
    g_pinnedLocalTime.reset();
}

}  // namespace platform
