#include "line/link_crc.h"

namespace ecr {

std::uint16_t LinkCrcStep(std::uint16_t crc, std::uint8_t byte) {
  for (int bit = 7; bit >= 0; --bit) {
    const bool carry = (crc & 0x8000u) != 0;
    crc = static_cast<std::uint16_t>((crc << 1) | ((byte >> bit) & 1u));
    if (carry) crc ^= 0x8001u;
  }
  return crc;
}

std::uint16_t LinkCrc16(std::string_view text) {
  std::uint16_t crc = 0;
  for (const char c : text) crc = LinkCrcStep(crc, static_cast<std::uint8_t>(c));
  crc = LinkCrcStep(crc, 0);
  return LinkCrcStep(crc, 0);
}

}  // namespace ecr
