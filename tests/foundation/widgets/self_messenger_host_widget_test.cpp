// Instance messages on the Qt event loop, between real processes: this test binary is
// copied into two folders and started there as a listening program and as second starts
// that send. The copies run only the probe below (chosen by the environment).
#include "foundation/widgets/self_messenger_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QtTest/QTest>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/log_file.h"
#include "platform/program_path.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ecr {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kRoleVariable = "ECR_MESSENGER_PROBE";
constexpr const char* kTextVariable = "ECR_MESSENGER_TEXT";
constexpr const char* kMarker = "probe: ";
// Generous bounds for a shared, loaded machine; the probes end long before them.
constexpr int kProbeLimitMs = 60000;
constexpr auto kWaitLimit = std::chrono::seconds(90);

// The copies' side: "listen" prints "ready", then every message, and ends after the
// first one from another process; "send" sends smQuit with the text and ends when its
// own message has come back.
TEST(SelfMessengerProbe, Run) {
  const char* role = std::getenv(kRoleVariable);
  if (role == nullptr) GTEST_SKIP() << "runs only in the copies started by the tests below";
  const bool listen = std::string(role) == "listen";
  SelfMessengerHost host;
  ASSERT_TRUE(host.Messenger().IsOpen()) << host.Messenger().Error();
  QEventLoop loop;
  bool done = false;
  host.Messenger().SetOnSelfEvent([&](TSelfMessenger&, int msgId, const std::string& text, bool loopBack) {
    std::printf("%smessage %d %d %s\n", kMarker, msgId, loopBack ? 1 : 0, text.c_str());
    std::fflush(stdout);
    if (loopBack != listen) {
      done = true;
      loop.quit();
    }
  });
  QTimer::singleShot(kProbeLimitMs, &loop, &QEventLoop::quit);
  if (listen) {
    std::printf("%sready\n", kMarker);
    std::fflush(stdout);
  } else {
    const char* text = std::getenv(kTextVariable);
    host.Messenger().Send(smQuit, text != nullptr ? text : "");
  }
  loop.exec();
  EXPECT_TRUE(done);
}

