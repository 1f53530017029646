#pragma once
// The block checksum of the register link: 16 bits, polynomial 0x8001 (x^16 + x^15 + 1),
// initial value 0, most significant bit first, not reflected, no final XOR, sent high byte
// first. "abc" gives 0xBC3C, "abc" followed by CR gives 0x3CDE.
//
// Thread safety: pure functions, callable from any thread.

#include <cstdint>
#include <string_view>

namespace ecr {

// Shifts the byte's eight bits, most significant first, into the register; whenever a 1
// leaves bit 15 the register is XORed with 0x8001.
std::uint16_t LinkCrcStep(std::uint16_t crc, std::uint8_t byte);

// The CRC of the text: the steps over every byte, then over two zero bytes. So a receiver
// that steps over the text and then the two CRC bytes ends with a register of 0.
std::uint16_t LinkCrc16(std::string_view text);

}  // namespace ecr
