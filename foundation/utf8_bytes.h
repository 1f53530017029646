#pragma once
// Text that a fixed-size record field keeps as UTF-8 bytes (the passwords of the settings
// records, for one). A field of n bytes keeps the longest run of whole characters that
// fits: four Cyrillic letters (two bytes each) in a field of 9.
//
// Thread safety: a pure function, callable from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace ecr {

// text cut to at most maxBytes bytes, never inside a UTF-8 sequence: a character that
// would not fit whole is left out, and everything after it.
std::string CutUtf8ToBytes(std::string_view text, std::size_t maxBytes);

}  // namespace ecr
