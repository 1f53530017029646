#pragma once
// The integer value of a register's text field: an optional sign and decimal digits,
// nothing else (no blanks, no point). Fields of register blocks and of client payloads are
// read through it wherever a number must be told from text that is none.
//
// Pure functions: any thread.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ecr {

inline std::optional<std::int64_t> DecimalInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || last != end) return std::nullopt;
  return value;
}

// The value when it lies within [low, high]; std::nullopt otherwise.
inline std::optional<std::int64_t> DecimalIntegerIn(std::string_view text, std::int64_t low, std::int64_t high) {
  const std::optional<std::int64_t> value = DecimalInteger(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

}  // namespace ecr
