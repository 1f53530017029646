#pragma once
// Priority classes of the process, carried out with setpriority(2) on the whole process.
// Plain POSIX; any thread may call these, though only the start-up of a program does.

#include <cstdint>
#include <optional>
#include <string_view>

namespace ecr {

// The class values are the ones the programs and their logs know.
enum class PriorityClass : std::uint32_t {
  Normal = 0x20,
  Idle = 0x40,
  High = 0x80,
  Realtime = 0x100,
};

// The nice value that stands for a class: IDLE 19, NORMAL 0, HIGH -10, REALTIME -20.
int NiceValueOf(PriorityClass priorityClass);

// The class named by an upper-case keyword ("NORMAL", "IDLE", "HIGH", "REALTIME");
// nothing for any other text.
std::optional<PriorityClass> PriorityClassFromKeyword(std::string_view keyword);

// Gives the calling process the class. Returns 0 on success, else the errno of the
// refusal (for instance EACCES when raising the priority needs a right the process lacks);
// the process then keeps the priority it had.
int SetProcessPriorityClass(PriorityClass priorityClass);

}  // namespace ecr
