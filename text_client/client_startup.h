#pragma once

// The small decisions of the selling client's start-up, kept apart from the process entry
// so that they can be checked directly.
//
// Pure functions: any thread may call them.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/param_list.h"

namespace ecr {

inline constexpr std::string_view kClientCaption = "Wexhaven";
inline constexpr char kClientHelpFile[] = "Wexhaven.hlp";

// "Wexhaven" and the version text without its last dot-separated part: "v3.0.4.1" gives
// "Wexhaven v3.0.4".
std::string ClientTitle(std::string_view versionText);

// The password of a close request for the running copy: the value of the parameter "Q",
// else of "QUIT"; nothing when the command line holds neither.
std::optional<std::string> QuitRequestPassword(const TParamList& parameters);

}  // namespace ecr
