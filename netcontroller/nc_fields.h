#pragma once

// The ";"-terminated Payload fields with the separator fixed to ";". A field is the text
// before its ";"; a trailing piece without ";" is no field. Field numbers count from 1; a
// number of 0 is outside the range and throws std::out_of_range.
//
// Pure functions without state: any thread may call them.

#include <cstddef>
#include <string>
#include <string_view>

namespace ecr::nc {

// Field N of S, or "" when S has fewer than N ";".
std::string GetField(std::string_view S, std::size_t N);

// Field N of S, removed together with its ";"; "" and S unchanged when S has fewer than N ";".
std::string CutField(std::string& S, std::size_t N);

// Value + ";" inserted where field N starts, or appended when field N does not start inside
// S; the result is cut to 255 bytes.
void InsertField(std::string& S, std::string_view Value, std::size_t N);

}  // namespace ecr::nc
