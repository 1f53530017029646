#include "platform/local_time.h"

namespace ecr {

namespace {

LocalTime FromTm(const std::tm& tm, int millisecond) {
  LocalTime t;
  t.Year = tm.tm_year + 1900;
  t.Month = tm.tm_mon + 1;
  t.Day = tm.tm_mday;
  t.Hour = tm.tm_hour;
  t.Minute = tm.tm_min;
  t.Second = tm.tm_sec;
  t.Millisecond = millisecond;
  t.DayOfWeek = tm.tm_wday;
  return t;
}

}  // namespace

LocalTime LocalTimeAt(std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  return FromTm(tm, 0);
}

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm{};
  localtime_r(&now.tv_sec, &tm);
  return FromTm(tm, static_cast<int>(now.tv_nsec / 1'000'000));
}

}  // namespace ecr
