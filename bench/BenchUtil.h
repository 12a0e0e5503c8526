// Small helpers shared by the benchmarks.
#pragma once

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace bench {

inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Prints median, 90th and 99th percentile and maximum of samples (ms).
inline void PrintDistribution(const char* what, std::vector<double> samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))]; };
  std::printf("%-48s median %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms  (n=%zu)\n", what, at(0.5), at(0.9),
              at(0.99), samples.back(), samples.size());
}

}  // namespace bench
