#include "port_tool/reg_utils.h"

#include <algorithm>
#include <optional>

namespace ecr {

namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr std::string_view kHiddenSuffix = "Removed";

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return upper;
}

bool Contains(const std::vector<std::string>& list, std::string_view path) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& entry) { return RegistryNamesEqual(entry, path); });
}

}  // namespace

std::vector<std::string> RegUtils::FindKeysByValue(std::string_view StartKey,
                                                   std::string_view ValueName,
                                                   std::string_view Target) const {
  std::vector<std::string> found;
  Visit(UpperAscii(StartKey), UpperAscii(ValueName), UpperAscii(Target), found);
  return found;
}

void RegUtils::Visit(const std::string& key_path, const std::string& value_name,
                     const std::string& target, std::vector<std::string>& found) const {
  std::optional<RegistryKey> key = registry_.OpenKey(kMachine, key_path);
  if (!key) return;
  if (!key->ValueNames().empty()) {
    std::optional<std::string> value = key->ReadString(value_name);
    if (value && UpperAscii(*value) == target && !Contains(found, key_path))
      found.push_back(key_path);
  }
  for (const std::string& subkey : key->SubkeyNames())
    Visit(key_path + "\\" + subkey, value_name, target, found);
}

std::vector<std::string> RegUtils::PortKeyList(int n) const {
  return FindKeysByValue("Enum", "PORTNAME", "COM" + std::to_string(n));
}

void RegUtils::HideComPort(int n) const {
  const std::vector<std::string> keys = PortKeyList(n);
  for (const std::string& key : keys) {
    if (IsHiddenKey(key)) continue;
    const std::string hidden = key + std::string(kHiddenSuffix);
    if (Contains(keys, hidden)) registry_.DeleteKey(kMachine, hidden);
    registry_.MoveKey(kMachine, key, hidden);
  }
}

void RegUtils::ShowComPort(int n) const {
  const std::vector<std::string> keys = PortKeyList(n);
  for (const std::string& key : keys) {
    if (!IsHiddenKey(key)) continue;
    const std::string plain = PlainKeyName(key);
    if (Contains(keys, plain)) {
      // The visible twin is already there: the hidden copy goes, and the rest of the list
      // is left as it is.
      registry_.DeleteKey(kMachine, key);
      return;
    }
    registry_.MoveKey(kMachine, key, plain);
  }
}

bool RegUtils::IsHiddenKey(std::string_view Path) {
  return Path.size() > 6 && Path.ends_with(kHiddenSuffix);
}

std::string RegUtils::PlainKeyName(std::string_view Path) {
  if (!IsHiddenKey(Path)) return std::string(Path);
  return std::string(Path.substr(0, Path.size() - kHiddenSuffix.size()));
}

}  // namespace ecr
