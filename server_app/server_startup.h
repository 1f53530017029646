#pragma once
// The small decisions of the register server's start-up, kept apart from the process
// entry so that they can be checked directly. Plain C++; any thread.

#include <optional>
#include <string>
#include <string_view>

#include "platform/process_priority.h"

namespace ecr {

inline constexpr std::string_view kProductCaption = "Harbendix";
// The priority class asked for by the value of the "Priority" parameter (compared in
// upper case); the realtime class when the parameter is absent or names no class.
PriorityClass ChoosePriorityClass(const std::optional<std::string>& priorityValue);

// The log line of a refused priority class: the system's error number in decimal.
std::string PriorityFailureLogLine(int errorNumber);

// The application title: the product caption, a blank and the version text without its
// last dot-separated part ("v1.0.21.1" gives "Harbendix v1.0.21").
std::string MakeApplicationTitle(std::string_view versionText);

}  // namespace ecr
