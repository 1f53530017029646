#include "platform/tick_count.h"

#include <ctime>

namespace ecr {

std::uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
  return static_cast<std::uint32_t>(ms);
}

std::uint32_t TicksSince(std::uint32_t base) { return ElapsedTicks(base, TickCount()); }

}  // namespace ecr
