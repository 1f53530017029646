#include "netcontroller/requests/block_fields.h"

#include <locale.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <limits>

#include "netcontroller/nc_fields.h"
#include "server/decimal_integer.h"

namespace ecr::nc {

std::int64_t IntegerOr(std::string_view text, std::int64_t fallback) {
  const auto value = DecimalIntegerIn(text, std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::max());
  return value ? *value : fallback;
}

std::int64_t FieldInteger(std::string_view text, std::size_t n) { return IntegerOr(GetField(text, n), 0); }

std::string FormatFixed(long double value, int decimals) {
  // Room for every double in fixed notation: a large amount is written whole. Written in a
  // C locale of our own: the program's locale may use another decimal point.
  static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
  char formatted[400];
  const locale_t previous = uselocale(cLocale);
  std::snprintf(formatted, sizeof formatted, "%.*f", decimals, static_cast<double>(value));
  uselocale(previous);
  return formatted;
}

bool HasField(std::string_view text, std::size_t n) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) >= n;
}

void ZeroIfEmpty(std::string& text, std::size_t n) {
  if (!HasField(text, n) || !GetField(text, n).empty()) return;
  CutField(text, n);
  InsertField(text, "0", n);
}

}  // namespace ecr::nc
