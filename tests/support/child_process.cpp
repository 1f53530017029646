#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

extern char** environ;

namespace ecr {
namespace {

std::string_view VariableName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// The test process's environment (or none) with the options' entries applied.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes, bool inherit) {
  std::vector<std::string> environment;
  for (char** entry = inherit ? environ : nullptr; entry != nullptr && *entry != nullptr; ++entry) {
    bool changed = false;
    for (const std::string& change : changes) changed = changed || VariableName(change) == VariableName(*entry);
    if (!changed) environment.emplace_back(*entry);
  }
  for (const std::string& change : changes) {
    if (change.find('=') != std::string::npos) environment.push_back(change);
  }
  return environment;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// One of posix_spawn's description objects, released whatever way the start goes.
template <typename Object, int (*Init)(Object*), int (*Destroy)(Object*)>
class SpawnObject {
 public:
  SpawnObject() { Init(&object_); }
  ~SpawnObject() { Destroy(&object_); }
  SpawnObject(const SpawnObject&) = delete;
  SpawnObject& operator=(const SpawnObject&) = delete;
  Object* get() { return &object_; }

 private:
  Object object_;
};

using SpawnActions =
    SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init, posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

// The child starts with no signal blocked and a broken pipe ending it, as a program
// started from a shell does, whatever the test process has set for itself.
void StartWithDefaultSignals(SpawnAttributes& attributes) {
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(attributes.get(), &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(attributes.get(), &signals);
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The writing end of a pipe whose reading end is closed already. Close-on-exec: the child
// holds it only as its output.
int UnreadPipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
  ::close(ends[0]);
  return ends[1];
}

// The signals a process catches, from the SigCgt line of its status.
std::uint64_t CaughtSignals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("SigCgt:")) return std::stoull(line.substr(7), nullptr, 16);
  }
  return 0;
}

}  // namespace

std::vector<std::string> CronEnvironment(const std::filesystem::path& home) {
  std::vector<std::string> environment{"HOME=" + home.string(), "LOGNAME=root", "SHELL=/bin/sh",
                                       "PATH=/usr/bin:/bin"};
  for (const char* name : {"TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
  }
  return environment;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           ChildProcessOptions options)
    : outputFile_(options.outputClosed ? std::filesystem::path() : options.outputFile) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = ChildEnvironment(options.environment, options.inheritEnvironment);
  std::vector<char*> argPointers = PointersTo(argv);
  std::vector<char*> envPointers = PointersTo(environment);

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const Descriptor writingEnd(options.outputClosed ? UnreadPipe() : -1);
  if (options.outputClosed) {
    posix_spawn_file_actions_adddup2(actions.get(), writingEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), writingEnd.get(), STDERR_FILENO);
  } else if (!outputFile_.empty()) {
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, outputFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
  }
  if (!options.workingFolder.empty())
    posix_spawn_file_actions_addchdir_np(actions.get(), options.workingFolder.c_str());

  SpawnAttributes attributes;
  StartWithDefaultSignals(attributes);
  const int error = ::posix_spawn(&pid_, program.c_str(), actions.get(), attributes.get(),
                                  argPointers.data(), envPointers.data());
  if (error != 0) {
    pid_ = -1;
    throw std::system_error(error, std::generic_category(), "cannot start " + program);
  }
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Poll() {
  if (ended_ || pid_ <= 0) return true;
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(pid_, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid_) {
    status_ = status;
    ended_ = true;
  } else if (reaped < 0) {
    ended_ = true;  // reaped elsewhere: gone, its status unknown
  }
  return ended_;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  support::WaitUntil([&] { return Poll(); }, timeout);
  return status_;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const std::optional<int> status = Wait(timeout);
  if (!status) return std::nullopt;
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

void ChildProcess::Kill() {
  if (Poll()) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(pid_, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid_) status_ = status;
  ended_ = true;
}

std::string ChildProcess::Output() const { return outputFile_.empty() ? std::string() : ReadWholeFile(outputFile_); }

std::vector<StartMoment> StartMoments() {
  std::vector<StartMoment> moments;
  for (int delayMs = 0; delayMs <= 24; delayMs += 2) moments.push_back({false, delayMs});
  for (const int delayMs : {40, 80}) moments.push_back({false, delayMs});
  for (const int delayMs : {0, 1, 5, 20}) moments.push_back({true, delayMs});
  return moments;
}

SignalledStart SignalAtMoment(ChildProcess& process, StartMoment moment, const std::filesystem::path& mainsFirstFile,
                              std::chrono::milliseconds timeout) {
  if (moment.fromMain && !process.WaitUntilCatching(SIGTERM, timeout)) return {};
  std::this_thread::sleep_for(std::chrono::milliseconds(moment.delayMs));
  ::kill(process.Pid(), SIGTERM);
  SignalledStart result;
  result.exit = process.WaitForExit(timeout);
  result.beforeMain = !moment.fromMain && result.exit == 128 + SIGTERM && !std::filesystem::exists(mainsFirstFile);
  return result;
}

bool ChildProcess::WaitUntilCatching(int signalNumber, std::chrono::milliseconds timeout) {
  const std::uint64_t bit = std::uint64_t{1} << (signalNumber - 1);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Asked closely: the moment matters to the tests that signal right after it.
  while (!Poll()) {
    if ((CaughtSignals(pid_) & bit) != 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

std::optional<int> ChildProcess::SignalUntilEnded(int signalNumber, const std::vector<int>& andThen,
                                                  std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t next = 0;
  // Poll reaps the process once it has ended; until then its id is still its own (a process
  // that has ended and is not reaped yet takes the signal without effect).
  for (int signal = signalNumber; !Poll() && std::chrono::steady_clock::now() < deadline;) {
    ::kill(pid_, signal);
    if (!andThen.empty()) signal = andThen[next++ % andThen.size()];
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WaitForExit(std::chrono::milliseconds(0));
}

}  // namespace ecr
