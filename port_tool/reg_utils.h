#pragma once
// The registry work of the console port tool: finding the device keys of a COM port under
// HKEY_LOCAL_MACHINE\Enum and hiding or showing them by renaming. A hidden key carries the
// suffix "Removed"; the port-name code skips such keys, so a hidden port disappears from
// SERIALCOMM and can no longer be opened by name.
//
// Key paths here are relative to HKEY_LOCAL_MACHINE and begin with "ENUM\".
// Registry errors are not reported: a key that cannot be opened is not searched, and a
// move whose target exists does nothing.
//
// Threads: the tool is single-threaded; the object holds only the registry's root.

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace ecr {

class RegUtils {
 public:
  explicit RegUtils(Registry registry) : registry_(std::move(registry)) {}

  // Keys at or below StartKey (every depth) whose string value ValueName equals Target
  // without regard to case; each key once, in the order the search visits them. The three
  // strings are upper-cased first, so the paths begin with the upper-cased StartKey.
  std::vector<std::string> FindKeysByValue(std::string_view StartKey, std::string_view ValueName,
                                           std::string_view Target) const;

  // The device keys of port n: FindKeysByValue("Enum", "PORTNAME", "COM" + n).
  std::vector<std::string> PortKeyList(int n) const;

  void HideComPort(int n) const;
  void ShowComPort(int n) const;

  // A path longer than 6 characters whose last 7 are exactly "Removed".
  static bool IsHiddenKey(std::string_view Path);
  // A hidden key's path without "Removed"; any other path as it is.
  static std::string PlainKeyName(std::string_view Path);

 private:
  void Visit(const std::string& key_path, const std::string& value_name,
             const std::string& target, std::vector<std::string>& found) const;

  Registry registry_;
};

}  // namespace ecr
