#include "platform/registry_names.h"

#include <algorithm>

#include "platform/registry.h"

namespace ecr {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// The registry orders names by their upper-case spelling, so "AB" comes before "A_B".
bool UpperLess(char x, char y) {
  const auto upper = [](char c) {
    return static_cast<unsigned char>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
  };
  return upper(x) < upper(y);
}

}  // namespace

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsRegistryWorkName(std::string_view name) { return name.starts_with(kRegistryWorkPrefix); }

bool IsValidRegistryName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<std::vector<std::string>> SplitRegistryPath(std::string_view path) {
  std::vector<std::string> components;
  while (!path.empty()) {
    const std::size_t separator = path.find('\\');
    const std::string_view component = path.substr(0, separator);
    if (!component.empty()) {
      if (!IsValidRegistryName(component)) return std::nullopt;
      components.emplace_back(component);
    }
    if (separator == std::string_view::npos) break;
    path.remove_prefix(separator + 1);
  }
  return components;
}

void SortRegistryNames(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const bool less_folded = std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        UpperLess);
    if (less_folded) return true;
    const bool greater_folded = std::lexicographical_compare(
        b.begin(), b.end(), a.begin(), a.end(),
        UpperLess);
    return !greater_folded && a < b;
  });
}

}  // namespace ecr
