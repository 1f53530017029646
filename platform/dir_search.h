#pragma once

// Directory search with a wildcard pattern, matched without regard to ASCII case as the
// programs' original file system did: "*" stands for any run of bytes, "?" for one byte.
// Only regular files (or links to them) are listed; the order is by name, byte for byte,
// so that the "first match" is the same on every run.
//
// Safe from any thread.

#include <string>
#include <string_view>
#include <vector>

namespace ecr {

// The names (without folder) of the files in `folder` that match `pattern`; empty when the
// folder cannot be read.
std::vector<std::string> FindMatchingFiles(const std::string& folder, std::string_view pattern);

bool WildcardMatchNoCase(std::string_view name, std::string_view pattern);

}  // namespace ecr
