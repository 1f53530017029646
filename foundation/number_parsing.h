#pragma once
// Number parsing that survives a decimal separator other than the program's own. Each
// function tries, in order: the text as it stands with the program's decimal separator
// (RegionalFormats, "." once SetRegionalFormats has run); the text with every occurrence
// of the environment locale's decimal separator (monetary for currency, numeric for
// floating values) replaced by the program's; the text with every "." replaced by the
// program's. The Loc functions throw ConversionError when all three fail; the DefLoc
// functions return the default instead.
//
// Accepted text: optional blanks, an optional sign, digits with at most one decimal
// separator (at least one digit in all), an optional exponent (E or e, optional sign,
// digits), optional blanks. Currency values are rounded half to even to four decimals
// and must lie within the range of the type.
//
// Thread safety: callable from any thread.

#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/currency.h"

namespace ecr {

class ConversionError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

Currency StrToCurrLoc(std::string_view s);
Currency StrToCurrDefLoc(std::string_view s, Currency defaultValue);
long double StrToFloatLoc(std::string_view s);
long double StrToFloatDefLoc(std::string_view s, long double defaultValue);

// One conversion attempt with an explicit decimal separator; false when the text is no
// number of that form.
bool TryTextToCurrency(std::string_view s, char decimalSeparator, Currency& result);
bool TryTextToFloat(std::string_view s, char decimalSeparator, long double& result);

}  // namespace ecr
