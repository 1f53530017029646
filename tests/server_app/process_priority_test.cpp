// Priority classes on a real process: every case runs in a child of its own, since a
// lowered priority cannot be raised again without privileges.
#include "platform/process_priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

namespace ecr {
namespace {

// Runs body in a forked child; the child's exit status is body's result (0 = passed).
int InChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int Nice(id_t who = 0) {
  errno = 0;
  return getpriority(PRIO_PROCESS, who);
}

bool DropPrivileges() { return geteuid() != 0 || setresuid(65534, 65534, 65534) == 0; }

TEST(ProcessPriority, KeywordsAndNiceValues) {
  struct Case {
    const char* keyword;
    std::optional<PriorityClass> expected;
    int nice;
  };
  const Case cases[] = {
      {"NORMAL", PriorityClass::Normal, 0},  {"IDLE", PriorityClass::Idle, 19},
      {"HIGH", PriorityClass::High, -10},    {"REALTIME", PriorityClass::Realtime, -20},
      {"high", std::nullopt, 0},             {"LOW", std::nullopt, 0},
      {"", std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyword);
    EXPECT_EQ(PriorityClassFromKeyword(c.keyword), c.expected);
    if (c.expected) {
      EXPECT_EQ(NiceValueOf(*c.expected), c.nice);
    }
  }
  EXPECT_EQ(static_cast<std::uint32_t>(PriorityClass::Realtime), 0x100u);
  EXPECT_EQ(static_cast<std::uint32_t>(PriorityClass::High), 0x80u);
  EXPECT_EQ(static_cast<std::uint32_t>(PriorityClass::Idle), 0x40u);
  EXPECT_EQ(static_cast<std::uint32_t>(PriorityClass::Normal), 0x20u);
}

TEST(ProcessPriority, IdleReachesEveryThreadOfTheProcess) {
  EXPECT_EQ(InChild([] {
              std::atomic<long> tid{0};
              std::atomic<bool> done{false};
              std::thread other([&] {
                tid = syscall(SYS_gettid);
                while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
              });
              while (tid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              int result = 0;
              if (SetProcessPriorityClass(PriorityClass::Idle) != 0) result = 1;
              else if (Nice() != 19) result = 2;
              else if (Nice(static_cast<id_t>(tid.load())) != 19) result = 3;
              done = true;
              other.join();
              return result;
            }),
            0);
}

TEST(ProcessPriority, RefusalReturnsErrnoAndKeepsThePriority) {
  EXPECT_EQ(InChild([] {
              if (!DropPrivileges()) return 10;
              if (SetProcessPriorityClass(PriorityClass::Idle) != 0) return 1;
              const int refusal = SetProcessPriorityClass(PriorityClass::High);
              if (refusal != EACCES && refusal != EPERM) return 2;
              return Nice() == 19 ? 0 : 3;
            }),
            0);
}

TEST(ProcessPriority, PrivilegedProcessGetsEveryClass) {
  if (geteuid() != 0) GTEST_SKIP() << "raising the priority needs privileges";
  for (const PriorityClass c : {PriorityClass::Realtime, PriorityClass::High,
                                PriorityClass::Normal, PriorityClass::Idle}) {
    SCOPED_TRACE(static_cast<int>(c));
    EXPECT_EQ(InChild([c] {
                if (SetProcessPriorityClass(c) != 0) return 1;
                return Nice() == NiceValueOf(c) ? 0 : 2;
              }),
              0);
  }
}

}  // namespace
}  // namespace ecr
