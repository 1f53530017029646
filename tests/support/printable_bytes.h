#pragma once
// Raw bytes as a line a person can read, for the emulators' and demonstration clients'
// transcripts. Pure function without state: any thread may call it.

#include <string>
#include <string_view>

namespace ecr::support {

// Printable ASCII as it is; every other byte as \xNN (two upper-case hex digits).
std::string Printable(std::string_view bytes);

}  // namespace ecr::support
