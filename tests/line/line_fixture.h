#pragma once
// A serial register line on the register emulator's pseudo-terminal, logging into a file of
// its own temporary folder.

#include <gtest/gtest.h>
#include <sys/resource.h>

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

// What a loaded machine may add to a wait of the line beyond its specified time: the 10 ms
// read slot and the scheduling of the threads involved (other builds run beside the tests).
// Every wait is bounded from above by its specified time plus this margin.
constexpr long long kSchedulingMarginMs = 150;

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
