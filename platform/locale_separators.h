#pragma once
// The decimal separators of the environment's locale (LC_ALL, LC_NUMERIC / LC_MONETARY,
// LANG), as the system's locale settings would give them - independent of the process's
// current C locale, which the programs fix to "." at start.
//
// Thread safety: safe from any thread (the locale is switched only for the calling thread).

#include <string>

namespace ecr {

// The number decimal separator (LC_NUMERIC); "." when the locale cannot be loaded.
std::string LocaleDecimalSeparator();
// The monetary decimal separator (LC_MONETARY); "." when the locale cannot be loaded or
// names none.
std::string LocaleMonetaryDecimalSeparator();

}  // namespace ecr
