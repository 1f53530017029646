#pragma once
// Reading and rewriting the numbers in ";"-terminated register blocks and client Payloads
// as the request processing does: integers without a default are 0, amounts are read with
// "." (StrToAmountDef), and numbers go back into a text with "." as the decimal point.
//
// Pure functions: any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ecr::nc {

// text as a decimal integer (optional sign, digits only, within the 32-bit range), else
// fallback.
std::int64_t IntegerOr(std::string_view text, std::int64_t fallback);
// Field n of text as an integer, 0 when it is none.
std::int64_t FieldInteger(std::string_view text, std::size_t n);

// value written with `decimals` decimals and "." as the point ("%.2f", "%.3f").
std::string FormatFixed(long double value, int decimals);

// True when text has at least n ";", so that field n exists.
bool HasField(std::string_view text, std::size_t n);
// An existing empty field n becomes "0".
void ZeroIfEmpty(std::string& text, std::size_t n);

}  // namespace ecr::nc
