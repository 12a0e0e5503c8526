// Clock of the platform layer: monotonic milliseconds for deadlines, the fixed
// waits of the protocol, and the local date and time of day.
//
// Installer code never calls the operating system's clocks or sleep directly.
// Tests may shorten the fixed waits (SleepMs) and pin the local time; deadlines
// (MonotonicMs, WaitMs) are never shortened.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Milliseconds from a monotonic clock; only differences are meaningful.
int64_t MonotonicMs();

// A fixed wait prescribed by the protocol (a pause that gives the unit time to
// follow). Tests may run it shortened, see SetTestSleepShortening.
void SleepMs(uint32_t ms);

// Blocks for exactly ms on the real clock; used to sit out a deadline when
// there is no device to wait on. Never shortened.
void WaitMs(uint32_t ms);

// The local date and time now (or the test's pinned time). False when the
// local time cannot be formed.
bool GetLocalTime(std::tm& out);

// --- test clock -----------------------------------------------------------
// SleepMs(ms) becomes max(ms / divisor, min(ms, floorMs)). A divisor of 1
// restores real waits. Short waits stay as they are, so the protocol's
// wake-up pauses and answer waits keep their meaning on a loaded machine.
void SetTestSleepShortening(uint32_t divisor, uint32_t floorMs);
// What SleepMs(ms) currently waits.
uint32_t EffectiveSleepMs(uint32_t ms);
// The milliseconds all SleepMs calls of the process have waited so far (for
// benchmarks that separate the protocol's fixed waits from the rest).
uint64_t TotalSleptMs();
// Pins the local time returned by GetLocalTime; nullptr returns to the real
// clock. The pinned time does not advance.
void SetTestLocalTime(const std::tm* pinned);

}  // namespace platform
