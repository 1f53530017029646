#include "netcontroller/param_table.h"

#include <algorithm>

namespace ecr {

namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return upper;
}

}  // namespace

ParamTable::Record ParamTable::ParseArgument(std::string_view argument) {
  Record record;
  if (argument.empty()) return record;
  // Exactly one sign is dropped: "--HIDE" keeps a "-" in its name.
  if (argument.front() == '-' || argument.front() == '/') argument.remove_prefix(1);
  const std::size_t colon = argument.find(':');
  if (colon == std::string_view::npos) {
    record.Name = UpperAscii(argument.substr(0, kNameLength));
  } else {
    record.Name = UpperAscii(argument.substr(0, std::min(colon, kNameLength)));
    record.Value = std::string(argument.substr(colon + 1, kValueLength));
  }
  return record;
}

ParamTable::ParamTable(const std::vector<std::string>& arguments) {
  const std::size_t count = std::min(arguments.size(), kRecordCount);
  for (std::size_t i = 0; i < count; ++i) records_[i] = ParseArgument(arguments[i]);
}

ParamTable::ParamTable(int argc, const char* const* argv)
    : ParamTable(argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                          : std::vector<std::string>()) {}

bool ParamTable::FindParam(std::string_view Name, std::string& Value) const {
  const std::string wanted = UpperAscii(Name);
  for (const Record& record : records_) {
    if (record.Name == wanted) {
      Value = record.Value;
      return true;
    }
  }
  return false;
}

}  // namespace ecr