// One started copy; killed and reaped if the test ends before it does.
class Probe {
 public:
  Probe(const fs::path& program, const std::map<std::string, std::string>& environment) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry(*e);
      if (!environment.contains(entry.substr(0, entry.find('=')))) entries.push_back(entry);
    }
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    std::string filter = "--gtest_filter=SelfMessengerProbe.Run";
    char* argv[] = {path.data(), filter.data(), nullptr};

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int spawned = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
    if (spawned != 0) {
      pid_ = -1;
      throw std::runtime_error(std::string("posix_spawn failed: ") + std::strerror(spawned));
    }
  }
  ~Probe() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // The next line the probe wrote after the marker; nullopt at its end or the deadline.
  std::optional<std::string> NextProbeLine() {
    const auto deadline = Clock::now() + kWaitLimit;
    for (;;) {
      for (auto newline = buffer_.find('\n'); newline != std::string::npos; newline = buffer_.find('\n')) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        if (line.starts_with(kMarker)) return line.substr(std::strlen(kMarker));
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd entry{output_, POLLIN, 0};
      if (::poll(&entry, 1, static_cast<int>(left)) <= 0) return std::nullopt;
      char chunk[4096];
      const ssize_t got = ::read(output_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  // The exit status (after reading its remaining output); -1 when it did not end in time.
  int Wait() {
    while (NextProbeLine()) {
    }
    const auto deadline = Clock::now() + kWaitLimit;
    while (Clock::now() < deadline) {
      int status = 0;
      const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
      if (ended == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      QTest::qWait(20);  // the output is closed already: only the exit is missing
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffer_;
};

class SelfMessengerHostTest : public ::testing::Test {
 protected:
  // A copy of this test program installed in <temp>/<install>/.
  fs::path Install(const std::string& install) const {
    const fs::path target = folder_ / install / "probe";
    fs::create_directories(target.parent_path());
    fs::copy_file(ProgramPath(), target);
    return target;
  }

  // Each start in a session of its own: the runtime folder of its session differs.
  std::map<std::string, std::string> Environment(const std::string& role, const std::string& session,
                                                 const std::string& text = {}) const {
    const fs::path runtimeFolder = folder_ / "sessions" / session;
    fs::create_directories(runtimeFolder);
    return {{kRoleVariable, role},
            {kTextVariable, text},
            {"XDG_RUNTIME_DIR", runtimeFolder.string()},
            {"QT_QPA_PLATFORM", "offscreen"}};
  }

  const TempDir dir_;
  const fs::path folder_ = dir_.Path();
};

TEST_F(SelfMessengerHostTest, TheEventLoopDeliversMessagesOfTheProgramLoopBackIncluded) {
  const std::string program = (folder_ / "app" / "prog").string();
  SelfMessengerHost running(program);
  SelfMessengerHost starting(program);
  ASSERT_TRUE(running.Messenger().IsOpen()) << running.Messenger().Error();
  std::vector<std::pair<std::string, bool>> atRunning, atStarting;
  running.Messenger().SetOnSelfEvent(
      [&](TSelfMessenger&, int, const std::string& text, bool loopBack) { atRunning.emplace_back(text, loopBack); });
  starting.Messenger().SetOnSelfEvent(
      [&](TSelfMessenger&, int, const std::string& text, bool loopBack) { atStarting.emplace_back(text, loopBack); });

  starting.Messenger().Send(smQuit, "pw");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !atRunning.empty() && !atStarting.empty(); }, 10000));
  EXPECT_EQ(atRunning, (std::vector<std::pair<std::string, bool>>{{"pw", false}}));
  EXPECT_EQ(atStarting, (std::vector<std::pair<std::string, bool>>{{"pw", true}}));
}

TEST_F(SelfMessengerHostTest, ASecondStartReachesTheRunningCopyOfItsFolderOnly) {
  const fs::path here = Install("here");
  const fs::path there = Install("there");
  std::string password;
  for (int i = 0; i < 300; ++i) password += static_cast<char>('A' + i % 26);
  const std::string received = password.substr(0, 255);

  Probe running(here, Environment("listen", "desktop"));
  ASSERT_EQ(running.NextProbeLine(), "ready");

  // A copy installed elsewhere, started in the same session: it hears only itself.
  Probe elsewhere(there, Environment("send", "desktop", "from the other folder"));
  EXPECT_EQ(elsewhere.NextProbeLine(), "message 2 1 from the other folder");
  EXPECT_EQ(elsewhere.Wait(), 0);

  // A second start of the same program from another session (an ssh login): it hears
  // itself, the running copy hears it.
  Probe second(here, Environment("send", "ssh", password));
  EXPECT_EQ(second.NextProbeLine(), "message 2 1 " + received);
  EXPECT_EQ(second.Wait(), 0);

  // Had the other folder's message leaked, it would have come first.
  EXPECT_EQ(running.NextProbeLine(), "message 2 0 " + received);
  EXPECT_EQ(running.Wait(), 0);
}

// A socket folder that others may enter is never used, and the program's log says so; the
// messenger works from the folder that is left.
TEST_F(SelfMessengerHostTest, ASkippedFolderIsLoggedAndTheOtherServes) {
  const fs::path runtime = folder_ / "run-user";
  const fs::path temporary = folder_ / "tmp";
  fs::create_directories(runtime);
  const fs::path open = temporary / ("ecr-im-" + std::to_string(::geteuid()));
  fs::create_directories(open);
  ::chmod(open.c_str(), 0777);
  const std::string log = ProcessLog().Path();
  const std::string before = ReadWholeFile(log);

  SelfMessengerHost host((folder_ / "app" / "prog").string(),
                         ChooseInstanceFolders(runtime.string(), temporary.string()));
  ASSERT_TRUE(host.Messenger().IsOpen()) << host.Messenger().Error();
  const std::string added = ReadWholeFile(log).substr(before.size());
  EXPECT_NE(added.find(": Instance message folder skipped: " + open.string() + ": open to other users\r\n"),
            std::string::npos)
      << added;
  bool heard = false;
  host.Messenger().SetOnSelfEvent([&heard](TSelfMessenger&, int, const std::string&, bool) { heard = true; });
  host.Messenger().Send(smQuit, "pw");
  EXPECT_TRUE(QTest::qWaitFor([&] { return heard; }, 10000));
}

// A messenger that cannot open leaves the program without its other starts: the log says
// why, beside every folder it skipped.
TEST_F(SelfMessengerHostTest, AMessengerThatCannotOpenIsLoggedWithTheReason) {
  const std::string uid = std::to_string(::geteuid());
  const std::string program = (folder_ / "app" / "prog").string();
  struct Case {
    const char* what;
    // Prepares the runtime base and the temporary base.
    std::function<void(const fs::path& runtime, const fs::path& temporary)> prepare;
    std::vector<std::string> skippedEndings;
  };
  const std::vector<Case> cases = {
      {"no session, and the temporary folder open to others",
       [&](const fs::path&, const fs::path& temporary) {
         fs::create_directories(temporary / ("ecr-im-" + uid));
         ::chmod((temporary / ("ecr-im-" + uid)).c_str(), 0777);
       },
       {": open to other users"}},
      {"no session, and the text cannot be kept in the temporary folder",
       [&](const fs::path&, const fs::path& temporary) {
         const std::string folder = PrivateSocketFolder(temporary.string());
         const std::string socket =
             fs::path(InstanceChannel(SelfMessageName(program), folder).SocketPath()).filename().string();
         fs::create_directory(folder + "/" + socket.substr(0, socket.find('.')) + ".section");
       },
       {".section: Is a directory"}},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path base = folder_ / ("case" + std::to_string(++number));
    const fs::path runtime = base / "run-user";
    const fs::path temporary = base / "tmp";
    fs::create_directories(temporary);
    c.prepare(runtime, temporary);
    const std::string log = ProcessLog().Path();
    const std::string before = ReadWholeFile(log);

    SelfMessengerHost host(program, ChooseInstanceFolders(runtime.string(), temporary.string()));
    EXPECT_FALSE(host.Messenger().IsOpen());
    const std::string added = ReadWholeFile(log).substr(before.size());
    for (const std::string& ending : c.skippedEndings) {
      const std::size_t skipped = added.find(": Instance message folder skipped: " + temporary.string());
      EXPECT_NE(skipped, std::string::npos) << added;
      EXPECT_NE(added.find(ending + "\r\n", skipped), std::string::npos) << added;
    }
    EXPECT_NE(added.find(": Instance messages unavailable: " + host.Messenger().Error() + "\r\n"), std::string::npos)
        << added;
  }
}

}  // namespace
}  // namespace ecr
