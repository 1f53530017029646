#pragma once
// The 13-byte Block of every reply to a fiscal question of a register: which notification
// id and sequence number the answer belongs to, and which register message asked for it.
// Little-endian, without padding.
//
// Plain value type: any thread.

#include <cstdint>
#include <string>

namespace ecr {

struct ReceiptRef {
  std::int32_t NotifyId = 0;
  std::int32_t Sequence = 0;
  std::int32_t SerialNumber = 0;
  std::uint8_t MessageNumber = 0;

  static constexpr std::size_t kSize = 13;

  std::string Encode() const {
    std::string bytes;
    bytes.reserve(kSize);
    const auto put = [&bytes](std::uint32_t value, int width) {
      for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
    };
    put(static_cast<std::uint32_t>(NotifyId), 4);
    put(static_cast<std::uint32_t>(Sequence), 4);
    put(static_cast<std::uint32_t>(SerialNumber), 4);
    put(MessageNumber, 1);
    return bytes;
  }
};

}  // namespace ecr
