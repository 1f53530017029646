#include "platform/tick_count.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace ecr {
namespace {

TEST(TickCount, ElapsedTimeIsRightAcrossTheWrap) {
  struct Case {
    std::uint32_t base, now, elapsed;
  };
  const Case cases[] = {
      {1000, 1050, 50},
      {0xFFFFFFF0u, 0x00000010u, 0x20},
      {0xFFFFFFFFu, 0u, 1},
      {5, 5, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ElapsedTicks(c.base, c.now), c.elapsed) << c.base << " -> " << c.now;
}

TEST(TickCount, CountsMillisecondsOfTheMonotonicClock) {
  const std::uint32_t base = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const std::uint32_t elapsed = TicksSince(base);
  EXPECT_GE(elapsed, 60u);
  EXPECT_LT(elapsed, 5000u);  // generous: the machine may be loaded
}

}  // namespace
}  // namespace ecr
