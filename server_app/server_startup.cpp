#include "server_app/server_startup.h"

#include "foundation/param_list.h"

namespace ecr {

PriorityClass ChoosePriorityClass(const std::optional<std::string>& priorityValue) {
  if (!priorityValue) return PriorityClass::Realtime;
  return PriorityClassFromKeyword(ParamNameUpper(*priorityValue)).value_or(PriorityClass::Realtime);
}

std::string PriorityFailureLogLine(int errorNumber) {
  return "SetPriorityClass fail ! LastError=" + std::to_string(errorNumber);
}

std::string MakeApplicationTitle(std::string_view versionText) {
  const std::size_t lastDot = versionText.rfind('.');
  const std::string_view shortened =
      lastDot == std::string_view::npos ? versionText : versionText.substr(0, lastDot);
  std::string title(kProductCaption);
  title += ' ';
  title += shortened;
  return title;
}

}  // namespace ecr
