#include "platform/process_priority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace ecr {

int NiceValueOf(PriorityClass priorityClass) {
  switch (priorityClass) {
    case PriorityClass::Idle: return 19;
    case PriorityClass::Normal: return 0;
    case PriorityClass::High: return -10;
    case PriorityClass::Realtime: return -20;
  }
  return 0;
}

std::optional<PriorityClass> PriorityClassFromKeyword(std::string_view keyword) {
  if (keyword == "NORMAL") return PriorityClass::Normal;
  if (keyword == "IDLE") return PriorityClass::Idle;
  if (keyword == "HIGH") return PriorityClass::High;
  if (keyword == "REALTIME") return PriorityClass::Realtime;
  return std::nullopt;
}

int SetProcessPriorityClass(PriorityClass priorityClass) {
  const int nice = NiceValueOf(priorityClass);
  // On Linux the nice value belongs to each thread, and who = 0 means only the calling
  // one. A priority class belongs to the whole process, so the calling thread decides the
  // result and every other thread already running (the toolkit may have started some)
  // follows; threads started later inherit it.
  if (setpriority(PRIO_PROCESS, 0, nice) != 0) return errno != 0 ? errno : EPERM;
  const std::unique_ptr<DIR, int (*)(DIR*)> tasks(opendir("/proc/self/task"), closedir);
  if (tasks) {
    const pid_t self = gettid();
    while (const dirent* entry = readdir(tasks.get())) {
      char* end = nullptr;
      const long tid = std::strtol(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0' || tid == self) continue;
      setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    }
  }
  return 0;
}

}  // namespace ecr
