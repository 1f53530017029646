#pragma once
// The 13-byte Block of every reply to a fiscal question of a register: which notification
// id and sequence number the answer belongs to, and which register message asked for it.
// Little-endian, without padding.
//
// Plain value type: any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

  // The reference a reply's Block carries; nothing when the Block is not 13 bytes long.
  static std::optional<ReceiptRef> Decode(std::string_view bytes) {
    if (bytes.size() != kSize) return std::nullopt;
    const auto get = [bytes](std::size_t offset) {
      std::uint32_t value = 0;
      for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
      return static_cast<std::int32_t>(value);
    };
    return ReceiptRef{get(0), get(4), get(8), static_cast<std::uint8_t>(bytes[12])};
  }
};

}  // namespace ecr
