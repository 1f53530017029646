// The transport of instance messages: shared section plus one datagram socket per channel.
#include "platform/instance_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/platform/registry_test_folder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace ecr {
namespace {

namespace fs = std::filesystem;

class InstanceChannelTest : public ::testing::Test {
 protected:
  InstanceChannelTest() { fs::create_directory(sockets_); }

  // A name no other test (or test run) uses.
  std::string Name(const std::string& program = "prog") const { return (folder_ / program).string(); }
  std::unique_ptr<InstanceChannel> Open(const std::string& name) const {
    auto channel = std::make_unique<InstanceChannel>(name, sockets_.string());
    EXPECT_TRUE(channel->IsOpen()) << channel->Error();
    return channel;
  }

  // Waits (bounded) until the channel's descriptor is readable.
  static bool WaitReadable(const InstanceChannel& channel, int timeoutMs = 5000) {
    pollfd entry{channel.ReadableFd(), POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1;
  }

  static bool SectionExists(const std::string& sectionName) {
    int fd = ::shm_open(sectionName.c_str(), O_RDONLY, 0);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
  }

  const TempDir dir_;
  const fs::path folder_ = dir_.Path();
  const fs::path sockets_ = folder_ / "run";
};

TEST_F(InstanceChannelTest, PostReachesEveryChannelOfTheNameItsOwnIncluded) {
  auto first = Open(Name());
  auto second = Open(Name());
  ASSERT_NE(first->SenderId(), second->SenderId());
  EXPECT_EQ(first->SenderId() >> 32, static_cast<std::uint64_t>(::getpid()));

  ASSERT_TRUE(first->Post(0xC123, 2, "secret"));
  for (InstanceChannel* channel : {first.get(), second.get()}) {
    ASSERT_TRUE(WaitReadable(*channel));
    auto notice = channel->NextNotice();
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(*notice, (InstanceNotice{0xC123, 2, first->SenderId()}));
    EXPECT_EQ(channel->ReadText(255), "secret");
    EXPECT_FALSE(channel->NextNotice().has_value()) << "one notice per post";
  }
}

TEST_F(InstanceChannelTest, ChannelsOfDifferentNamesNeverMeet) {
  // Names that differ only far beyond 255 characters are different names.
  const std::string common(300, 'x');
  auto here = Open(Name("a/" + common + "1"));
  auto there = Open(Name("a/" + common + "2"));
  EXPECT_NE(here->SectionName(), there->SectionName());

  ASSERT_TRUE(there->Post(1, 2, "for there only"));
  ASSERT_TRUE(WaitReadable(*there));
  EXPECT_TRUE(there->NextNotice().has_value());
  EXPECT_FALSE(WaitReadable(*here, 200));
  EXPECT_EQ(here->ReadText(255), "");
}

TEST_F(InstanceChannelTest, TextIsCutToTheSectionAndReadUpToItsFirstZero) {
  auto channel = Open(Name());
  const std::string huge(InstanceChannel::kSectionSize + 100, 'y');
  ASSERT_TRUE(channel->Post(1, 0, huge));
  EXPECT_EQ(channel->ReadText(InstanceChannel::kSectionSize + 10), huge.substr(0, InstanceChannel::kMaxTextLength));
  EXPECT_EQ(channel->ReadText(10), huge.substr(0, 10));

  ASSERT_TRUE(channel->Post(1, 0, std::string("ab\0cd", 5)));
  EXPECT_EQ(channel->ReadText(255), "ab");
}

TEST_F(InstanceChannelTest, MalformedDatagramsAreDropped) {
  auto channel = Open(Name());
  int raw = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(raw, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, channel->SocketPath().c_str(), sizeof address.sun_path - 1);
  const std::vector<std::string> junk = {
      std::string(),                         // empty
      std::string("ECIM"),                   // short
      std::string(20, '\0'),                 // no magic
      std::string("ECIM") + std::string(17, '\0'),  // one byte too long
  };
  for (const std::string& datagram : junk)
    ASSERT_EQ(::sendto(raw, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address),
              static_cast<ssize_t>(datagram.size()));
  ::close(raw);
  ASSERT_TRUE(channel->Post(7, 2, "after the junk"));

  ASSERT_TRUE(WaitReadable(*channel));
  auto notice = channel->NextNotice();
  ASSERT_TRUE(notice.has_value());
  EXPECT_EQ(notice->messageId, 7);
  EXPECT_FALSE(channel->NextNotice().has_value());
}

TEST_F(InstanceChannelTest, LastChannelToCloseRemovesSectionAndEveryChannelItsSocket) {
  auto first = Open(Name());
  auto second = Open(Name());
  const std::string section = first->SectionName();
  const std::string firstSocket = first->SocketPath();
  ASSERT_TRUE(SectionExists(section));
  ASSERT_TRUE(fs::exists(firstSocket));

  first.reset();
  EXPECT_FALSE(fs::exists(firstSocket));
  EXPECT_TRUE(SectionExists(section)) << "still in use by the second channel";
  // The section keeps its text for the remaining user and for newcomers.
  ASSERT_TRUE(second->Post(1, 2, "kept"));
  auto third = Open(Name());
  EXPECT_EQ(third->ReadText(255), "kept");

  second.reset();
  third.reset();
  EXPECT_FALSE(SectionExists(section));

  // A later start creates it afresh.
  auto again = Open(Name());
  EXPECT_TRUE(SectionExists(section));
  EXPECT_EQ(again->ReadText(255), "");
}

TEST_F(InstanceChannelTest, WhatAKilledProcessLeavesIsRemovedLater) {
  std::string deadSection, deadSocket;
  {
    InstanceChannel probe(Name("dead"), sockets_.string());
    deadSection = probe.SectionName();
  }
  // The child opens a channel, reports, and waits to be killed: it never closes it.
  int ready[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    auto* leaked = new InstanceChannel(Name("dead"), sockets_.string());
    const char opened = leaked->IsOpen() ? 'y' : 'n';
    (void)!::write(ready[1], &opened, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char opened = 0;
  pollfd entry{ready[0], POLLIN, 0};
  const bool reported = ::poll(&entry, 1, 30000) == 1 && ::read(ready[0], &opened, 1) == 1;
  ::close(ready[0]);
  // While the child lives, its section is held: nobody (no other test process either) may
  // remove it.
  const bool heldWhileAlive = SectionExists(deadSection);
  for (const auto& socket : fs::directory_iterator(sockets_)) deadSocket = socket.path().string();
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(reported && opened == 'y');
  ASSERT_TRUE(heldWhileAlive);
  ASSERT_FALSE(deadSocket.empty());

  // Opening any channel removes sections nobody holds; one in use stays.
  auto inUse = Open(Name("in use"));
  auto other = Open(Name("other"));
  EXPECT_FALSE(SectionExists(deadSection));
  EXPECT_TRUE(SectionExists(inUse->SectionName()));

  // Posting under the dead process's name finds its socket without a process.
  auto revived = Open(Name("dead"));
  ASSERT_TRUE(revived->Post(1, 2, "anyone?"));
  EXPECT_FALSE(fs::exists(deadSocket));
  ASSERT_TRUE(WaitReadable(*revived));
  EXPECT_TRUE(revived->NextNotice().has_value());
}

TEST_F(InstanceChannelTest, AChannelThatCannotBindIsClosedAndSaysWhy) {
  struct Case {
    const char* what;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {"missing folder", (folder_ / "missing").string()},
      {"no folder at all", std::string()},
      {"path too long for a socket", (folder_ / std::string(120, 'z')).string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstanceChannel channel(Name(), c.folder);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_FALSE(channel.Error().empty());
    EXPECT_EQ(channel.ReadableFd(), -1);
    EXPECT_FALSE(channel.Post(1, 2, "lost"));
    EXPECT_FALSE(channel.NextNotice().has_value());
    EXPECT_FALSE(SectionExists(channel.SectionName())) << "nothing left behind";
  }
}

TEST_F(InstanceChannelTest, PrivateSocketFolderIsTheUsersOwnAndClosedToOthers) {
  const std::string expected = (folder_ / ("ecr-im-" + std::to_string(::geteuid()))).string();
  EXPECT_EQ(PrivateSocketFolder(folder_.string()), expected);
  struct stat info {};
  ASSERT_EQ(::lstat(expected.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(PrivateSocketFolder(folder_.string()), expected) << "an existing folder is reused";

  ASSERT_EQ(::chmod(expected.c_str(), 0755), 0);
  EXPECT_EQ(PrivateSocketFolder(folder_.string()), "") << "open to others";

  const fs::path other = folder_ / "other";
  fs::create_directory(other);
  fs::create_directory_symlink(folder_ / "elsewhere", other / ("ecr-im-" + std::to_string(::geteuid())));
  fs::create_directory(folder_ / "elsewhere");
  EXPECT_EQ(PrivateSocketFolder(other.string()), "") << "a symbolic link is not our folder";
}

// A start from ssh, cron or a service has another runtime folder, or none, than the
// desktop session's copy; both must still meet.
TEST(InstanceSocketFolder, IsTheUsersPrivateFolderWhateverTheEnvironmentSays) {
  const std::string expected = "/tmp/ecr-im-" + std::to_string(::geteuid());
  const TempDir elsewhere;
  const std::string other = elsewhere.Path().string();
  const test::SavedEnvironment runtime("XDG_RUNTIME_DIR"), temporary("TMPDIR");
  struct Case {
    const char* what;
    const char* runtimeFolder;
    const char* temporaryFolder;
  };
  const Case cases[] = {
      {"a session's runtime folder", other.c_str(), nullptr},
      {"no session", nullptr, nullptr},
      {"another temporary folder", nullptr, other.c_str()},
  };
  for (const Case& c : cases) {
    runtime.Set(c.runtimeFolder);
    temporary.Set(c.temporaryFolder);
    EXPECT_EQ(InstanceSocketFolder(), expected) << c.what;
  }
  struct stat info {};
  ASSERT_EQ(::lstat(expected.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_uid, ::geteuid());
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace ecr
