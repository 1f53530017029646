#pragma once
// Broken-down local time, as the log's time stamps and the programs' date texts need it.
//
// Thread safety: safe from any thread (localtime_r).

#include <ctime>

namespace ecr {

struct LocalTime {
  int Year = 0;       // four digits, e.g. 2026
  int Month = 0;      // 1..12
  int Day = 0;        // 1..31
  int Hour = 0;       // 0..23
  int Minute = 0;     // 0..59
  int Second = 0;     // 0..60
  int Millisecond = 0;
  int DayOfWeek = 0;  // 0 Sunday .. 6 Saturday
};

LocalTime LocalTimeNow();
LocalTime LocalTimeAt(std::time_t when);

}  // namespace ecr
