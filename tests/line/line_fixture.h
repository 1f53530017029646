#pragma once
// A serial register line on the register emulator's pseudo-terminal, logging into a file of
// its own temporary folder.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <string>

#include "foundation/log_file.h"
#include "line/simple_com_object.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

inline long long MillisecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// What a wait of the line may last beyond its specified time: the 10 ms read slot in which
// the line notices that its deadline passed, whole milliseconds of the tick, and what a
// loaded machine adds to the least of a few measurements (see LeastOfTries).
constexpr long long kSchedulingMarginMs = 30;

// Scheduling noise on a loaded machine only ever adds time to a wait measured from a moment
// before it began, and seldom much to each of a few tries in a row. So a ceiling bounds the
// least of up to `tries` measurements: `measure` runs until one comes within `ceilingMs`
// (checking on every run what noise cannot break: results, lower bounds). Returns the least
// measurement.
inline long long LeastOfTries(long long ceilingMs, const std::function<long long()>& measure, int tries = 5) {
  long long least = measure();
  for (int run = 1; run < tries && least > ceilingMs; ++run) least = std::min(least, measure());
  return least;
}

// For states that announce themselves nowhere: tests them every 10 ms.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  while (!condition()) {
    if (SteadyClock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// User and system CPU time of this process so far.
inline long long ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

class LineOnEmulator : public ::testing::Test {
 protected:
  explicit LineOnEmulator(std::uint32_t baud = 9600) : log_(dir_.File("line.log")) {
    log_.Open();
    line_.SetLog(log_);
    line_.PortName = emulator_.PortPath();
    line_.SetBaudRate(baud);
  }

  void OpenLine() { line_.Open(); }
  std::string LogText() const { return ReadWholeFile(dir_.File("line.log")); }

  TempDir dir_;
  LogFile log_;
  RegisterEmulator emulator_;
  TSimpleComObject line_;
};

}  // namespace ecr
