#include "port_tool/drovak_command.h"

#include <charconv>
#include <optional>
#include <string>

#include "port_tool/reg_utils.h"

namespace ecr {

namespace {

std::optional<int> ComPortNumber(const std::string& text) {
  int number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  if (number < kLowestComPort || number > kHighestComPort) return std::nullopt;
  return number;
}

}  // namespace

int RunDrovak(int argument_count, const ParamTable& params, const Registry& registry,
              std::ostream& out) {
  if (argument_count != 1) {
    out << kDrovakUsage << '\n';
    return 0;
  }
  const RegUtils reg_utils(registry);
  std::string value;
  if (params.FindParam("HIDE", value)) {
    if (std::optional<int> n = ComPortNumber(value)) reg_utils.HideComPort(*n);
  } else if (params.FindParam("SHOW", value)) {
    if (std::optional<int> n = ComPortNumber(value)) reg_utils.ShowComPort(*n);
  }
  return 0;
}

}  // namespace ecr
