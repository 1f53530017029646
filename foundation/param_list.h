#pragma once
// Command-line parameters as NAME:VALUE items. Each argument loses one leading "-" or,
// failing that, one leading "/"; the part before the first ":" is the name (upper case),
// everything after it the value (further ":" included); without ":" the whole rest is the
// name and the value is empty. An empty argument gives an item with empty name and value.
// Duplicates stay; FindParam returns the first.
//
// Thread safety: fill a list on one thread; afterwards it may be read from any thread.
// ParamList() is filled once, thread-safely, on first use.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

struct TParItem {
  std::string Name;   // upper case
  std::string Value;  // as typed
};

class TParamList {
 public:
  // Clears the list and fills it from `arguments` (the program name not included).
  void ParseCommandLine(std::span<const std::string> arguments);
  void ParseCommandLine(int argc, const char* const* argv);  // argv[0] is skipped
  void AddParam(std::string name, std::string value);
  void Clear() { items_.clear(); }
  // True and the first match's value when an item's name equals `name` in upper case;
  // false and `value` unchanged otherwise.
  bool FindParam(std::string_view name, std::string& value) const;
  const std::vector<TParItem>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::vector<TParItem> items_;
};

// Upper case as parameter names use it (ASCII letters; other bytes unchanged).
std::string ParamNameUpper(std::string_view name);
// The arguments of the running process (read from /proc/self/cmdline), program name
// not included.
std::vector<std::string> ProcessArguments();
// The process's parameter list, filled from ProcessArguments() on first use.
const TParamList& ParamList();
bool FindParam(std::string_view name, std::string& value);

}  // namespace ecr
