#pragma once
// Rules for the names of the registry stand-in's keys and values, shared by the registry
// and by the code that builds device trees aside before putting them in place.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

// The file that holds a key's default value.
inline constexpr std::string_view kDefaultValueFileName = "@";
// Files and folders with this prefix are work in progress of a writer; they are neither
// keys nor values and never listed.
inline constexpr std::string_view kRegistryWorkPrefix = ".~ecr-work-";

bool IsRegistryWorkName(std::string_view name);
// Not empty, not "." or "..", no "/" and no NUL byte.
bool IsValidRegistryName(std::string_view name);
// The components of a "\"-separated path, empty ones dropped; std::nullopt when a
// component is not a valid name.
std::optional<std::vector<std::string>> SplitRegistryPath(std::string_view path);
// Sorts without regard to case, ties by the exact bytes, so the order is always the same.
void SortRegistryNames(std::vector<std::string>& names);

}  // namespace ecr
