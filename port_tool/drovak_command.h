#pragma once
// What the console port tool does with its command line: exactly one argument HIDE:n or
// SHOW:n (n 1..8, with "-" or "/" before it or not, any case) hides or shows COM port n;
// no argument or more than one prints the usage line. Anything else does nothing and
// prints nothing. The tool always ends with exit code 0.

#include <ostream>
#include <string_view>

#include "netcontroller/param_table.h"
#include "platform/registry.h"

namespace ecr {

inline constexpr std::string_view kDrovakUsage = "Usage: drovak [hide:X |show:1]";
inline constexpr int kLowestComPort = 1;
inline constexpr int kHighestComPort = 8;

// argument_count: the number of arguments after the program name (the table sees at most
// ten of them). Returns the process exit code, which is 0 in every case.
int RunDrovak(int argument_count, const ParamTable& params, const Registry& registry,
              std::ostream& out);

}  // namespace ecr
