#pragma once
// Helpers for text fields in short strings: a field is the text before its terminating
// separator, and every field, the last one included, is followed by it ("1;2.50;ABC;"
// holds three fields). A trailing piece without a separator is no field. Field numbers
// count from 1 and go up to 255; a number outside that range throws std::out_of_range.
//
// Thread safety: pure functions, callable from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace ecr {

inline constexpr std::size_t kShortStringMax = 255;

// Field n of s; empty when s holds fewer than n separators.
std::string GetField(std::string_view s, int n, char sep = ';');
// Field n of s, removed from s together with its separator; when s holds fewer than n
// separators, returns an empty string and leaves s unchanged.
std::string CutField(std::string& s, int n, char sep = ';');
// Makes value field n of s: inserts value + ";" where field n starts, or appends it when
// s has no field n to insert before. The result is cut to 255 bytes.
void InsertField(std::string& s, std::string_view value, int n);
// s without any blank (' ').
std::string RemoveSpaces(std::string_view s);

}  // namespace ecr
