#pragma once

// Number helpers of the network-controller server: amounts read from text, and the decimal
// point put into or taken out of a number text.
//
// Pure functions: any thread may call them.

#include <cstddef>
#include <string>
#include <string_view>

namespace ecr::nc {

// S read as a currency amount (blanks around it allowed, optional sign, "." as the decimal
// point, optional exponent), rounded to four decimals. When that fails, every occurrence of
// the system locale's number decimal separator in S is replaced by "." and S is read again;
// when that fails too, Default.
long double StrToAmountDef(std::string_view S, long double Default);

// The same with the system locale's separator given (at most four bytes are used).
long double StrToAmountDef(std::string_view S, long double Default,
                           std::string_view systemDecimalSeparator);

// Unchanged when S holds a "."; otherwise "." put before its last N characters (at the
// front when S has N or fewer). Cut to 255 bytes.
std::string InsertDecimalPoint(std::string_view S, std::size_t N);

// S without its first ".".
std::string RemoveDecimalPoint(std::string_view S);

}  // namespace ecr::nc
