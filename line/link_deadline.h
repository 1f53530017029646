#pragma once
// A deadline of the register link: a base tick and a span in milliseconds; it has passed
// once more than `span` ms have gone by since `base`. The difference is taken in 32-bit
// arithmetic and read as signed, so a deadline stays right when the tick counter wraps
// (after 2^32 ms) and when the base lies a moment in the future (a base that includes the
// transmit time of bytes still on their way).
//
// Plain value type.

#include <cstdint>
#include <limits>

namespace ecr {

struct LinkDeadline {
  std::uint32_t base = 0;
  std::uint32_t span = 0;

  bool PassedAt(std::uint32_t now) const {
    const auto elapsed = static_cast<std::int32_t>(now - base);
    const std::uint32_t limit = span > kMaxSpan ? kMaxSpan : span;
    return elapsed > static_cast<std::int32_t>(limit);
  }

  static constexpr std::uint32_t kMaxSpan = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
};

}  // namespace ecr
