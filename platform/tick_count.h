#pragma once
// The tick count: milliseconds of the monotonic clock, kept as a 32-bit value that wraps
// after about 49.7 days. Deadlines are measured as the elapsed time TicksSince(base),
// computed in unsigned 32-bit arithmetic, so they stay right across the wrap.
//
// Thread safety: both functions may be called from any thread.

#include <cstdint>

namespace ecr {

std::uint32_t TickCount();

// Milliseconds from `base` (an earlier TickCount()) to now, modulo 2^32.
inline std::uint32_t ElapsedTicks(std::uint32_t base, std::uint32_t now) { return now - base; }
std::uint32_t TicksSince(std::uint32_t base);

}  // namespace ecr
