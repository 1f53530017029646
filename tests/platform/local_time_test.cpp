#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ecr {
namespace {

// Fixes the time zone for one test and restores the caller's afterwards.
class FixedTimeZone {
 public:
  explicit FixedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~FixedTimeZone() {
    if (had_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(LocalTime, BreaksATimeDownInTheLocalZone) {
  const FixedTimeZone zone("XYZ-2");  // two hours east of UTC, no daylight saving
  // 2026-12-09 06:42:40 UTC is 08:42:40 local time, a Wednesday.
  const LocalTime t = LocalTimeAt(1796798560);
  EXPECT_EQ(t.Year, 2026);
  EXPECT_EQ(t.Month, 12);
  EXPECT_EQ(t.Day, 9);
  EXPECT_EQ(t.Hour, 8);
  EXPECT_EQ(t.Minute, 42);
  EXPECT_EQ(t.Second, 40);
  EXPECT_EQ(t.DayOfWeek, 3);
}

TEST(LocalTime, NowIsTheCurrentTime) {
  const auto same = [](const LocalTime& a, const LocalTime& b) {
    return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour && a.Minute == b.Minute &&
           a.Second == b.Second;
  };
  // The clock LocalTimeNow reads: std::time may read the system's coarse clock, which lags
  // it by up to a tick, and would put `before` a second behind the moment read.
  const auto realTime = [] {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
  };
  const std::time_t before = realTime();
  const LocalTime now = LocalTimeNow();
  const std::time_t after = realTime();
  EXPECT_TRUE(same(now, LocalTimeAt(before)) || same(now, LocalTimeAt(after)));
  EXPECT_GE(now.Millisecond, 0);
  EXPECT_LT(now.Millisecond, 1000);
}

}  // namespace
}  // namespace ecr
