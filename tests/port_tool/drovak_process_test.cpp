// The real drovak executable, run as a process against a registry tree of the test's own.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "platform/serial_port_names.h"
#include "tests/platform/registry_test_folder.h"
#include "tests/support/register_emulator.h"

extern char** environ;

namespace ecr {
namespace {

namespace fs = std::filesystem;
using test::RegistryTestFolder;

struct ProcessResult {
  int exit_code = -1;  // -1 when it did not end by itself
  std::string output;  // standard output and standard error together
};

enum class Output { Read, ClosedBeforeStart };

// Runs the program with ECR_REGISTRY set to registry_root, waiting at most 30 s. With
// Output::ClosedBeforeStart nobody reads its output: writing it fails with a broken pipe.
ProcessResult RunDrovak(const std::vector<std::string>& arguments, const fs::path& registry_root,
                        Output output_end = Output::Read) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::string_view(*entry).starts_with("ECR_REGISTRY=")) continue;
    environment.emplace_back(*entry);
  }
  environment.push_back("ECR_REGISTRY=" + registry_root.string());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string program = DROVAK_EXECUTABLE;
  std::vector<std::string> args_storage = arguments;
  std::vector<char*> argv{program.data()};
  for (std::string& argument : args_storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  if (output_end == Output::ClosedBeforeStart) {
    ::close(pipe_fds[0]);
    pipe_fds[0] = -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // The program starts with the default action for a broken pipe, whatever this process does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t default_signals;
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &default_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawn_error =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  ProcessResult result;
  if (spawn_error != 0) {
    if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);
    ADD_FAILURE() << "cannot start " << program;
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (pipe_fds[0] >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd readable{pipe_fds[0], POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[4096];
    const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);
  // Its output is closed; the process itself may take a moment longer to end.
  int status = 0;
  pid_t ended = 0;
  while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (ended == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ADD_FAILURE() << "drovak did not end";
    return result;
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

constexpr std::string_view kUsageLine = "Usage: drovak [hide:X |show:1]\n";

class DrovakProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.AddDeviceKey("Enum/Serial/pts0", "COM3", "/dev/pts/100");
    folder_.AddDeviceKey("Enum/Serial/pts1", "COM4", "/dev/pts/101");
  }
  ProcessResult Run(const std::vector<std::string>& arguments) {
    return RunDrovak(arguments, folder_.RegistryRoot());
  }
  std::vector<SerialCommValue> SerialComm() const { return ReadSerialComm(registry_); }

  RegistryTestFolder folder_;
  Registry registry_ = folder_.MakeRegistry();
};

TEST_F(DrovakProcess, HideTakesThePortOutOfSerialCommAndShowBringsItBack) {
  ASSERT_EQ(ResolveSerialPortName(registry_, "COM3"), "/dev/pts/100");

  ProcessResult hide = Run({"hide:3"});
  EXPECT_EQ(hide.exit_code, 0);
  EXPECT_EQ(hide.output, "");
  EXPECT_EQ(ResolveSerialPortName(registry_, "COM3"), std::nullopt);
  EXPECT_EQ(ResolveSerialPortName(registry_, "com4"), "/dev/pts/101");
  EXPECT_EQ(SerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/101", "COM4"}}));
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum/Serial/pts0Removed"));

  ProcessResult show = Run({"/SHOW:3"});
  EXPECT_EQ(show.exit_code, 0);
  EXPECT_EQ(show.output, "");
  EXPECT_EQ(ResolveSerialPortName(registry_, "COM3"), "/dev/pts/100");
  EXPECT_EQ(SerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/100", "COM3"},
                                                        {"/dev/pts/101", "COM4"}}));
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum/Serial/pts0"));
}

TEST_F(DrovakProcess, EverySpellingOfTheArgumentActs) {
  struct Case {
    const char* hide;
    const char* show;
  };
  const Case cases[] = {
      {"hide:3", "show:3"}, {"-HIDE:3", "-SHOW:3"}, {"/Hide:3", "/sHoW:3"}, {"HIDE:03", "show:003"},
  };
  for (const Case& c : cases) {
    ProcessResult hide = Run({c.hide});
    EXPECT_EQ(hide.exit_code, 0) << c.hide;
    EXPECT_EQ(hide.output, "") << c.hide;
    EXPECT_EQ(SerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/101", "COM4"}})) << c.hide;
    ProcessResult show = Run({c.show});
    EXPECT_EQ(show.exit_code, 0) << c.show;
    EXPECT_EQ(show.output, "") << c.show;
    EXPECT_EQ(SerialComm().size(), 2u) << c.show;
  }
}

// The error of opening the port by name as the register line does: 0 when it opens.
int OpenByNameError(std::string_view name) {
  SerialPort port;
  return port.Open(name) ? 0 : port.LastError();
}

TEST_F(DrovakProcess, AHiddenPortNoLongerOpensByNameAndAShownOneOpensAgain) {
  RegisterEmulator far_end;  // a real pseudo-terminal behind COM5
  folder_.AddDeviceKey("Enum/Serial/emulated", "COM5", far_end.PortPath());
  const test::SavedEnvironment environment("ECR_REGISTRY", folder_.RegistryRoot().c_str());
  ASSERT_EQ(OpenByNameError("COM5"), 0);

  ASSERT_EQ(Run({"HIDE:5"}).exit_code, 0);
  EXPECT_EQ(OpenByNameError("COM5"), ENOENT);
  EXPECT_EQ(OpenByNameError("com5"), ENOENT);
  // The device itself is still there; only its name is gone.
  EXPECT_EQ(OpenByNameError(far_end.PortPath()), 0);

  ASSERT_EQ(Run({"SHOW:5"}).exit_code, 0);
  EXPECT_EQ(OpenByNameError("COM5"), 0);
}

TEST_F(DrovakProcess, NoArgumentOrMoreThanOneGivesTheUsageLine) {
  const std::vector<std::vector<std::string>> command_lines = {
      {}, {"hide:3", "show:3"}, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}};
  for (const std::vector<std::string>& arguments : command_lines) {
    ProcessResult result = Run(arguments);
    EXPECT_EQ(result.exit_code, 0) << arguments.size();
    EXPECT_EQ(result.output, kUsageLine) << arguments.size();
  }
  EXPECT_EQ(SerialComm().size(), 2u);
  // Nobody reading the usage line changes nothing either.
  EXPECT_EQ(RunDrovak({}, folder_.RegistryRoot(), Output::ClosedBeforeStart).exit_code, 0);
}

TEST_F(DrovakProcess, AnyOtherSingleArgumentDoesNothingSilently) {
  const char* arguments[] = {"HIDE:9", "HIDE:0", "HIDE:x", "hide:", "-HIDE", "hide:3x", "hide:-3",
                             "--HIDE:3", "SHOW:9", "frobnicate", "", "hide:03 "};
  for (const char* argument : arguments) {
    ProcessResult result = Run({argument});
    EXPECT_EQ(result.exit_code, 0) << argument;
    EXPECT_EQ(result.output, "") << argument;
    EXPECT_EQ(SerialComm().size(), 2u) << argument;
  }
}

TEST_F(DrovakProcess, ARegistryWithoutTheDeviceTreeStaysAsItWas) {
  RegistryTestFolder empty;
  ProcessResult result = RunDrovak({"-hide:3"}, empty.RegistryRoot());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(fs::exists(empty.RegistryRoot()));
}

}  // namespace
}  // namespace ecr
