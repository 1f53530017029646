#include "foundation/number_parsing.h"

#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "foundation/regional_formats.h"
#include "platform/locale_separators.h"

namespace ecr {

namespace {

// A number split into its parts: value = digits * 10^exponent.
struct DecimalText {
  bool negative = false;
  std::string digits;     // without leading zeros; empty for zero
  long exponent = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool SplitDecimal(std::string_view s, char separator, DecimalText& out) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  if (i < n && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';
  bool anyDigit = false;
  long fractionDigits = 0;
  bool seenSeparator = false;
  for (; i < n; ++i) {
    const char c = s[i];
    if (IsDigit(c)) {
      anyDigit = true;
      if (!(out.digits.empty() && c == '0')) out.digits += c;
      if (seenSeparator) ++fractionDigits;
    } else if (c == separator && !seenSeparator) {
      seenSeparator = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return false;
  long exponent = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negativeExponent = s[i++] == '-';
    if (i >= n || !IsDigit(s[i])) return false;
    for (; i < n && IsDigit(s[i]); ++i) {
      // Saturate: beyond this every value overflows or vanishes anyway.
      if (exponent < 1'000'000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  while (i < n && IsBlank(s[i])) ++i;
  if (i != n) return false;
  out.exponent = exponent - fractionDigits;
  return true;
}

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

std::string ReplaceIgnoringCase(std::string_view s, std::string_view from, char to) {
  if (from.empty()) return std::string(s);
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  std::string result;
  for (std::size_t i = 0; i < s.size();) {
    bool match = i + from.size() <= s.size();
    for (std::size_t k = 0; match && k < from.size(); ++k) match = lower(s[i + k]) == lower(from[k]);
    if (match) {
      result += to;
      i += from.size();
    } else {
      result += s[i++];
    }
  }
  return result;
}

template <typename Value, typename Try>
bool ThreeAttempts(std::string_view s, const std::string& localeSeparator, Try attempt, Value& result) {
  const char own = CurrentRegionalFormats().DecimalSeparator;
  if (attempt(s, own, result)) return true;
  if (attempt(ReplaceIgnoringCase(s, localeSeparator, own), own, result)) return true;
  return attempt(ReplaceIgnoringCase(s, ".", own), own, result);
}

}  // namespace

bool TryTextToCurrency(std::string_view s, char decimalSeparator, Currency& result) {
  DecimalText text;
  if (!SplitDecimal(s, decimalSeparator, text)) return false;
  const std::uint64_t limit = text.negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  // Scaled value = digits * 10^(exponent + 4), rounded half to even.
  const long shift = text.exponent + 4;
  std::string kept = text.digits;
  std::string dropped;
  if (shift < 0) {
    const auto drop = static_cast<std::size_t>(-shift);
    if (drop > kept.size()) {
      // Every digit lies below the half of the last kept decimal: the value rounds to 0.
      kept.clear();
    } else if (drop == kept.size()) {
      dropped = kept;
      kept.clear();
    } else {
      dropped = kept.substr(kept.size() - drop);
      kept.resize(kept.size() - drop);
    }
  } else if (!kept.empty()) {
    if (shift > 19) return false;
    kept.append(static_cast<std::size_t>(shift), '0');
  }
  std::uint64_t magnitude = 0;
  for (const char c : kept) {
    if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
        __builtin_add_overflow(magnitude, static_cast<unsigned>(c - '0'), &magnitude) || magnitude > limit)
      return false;
  }
  if (!dropped.empty()) {
    const char first = dropped.front();
    const bool restNonZero = dropped.find_first_not_of('0', 1) != std::string::npos;
    const bool up = first > '5' || (first == '5' && (restNonZero || (magnitude & 1u) != 0));
    if (up && ++magnitude > limit) return false;
  }
  const std::int64_t scaled = text.negative ? static_cast<std::int64_t>(~magnitude + 1u)
                                            : static_cast<std::int64_t>(magnitude);
  result = Currency::FromScaled(scaled);
  return true;
}

bool TryTextToFloat(std::string_view s, char decimalSeparator, long double& result) {
  DecimalText text;
  if (!SplitDecimal(s, decimalSeparator, text)) return false;
  // Rebuild the number in the C locale's notation and let the C library round it.
  std::string normal = text.negative ? "-" : "";
  normal += text.digits.empty() ? "0" : text.digits;
  normal += "e" + std::to_string(text.exponent);
  errno = 0;
  char* end = nullptr;
  const long double value = strtold_l(normal.c_str(), &end, CLocale());
  if (end == normal.c_str() || *end != '\0') return false;
  if (errno == ERANGE && std::isinf(value)) return false;
  result = value;
  return true;
}

Currency StrToCurrLoc(std::string_view s) {
  Currency result;
  if (!ThreeAttempts(s, LocaleMonetaryDecimalSeparator(), TryTextToCurrency, result))
    throw ConversionError("'" + std::string(s) + "' is not a valid currency value");
  return result;
}

Currency StrToCurrDefLoc(std::string_view s, Currency defaultValue) {
  Currency result;
  return ThreeAttempts(s, LocaleMonetaryDecimalSeparator(), TryTextToCurrency, result) ? result : defaultValue;
}

long double StrToFloatLoc(std::string_view s) {
  long double result = 0;
  if (!ThreeAttempts(s, LocaleDecimalSeparator(), TryTextToFloat, result))
    throw ConversionError("'" + std::string(s) + "' is not a valid floating point value");
  return result;
}

long double StrToFloatDefLoc(std::string_view s, long double defaultValue) {
  long double result = 0;
  return ThreeAttempts(s, LocaleDecimalSeparator(), TryTextToFloat, result) ? result : defaultValue;
}

}  // namespace ecr
