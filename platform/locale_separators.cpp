#include "platform/locale_separators.h"

#include <clocale>
#include <locale.h>

#include <string_view>

namespace ecr {

namespace {

// Loads the environment's locale for one category and reads one field of its
// localeconv() while that locale is in force on the calling thread only.
std::string ReadSeparator(int categoryMask, bool monetary) {
  locale_t loc = newlocale(categoryMask, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return ".";
  const locale_t previous = uselocale(loc);
  const lconv* conv = localeconv();
  const std::string_view field = monetary ? conv->mon_decimal_point : conv->decimal_point;
  // The callers look for at most four characters.
  std::string separator(field.substr(0, 4));
  uselocale(previous);
  freelocale(loc);
  return separator.empty() ? std::string(1, '.') : separator;
}

}  // namespace

std::string LocaleDecimalSeparator() { return ReadSeparator(LC_NUMERIC_MASK, false); }
std::string LocaleMonetaryDecimalSeparator() { return ReadSeparator(LC_MONETARY_MASK, true); }

}  // namespace ecr
