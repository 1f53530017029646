// The transport of instance messages: a section file per folder plus one datagram socket
// per channel.
#include "platform/instance_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/platform/registry_test_folder.h"
#include "tests/support/channel_in_another_process.h"
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
  EXPECT_NE(here->SectionPath(), there->SectionPath());

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
      std::string("ECIA") + std::string(20, '\0'),  // an answer to another channel
      std::string("ECIA") + std::string(19, '\0'),  // an answer one byte short
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
  const std::string section = first->SectionPath();
  const std::string firstSocket = first->SocketPath();
  ASSERT_TRUE(fs::exists(section));
  ASSERT_TRUE(fs::exists(firstSocket));

  first.reset();
  EXPECT_FALSE(fs::exists(firstSocket));
  EXPECT_TRUE(fs::exists(section)) << "still in use by the second channel";
  // The section keeps its text for the remaining user and for newcomers.
  ASSERT_TRUE(second->Post(1, 2, "kept"));
  auto third = Open(Name());
  EXPECT_EQ(third->ReadText(255), "kept");

  second.reset();
  third.reset();
  EXPECT_FALSE(fs::exists(section));

  // A later start creates it afresh.
  auto again = Open(Name());
  EXPECT_TRUE(fs::exists(section));
  EXPECT_EQ(again->ReadText(255), "");
}

TEST_F(InstanceChannelTest, WhatAKilledProcessLeavesIsRemovedLater) {
  std::string deadSection, deadSocket;
  {
    InstanceChannel probe(Name("dead"), sockets_.string());
    deadSection = probe.SectionPath();
  }
  // Another process opens a channel and is killed: it never closes it.
  support::ChannelInAnotherProcess child(Name("dead"), sockets_.string());
  // While the process lives, its section is held: nobody (no other test process either) may
  // remove it.
  const bool heldWhileAlive = fs::exists(deadSection);
  for (const auto& file : fs::directory_iterator(sockets_))
    if (file.is_socket()) deadSocket = file.path().string();
  child.Kill();
  ASSERT_TRUE(child.Opened());
  ASSERT_TRUE(heldWhileAlive);
  ASSERT_FALSE(deadSocket.empty());

  // Opening any channel removes sections nobody holds; one in use stays.
  auto inUse = Open(Name("in use"));
  auto other = Open(Name("other"));
  EXPECT_FALSE(fs::exists(deadSection));
  EXPECT_TRUE(fs::exists(inUse->SectionPath()));

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
  // The folder is there (and takes the section): only the socket's path is too long.
  fs::create_directory(folder_ / std::string(120, 'z'));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstanceChannel channel(Name(), c.folder);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_FALSE(channel.Error().empty());
    EXPECT_EQ(channel.ReadableFd(), -1);
    EXPECT_FALSE(channel.Post(1, 2, "lost"));
    EXPECT_FALSE(channel.NextNotice().has_value());
    EXPECT_FALSE(fs::exists(channel.SectionPath())) << "nothing left behind";
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
// desktop session's copy; both must still meet: the folders come from fixed paths only.
TEST(InstanceSocketFolders, AreTheUsersPrivateFoldersWhateverTheEnvironmentSays) {
  const std::string uid = std::to_string(::geteuid());
  std::vector<std::string> expected;
  struct stat runtime {};
  const std::string runtimeBase = "/run/user/" + uid;
  if (::lstat(runtimeBase.c_str(), &runtime) == 0 && S_ISDIR(runtime.st_mode) && runtime.st_uid == ::geteuid())
    expected.push_back(runtimeBase + "/ecr-im-" + uid);
  expected.push_back("/tmp/ecr-im-" + uid);
  const TempDir elsewhere;
  const std::string other = elsewhere.Path().string();
  const test::SavedEnvironment runtimeVariable("XDG_RUNTIME_DIR"), temporary("TMPDIR");
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
    runtimeVariable.Set(c.runtimeFolder);
    temporary.Set(c.temporaryFolder);
    EXPECT_EQ(InstanceSocketFolders().usable, expected) << c.what;
  }
  for (const std::string& folder : expected) {
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0) << folder;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_EQ(info.st_mode & 0777, 0700u);
  }
}

