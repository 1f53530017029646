#pragma once

// The 32-bit mask of served registers: the controller uses bit n - 1 for register n.
// Callers pass the bit number; it is taken modulo 32.

#include <cstdint>

namespace ecr::nc {

inline void SetMaskBit(std::uint32_t& Mask, int Bit) {
    Mask |= std::uint32_t{1} << (static_cast<unsigned>(Bit) & 31u);
}

inline void ClearMaskBit(std::uint32_t& Mask, int Bit) {
    Mask &= ~(std::uint32_t{1} << (static_cast<unsigned>(Bit) & 31u));
}

}  // namespace ecr::nc
