#include "foundation/param_list.h"

#include <fstream>
#include <iterator>

namespace ecr {

std::string ParamNameUpper(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

void TParamList::ParseCommandLine(std::span<const std::string> arguments) {
  items_.clear();
  for (const std::string& argument : arguments) {
    if (argument.empty()) {
      AddParam({}, {});
      continue;
    }
    std::string_view rest = argument;
    if (rest.front() == '-' || rest.front() == '/') rest.remove_prefix(1);
    const auto colon = rest.find(':');
    if (colon == std::string_view::npos) {
      AddParam(ParamNameUpper(rest), {});
    } else {
      AddParam(ParamNameUpper(rest.substr(0, colon)), std::string(rest.substr(colon + 1)));
    }
  }
}

void TParamList::ParseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  ParseCommandLine(arguments);
}

void TParamList::AddParam(std::string name, std::string value) {
  items_.push_back(TParItem{std::move(name), std::move(value)});
}

bool TParamList::FindParam(std::string_view name, std::string& value) const {
  const std::string wanted = ParamNameUpper(name);
  for (const TParItem& item : items_) {
    if (item.Name == wanted) {
      value = item.Value;
      return true;
    }
  }
  return false;
}

std::vector<std::string> ProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < all.size()) {
    auto end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.emplace_back(all.substr(start, end - start));
    start = end + 1;
  }
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

const TParamList& ParamList() {
  static const TParamList list = [] {
    TParamList filled;
    filled.ParseCommandLine(ProcessArguments());
    return filled;
  }();
  return list;
}

bool FindParam(std::string_view name, std::string& value) { return ParamList().FindParam(name, value); }

}  // namespace ecr