// The user's runtime folder is preferred while it is there; a folder that is not the
// user's own or that others may enter is skipped and said so, never used.
TEST_F(InstanceChannelTest, TheRuntimeFolderComesFirstAndForeignOrOpenFoldersAreSkipped) {
  const std::string uid = std::to_string(::geteuid());
  const bool root = ::geteuid() == 0;
  constexpr uid_t kOtherUser = 4242;
  struct Case {
    const char* what;
    bool needsRoot;
    // Prepares the runtime base and the temporary base.
    std::function<void(const fs::path& runtime, const fs::path& temporary)> prepare;
    bool runtimeUsable;
    bool temporaryUsable;
    // What the skipped entry ends with; empty: nothing skipped.
    std::string skippedEnding;
  };
  const auto own = [](const fs::path& folder) { fs::create_directory(folder); };
  const std::vector<Case> cases = {
      {"the user's runtime folder", false, [&](auto& r, auto&) { own(r); }, true, true, ""},
      {"no runtime folder: no session", false, [](auto&, auto&) {}, false, true, ""},
      {"a runtime folder of another user", true,
       [&](auto& r, auto&) {
         own(r);
         ASSERT_EQ(::chown(r.c_str(), kOtherUser, kOtherUser), 0);
       },
       false, true, ": belongs to user 4242"},
      {"a runtime path that is no folder", false, [](auto& r, auto&) { std::ofstream(r) << "x"; }, false, true,
       ": not a folder"},
      {"our temporary folder made by another user first", true,
       [&](auto& r, auto& t) {
         own(r);
         fs::create_directory(t / ("ecr-im-" + uid));
         ASSERT_EQ(::chown((t / ("ecr-im-" + uid)).c_str(), kOtherUser, kOtherUser), 0);
       },
       true, false, ": belongs to user 4242"},
      {"our temporary folder open to others", false,
       [&](auto&, auto& t) {
         fs::create_directory(t / ("ecr-im-" + uid));
         ASSERT_EQ(::chmod((t / ("ecr-im-" + uid)).c_str(), 0777), 0);
       },
       false, false, ": open to other users"},
      {"a link in our temporary folder's place", false,
       [&](auto&, auto& t) {
         fs::create_directory(t / "elsewhere");
         fs::create_directory_symlink(t / "elsewhere", t / ("ecr-im-" + uid));
       },
       false, false, ": not a folder"},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root) continue;  // only root can give a folder to another user
    const fs::path base = folder_ / ("case" + std::to_string(++number));
    const fs::path runtime = base / "run-user";
    const fs::path temporary = base / "tmp";
    fs::create_directories(temporary);
    c.prepare(runtime, temporary);
    const InstanceFolders folders = ChooseInstanceFolders(runtime.string(), temporary.string());
    std::vector<std::string> usable;
    if (c.runtimeUsable) usable.push_back((runtime / ("ecr-im-" + uid)).string());
    if (c.temporaryUsable) usable.push_back((temporary / ("ecr-im-" + uid)).string());
    EXPECT_EQ(folders.usable, usable);
    if (c.skippedEnding.empty()) {
      EXPECT_TRUE(folders.skipped.empty());
    } else {
      ASSERT_EQ(folders.skipped.size(), 1u);
      EXPECT_TRUE(folders.skipped[0].starts_with(base.string())) << folders.skipped[0];
      EXPECT_TRUE(folders.skipped[0].ends_with(c.skippedEnding)) << folders.skipped[0];
    }
  }
}

