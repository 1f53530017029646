// The user's runtime folder (/run/user/<uid>) goes with the user's last session while the
// register server runs on (nohup, a lingering user): the copy stays reachable, and a close
// request from cron, or from a new session, still closes it.
//
// The test plays the folder's coming and going in a mount namespace of its own, on a private
// /run/user, so that no other program of the machine sees it; where it may not make one (no
// privileges), it is skipped.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/server_app/harbendix_process.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing::HarbendixFolder;
using testing::HarbendixProcess;

TEST(HarbendixRuntimeFolderProcess, ACopyStaysReachableWhenTheRuntimeFolderGoes) {
  if (::unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no mount namespace of our own: " << std::strerror(errno);
  ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
  std::filesystem::create_directories("/run/user");
  ASSERT_EQ(::mount("tmpfs", "/run/user", "tmpfs", 0, "mode=0755"), 0) << std::strerror(errno);
  const std::filesystem::path runtime = "/run/user/" + std::to_string(::geteuid());
  const auto beginSession = [&runtime] {
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0) << std::strerror(errno);
  };
  beginSession();

  const testing::ServingFolder serving;
  const HarbendixFolder& folder = serving.folder;
  HarbendixProcess server(folder, {}, "server.txt");
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 started on COM1.")) << folder.Log() << server.Output();

  // The user's last session ends.
  std::filesystem::remove_all(runtime);
  {
    HarbendixProcess second(folder, {}, "second.txt");
    EXPECT_EQ(second.WaitForExit(20s), 0) << "the lock still keeps a second copy out";
    HarbendixProcess fromCron(folder, {"-Q:wrong"}, "cron.txt");
    EXPECT_EQ(fromCron.WaitForExit(20s), 0) << fromCron.Output();
    EXPECT_TRUE(server.Running());
  }

  // The user logs in again: the new session's runtime folder knows nothing of the copy.
  beginSession();
  HarbendixProcess request(folder, {"-Q:pw"}, "request.txt");
  EXPECT_EQ(request.WaitForExit(20s), 0) << request.Output();
  EXPECT_EQ(server.WaitForExit(20s), 0) << folder.Log();
  EXPECT_NE(folder.Log().find("Harbendix v1.0.21 closed by user."), std::string::npos) << folder.Log();
}

}  // namespace
}  // namespace ecr
