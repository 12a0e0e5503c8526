#include "platform/Clock.h"

#include <gtest/gtest.h>

TEST(Clock, TestShorteningKeepsShortWaitsAndNeverTouchesDeadlines) {
  struct Case {
    uint32_t ms, expected;
  };
  platform::SetTestSleepShortening(10, 50);
  for (const Case c : {Case{20, 20}, Case{45, 45}, Case{50, 50}, Case{450, 50}, Case{500, 50}, Case{3000, 300},
                       Case{10000, 1000}})
    EXPECT_EQ(platform::EffectiveSleepMs(c.ms), c.expected) << c.ms;
  const int64_t t0 = platform::MonotonicMs();
  platform::SleepMs(3000);
  const int64_t slept = platform::MonotonicMs() - t0;
  EXPECT_GE(slept, 300);
  EXPECT_LT(slept, 2500);
  platform::SetTestSleepShortening(1, 0);
  EXPECT_EQ(platform::EffectiveSleepMs(3000), 3000u);
}

TEST(Clock, LocalTimeCanBePinned) {
  std::tm pinned{};
  pinned.tm_year = 2026 - 1900;
  pinned.tm_mon = 11;
  pinned.tm_mday = 13;
  pinned.tm_wday = 0;
  pinned.tm_hour = 23;
  platform::SetTestLocalTime(&pinned);
  std::tm now{};
  ASSERT_TRUE(platform::GetLocalTime(now));
  EXPECT_EQ(now.tm_mday, 13);
  EXPECT_EQ(now.tm_hour, 23);
  platform::SetTestLocalTime(nullptr);
  ASSERT_TRUE(platform::GetLocalTime(now));
  EXPECT_GT(now.tm_year, 100);
}