// A sender posts into every folder a running copy may have chosen, and counts the copies
// its notice reached.
TEST_F(InstanceChannelTest, APostReachesTheCopiesInEveryFolderAndCountsThem) {
  const std::string runtime = (folder_ / "runtime").string();
  const std::string temporary = (folder_ / "tmp").string();
  fs::create_directory(runtime);
  fs::create_directory(temporary);
  struct Case {
    const char* what;
    std::vector<std::string> copyFolders;  // empty: no copy runs
    std::vector<std::string> senderFolders;
    int reached;
  };
  const std::vector<Case> cases = {
      {"copy started without a session, sender in one", {temporary}, {runtime, temporary}, 1},
      {"copy started in the session, sender from cron", {runtime, temporary}, {temporary}, 1},
      {"copy started in the session, sender in it", {runtime, temporary}, {runtime, temporary}, 1},
      {"no copy runs", {}, {runtime, temporary}, 0},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = Name("copy" + std::to_string(++number));
    std::unique_ptr<InstanceChannel> copy;
    if (!c.copyFolders.empty()) copy = std::make_unique<InstanceChannel>(name, c.copyFolders);
    InstanceChannel sender(name, c.senderFolders);
    ASSERT_TRUE(sender.IsOpen()) << sender.Error();
    const PostResult result = sender.Post(7, 2, "pw");
    EXPECT_TRUE(result.posted);
    EXPECT_EQ(result.othersReached, c.reached);
    if (copy) {
      EXPECT_EQ(WaitReadable(*copy, c.reached > 0 ? 5000 : 200), c.reached > 0);
      // A reached copy takes one notice, and reads the text from the section beside the
      // socket that took it.
      if (c.reached > 0) {
        EXPECT_TRUE(copy->NextNotice().has_value());
        EXPECT_FALSE(copy->NextNotice().has_value()) << "one notice, though the copy has a socket in each folder";
        EXPECT_EQ(copy->ReadText(255), "pw");
      }
    }
    ASSERT_TRUE(WaitReadable(sender)) << "the sender's own notice comes back";
  }
}

// The runtime folder goes with the user's last session while a copy runs on (nohup, a
// lingering user): the copy stays reachable through the temporary folder, from a start
// without a session and from one of a new session alike.
TEST_F(InstanceChannelTest, ACopyStaysReachableWhenItsRuntimeFolderGoes) {
  const fs::path runtimeBase = folder_ / "run-user";
  const fs::path temporaryBase = folder_ / "tmp";
  fs::create_directory(runtimeBase);
  fs::create_directory(temporaryBase);
  const auto folders = [&] { return ChooseInstanceFolders(runtimeBase.string(), temporaryBase.string()).usable; };
  const std::string name = Name();
  InstanceChannel copy(name, folders());
  ASSERT_TRUE(copy.IsOpen()) << copy.Error();
  ASSERT_EQ(folders().size(), 2u);

  fs::remove_all(runtimeBase);
  {
    InstanceChannel fromCron(name, folders());
    const PostResult posted = fromCron.Post(2, 2, "pw");
    EXPECT_EQ(posted.othersReached, 1);
    EXPECT_EQ(posted.reached, std::vector<std::uint64_t>{copy.SenderId()});
  }
  ASSERT_TRUE(WaitReadable(copy));
  EXPECT_TRUE(copy.NextNotice().has_value());
  EXPECT_EQ(copy.ReadText(255), "pw");

  // A new session makes the runtime folder again; its section is a new one.
  fs::create_directory(runtimeBase);
  InstanceChannel inNewSession(name, folders());
  EXPECT_EQ(inNewSession.Post(2, 2, "again").othersReached, 1);
  ASSERT_TRUE(WaitReadable(copy));
  EXPECT_TRUE(copy.NextNotice().has_value());
  EXPECT_EQ(copy.ReadText(255), "again");
  const std::string newSection = inNewSession.SectionPath();
  ASSERT_TRUE(newSection.starts_with(runtimeBase.string()));
}

// The section of a folder that went away is no longer the one at its name: its last user
// leaves the new one there.
TEST_F(InstanceChannelTest, TheLastUserOfASectionWhoseFolderWentLeavesTheNewOneAtItsName) {
  const fs::path runtimeBase = folder_ / "run-user";
  fs::create_directory(runtimeBase);
  const std::string runtime = PrivateSocketFolder(runtimeBase.string());
  auto old = std::make_unique<InstanceChannel>(Name(), runtime);
  ASSERT_TRUE(old->IsOpen()) << old->Error();
  fs::remove_all(runtimeBase);
  fs::create_directory(runtimeBase);
  InstanceChannel anew(Name(), PrivateSocketFolder(runtimeBase.string()));
  ASSERT_TRUE(anew.IsOpen()) << anew.Error();
  ASSERT_EQ(anew.SectionPath(), old->SectionPath());
  old.reset();
  EXPECT_TRUE(fs::exists(anew.SectionPath()));
  ASSERT_TRUE(anew.Post(2, 2, "kept"));
  EXPECT_EQ(anew.ReadText(255), "kept");
}

