// What another local user can make before a program starts, under the names the program's
// instance messages use, must not cut the running copy off its later starts: the names
// are known to everyone (they come from the program's path and the user id).
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/instance_channel.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace ecr {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;

// "ecr-im-<uid>-<hash>", the stem of every file of the name: the part of a socket's file
// name before its first dot.
std::string StemOf(const std::string& name, const fs::path& scratch) {
  fs::create_directories(scratch);
  const InstanceChannel probe(name, scratch.string());
  EXPECT_TRUE(probe.IsOpen()) << probe.Error();
  const std::string socket = fs::path(probe.SocketPath()).filename().string();
  return socket.substr(0, socket.find('.'));
}

void GiveToOtherUser(const fs::path& path) { ASSERT_EQ(::lchown(path.c_str(), kOtherUser, kOtherUser), 0) << path; }

// Removes a shared-memory object the other user made, however the test ends.
class SharedMemoryName {
 public:
  explicit SharedMemoryName(std::string name) : name_(std::move(name)) {}
  ~SharedMemoryName() { ::shm_unlink(name_.c_str()); }
  SharedMemoryName(const SharedMemoryName&) = delete;
  SharedMemoryName& operator=(const SharedMemoryName&) = delete;
  void Make() const {
    const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name_;
    EXPECT_EQ(::fchown(fd, kOtherUser, kOtherUser), 0);
    ::close(fd);
  }

 private:
  std::string name_;
};

TEST(InstanceSectionTaken, WhatAnotherUserMakesFirstDoesNotCutTheProgramOffItsOtherStarts) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a file of another user needs root";
  const std::string uid = std::to_string(::geteuid());
  struct Case {
    const char* what;
    // Given the stem of the program's names and the temporary base, makes what the other
    // user makes.
    std::function<void(const std::string& stem, const fs::path& temporary)> take;
  };
  std::vector<std::unique_ptr<SharedMemoryName>> sharedMemory;
  const std::vector<Case> cases = {
      {"the shared-memory name a section once had",
       [&](const std::string& stem, const fs::path&) {
         sharedMemory.push_back(std::make_unique<SharedMemoryName>("/" + stem));
         sharedMemory.back()->Make();
       }},
      {"the temporary socket folder",
       [&](const std::string&, const fs::path& temporary) {
         const fs::path folder = temporary / ("ecr-im-" + uid);
         fs::create_directory(folder);
         ::chmod(folder.c_str(), 0700);
         GiveToOtherUser(folder);
       }},
      {"the temporary socket folder as a link to a folder of theirs that holds the section",
       [&](const std::string& stem, const fs::path& temporary) {
         const fs::path theirs = temporary / "theirs";
         fs::create_directory(theirs);
         std::ofstream(theirs / (stem + ".section")) << "caught";
         GiveToOtherUser(theirs / (stem + ".section"));
         GiveToOtherUser(theirs);
         fs::create_directory_symlink(theirs, temporary / ("ecr-im-" + uid));
         GiveToOtherUser(temporary / ("ecr-im-" + uid));
       }},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TempDir dir;
    const std::string name = (dir.Path() / ("prog" + std::to_string(++number))).string();
    const fs::path runtime = dir.Path() / "run-user";
    const fs::path temporary = dir.Path() / "tmp";
    fs::create_directories(runtime);
    fs::create_directories(temporary);
    c.take(StemOf(name, dir.Path() / "scratch"), temporary);

    const std::vector<std::string> folders = ChooseInstanceFolders(runtime.string(), temporary.string()).usable;
    InstanceChannel running(name, folders);
    InstanceChannel secondStart(name, folders);
    ASSERT_TRUE(running.IsOpen()) << running.Error();
    ASSERT_TRUE(secondStart.IsOpen()) << secondStart.Error();
    EXPECT_EQ(secondStart.Post(2, 2, "pw").othersReached, 1);
    pollfd entry{running.ReadableFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 5000), 1);
    EXPECT_TRUE(running.NextNotice().has_value());
    EXPECT_EQ(running.ReadText(255), "pw");
  }
}

}  // namespace
}  // namespace ecr
