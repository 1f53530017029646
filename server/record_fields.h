#pragma once
// Field types of fixed-size records that go to files byte for byte: integers stored
// little-endian without alignment, and short strings of fixed capacity (a length byte,
// then up to N characters; the bytes behind the text have no meaning and are kept 0).
//
// Plain values without locking: whoever owns the record says which thread may touch it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace ecr {

template <typename T>
class LittleEndian {
  static_assert(std::is_integral_v<T>);

 public:
  constexpr LittleEndian() = default;
  constexpr LittleEndian(T value) { *this = value; }  // NOLINT: reads as the plain integer

  constexpr LittleEndian& operator=(T value) {
    using Unsigned = std::make_unsigned_t<T>;
    auto bits = static_cast<Unsigned>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      bytes_[i] = static_cast<std::uint8_t>(bits & 0xFFu);
      bits = static_cast<Unsigned>(bits >> 8);
    }
    return *this;
  }

  constexpr operator T() const {  // NOLINT: reads as the plain integer
    using Unsigned = std::make_unsigned_t<T>;
    Unsigned bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) {
      bits = static_cast<Unsigned>((bits << 8) | bytes_[i]);
    }
    return static_cast<T>(bits);
  }

 private:
  std::array<std::uint8_t, sizeof(T)> bytes_{};
};

template <std::size_t N>
class FixedShortString {
  static_assert(N >= 1 && N <= 255);

 public:
  static constexpr std::size_t kCapacity = N;

  constexpr FixedShortString() = default;
  FixedShortString(std::string_view text) { Set(text); }  // NOLINT: reads as a string

  // Keeps the first N bytes of text.
  void Set(std::string_view text) {
    const std::size_t length = std::min(text.size(), N);
    length_ = static_cast<std::uint8_t>(length);
    text_.fill(0);
    std::memcpy(text_.data(), text.data(), length);
  }
  FixedShortString& operator=(std::string_view text) {
    Set(text);
    return *this;
  }

  // A stored length above N (a foreign or damaged file) reads as N characters.
  std::string Get() const {
    return std::string(text_.data(), std::min<std::size_t>(length_, N));
  }
  operator std::string() const { return Get(); }  // NOLINT: reads as a string

  friend bool operator==(const FixedShortString& a, std::string_view b) { return a.Get() == b; }

 private:
  std::uint8_t length_ = 0;
  std::array<char, N> text_{};
};

}  // namespace ecr