// A receiver answers the notice it took to the socket it came from; the poster keeps the
// answers to its own notices only, and one that stopped receiving can no longer be
// answered.
TEST_F(InstanceChannelTest, AnswersGoBackToThePosterOfTheNotice) {
  auto poster = Open(Name());
  auto receiver = Open(Name());
  EXPECT_FALSE(receiver->Answer(true)) << "no notice to answer yet";
  ASSERT_TRUE(poster->Post(0xC123, 2, "pw"));
  ASSERT_TRUE(WaitReadable(*receiver));
  ASSERT_TRUE(receiver->NextNotice().has_value());
  EXPECT_TRUE(receiver->Answer(true));
  EXPECT_FALSE(receiver->Answer(false)) << "one answer per notice";

  ASSERT_TRUE(WaitReadable(*poster));
  std::vector<InstanceNotice> notices;
  while (auto notice = poster->NextNotice()) notices.push_back(*notice);
  EXPECT_EQ(notices, std::vector<InstanceNotice>{(InstanceNotice{0xC123, 2, poster->SenderId()})}) << "its loop-back";
  EXPECT_EQ(poster->TakeAnswers(), std::vector<InstanceAnswer>{(InstanceAnswer{0xC123, true, receiver->SenderId()})});
  EXPECT_TRUE(poster->TakeAnswers().empty());
  // The receiver's own notices are not answered to it by its own answers.
  EXPECT_FALSE(receiver->NextNotice().has_value());
  EXPECT_TRUE(receiver->TakeAnswers().empty());

  ASSERT_TRUE(poster->Post(0xC123, 2, "late"));
  poster->StopReceiving();
  ASSERT_TRUE(WaitReadable(*receiver));
  ASSERT_TRUE(receiver->NextNotice().has_value());
  EXPECT_FALSE(receiver->Answer(true)) << "the poster stopped receiving";
}

// A notice came by the runtime folder, which goes before it is answered: the answer reaches
// the poster by its socket in the temporary folder.
TEST_F(InstanceChannelTest, AnAnswerReachesItsPosterWhenTheFolderItsNoticeCameByGoes) {
  const fs::path runtimeBase = folder_ / "run-user";
  const fs::path temporaryBase = folder_ / "tmp";
  fs::create_directory(runtimeBase);
  fs::create_directory(temporaryBase);
  const auto folders = [&] { return ChooseInstanceFolders(runtimeBase.string(), temporaryBase.string()).usable; };
  InstanceChannel poster(Name(), folders());
  InstanceChannel receiver(Name(), folders());
  ASSERT_TRUE(poster.Post(7, 2, "pw"));
  fs::remove_all(runtimeBase);
  ASSERT_TRUE(WaitReadable(receiver));
  ASSERT_TRUE(receiver.NextNotice().has_value());
  EXPECT_TRUE(receiver.Answer(true));
  while (poster.NextNotice()) {
  }
  EXPECT_EQ(poster.TakeAnswers(), std::vector<InstanceAnswer>{(InstanceAnswer{7, true, receiver.SenderId()})});
}

// A socket file is removed when a channel opens only while nobody is bound to it and the
// process its name gives is gone.
TEST_F(InstanceChannelTest, SocketFilesOfDeadProcessesGoWhenTheNextChannelOpens) {
  const pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string prefix = "ecr-im-" + std::to_string(::geteuid()) + "-0123456789abcdef.";
  // A socket file as a process leaves it: bound, then the process went without removing it.
  int serial = 0;
  const auto leftBehind = [&](pid_t pid, bool stillBound) {
    const std::string path = (sockets_ / (prefix + std::to_string(pid) + "." + std::to_string(serial++))).string();
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    if (!stillBound) ::close(fd);
    return std::make_pair(path, stillBound ? fd : -1);
  };
  const auto dead = leftBehind(gone, false);
  const auto reusedId = leftBehind(1, false);  // the id belongs to a live process now
  const auto bound = leftBehind(gone, true);
  auto live = Open(Name("live"));

  auto opened = Open(Name("another program"));
  EXPECT_FALSE(fs::exists(dead.first));
  EXPECT_TRUE(fs::exists(reusedId.first));
  EXPECT_TRUE(fs::exists(bound.first));
  EXPECT_TRUE(fs::exists(live->SocketPath()));
  ::close(bound.second);
}

}  // namespace
}  // namespace ecr
