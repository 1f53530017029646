#pragma once
// The currency type: signed 64-bit fixed point with four decimals (value * 10000), the
// exact type in which the programs compare amounts.
//
// Thread safety: a plain value type.

#include <compare>
#include <cstdint>
#include <string>

namespace ecr {

class Currency {
 public:
  static constexpr std::int64_t kScale = 10'000;

  constexpr Currency() = default;
  static constexpr Currency FromScaled(std::int64_t scaled) {
    Currency c;
    c.scaled_ = scaled;
    return c;
  }
  static constexpr Currency FromUnits(std::int64_t units) { return FromScaled(units * kScale); }

  constexpr std::int64_t Scaled() const { return scaled_; }
  long double ToLongDouble() const { return static_cast<long double>(scaled_) / kScale; }
  double ToDouble() const { return static_cast<double>(ToLongDouble()); }
  // Plain decimal text with "." and four decimals, e.g. "-12.5000".
  std::string ToString() const;

  friend constexpr auto operator<=>(Currency, Currency) = default;
  friend constexpr bool operator==(Currency, Currency) = default;

 private:
  std::int64_t scaled_ = 0;
};

}  // namespace ecr
