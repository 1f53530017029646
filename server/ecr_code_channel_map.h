#pragma once
// Which SET of a register receives a message with a given message code (1, 9, 11 or 13);
// 0 for a code that no SET receives. The line asks it before acknowledging a register's
// message, so that a message is taken only while someone can receive it.
//
// Constant data: any thread.

#include <array>
#include <cstdint>

namespace ecr {

inline constexpr std::array<std::uint8_t, 256> EcrCodeChannelMap = [] {
  std::array<std::uint8_t, 256> map{};
  for (unsigned char code : {'0', '1', '2', '3', '7', ';', 'B', 'C', 'F', 'G'}) map[code] = 1;
  map[static_cast<unsigned char>('4')] = 11;
  for (unsigned char code : {'5', '6', 'A'}) map[code] = 13;
  for (unsigned char code : {'8', '9', 'D', 'E'}) map[code] = 9;
  return map;
}();

}  // namespace ecr
