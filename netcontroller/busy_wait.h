#pragma once

// A wait that spins on the tick count without yielding or handling events. Only the search
// for the network controller uses it, for the few milliseconds between its probes.
//
// Any thread may call it; it blocks the caller for the whole wait.

#include <cstdint>

namespace ecr::nc {

// Returns once the tick count has advanced by at least Milliseconds. The elapsed time is
// measured in unsigned 32-bit arithmetic, so a wrap of the tick count during the wait does
// not end it early or make it endless.
void BusyWait(std::uint32_t Milliseconds);

}  // namespace ecr::nc
