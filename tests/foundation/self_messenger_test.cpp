// Instance messages between messengers of one program, driven without an event loop: the
// test polls the messenger's descriptor where a program's loop would.
#include "foundation/self_messenger.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/program_path.h"
#include "tests/support/channel_in_another_process.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

namespace fs = std::filesystem;

struct Received {
  int msgId;
  std::string text;
  bool loopBack;
  friend bool operator==(const Received&, const Received&) = default;
};

std::ostream& operator<<(std::ostream& out, const Received& r) {
  return out << "{" << r.msgId << ", \"" << r.text << "\", " << (r.loopBack ? "loop-back" : "foreign") << "}";
}

class SelfMessengerTest : public ::testing::Test {
 protected:
  SelfMessengerTest() { fs::create_directory(folder_ / "run"); }

  // A messenger of the program installed at <temp>/<install>/prog.
  std::unique_ptr<TSelfMessenger> Start(const std::string& install = "app") const {
    auto messenger = std::make_unique<TSelfMessenger>((folder_ / install / "prog").string(), (folder_ / "run").string());
    EXPECT_TRUE(messenger->IsOpen()) << messenger->Error();
    return messenger;
  }

  // Records what the messenger's handler receives.
  static std::shared_ptr<std::vector<Received>> Record(TSelfMessenger& messenger) {
    auto log = std::make_shared<std::vector<Received>>();
    messenger.SetOnSelfEvent([log, &messenger](TSelfMessenger& sender, int msgId, const std::string& text, bool loopBack) {
      EXPECT_EQ(&sender, &messenger);
      log->push_back({msgId, text, loopBack});
    });
    return log;
  }

  // What the event loop does: wait (bounded) for the descriptor, then receive.
  static bool Pump(TSelfMessenger& messenger, int timeoutMs = 5000) {
    pollfd entry{messenger.ReadableFd(), POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) != 1) return false;
    messenger.Receive();
    return true;
  }

  const TempDir dir_;
  const fs::path folder_ = dir_.Path();
};

TEST(SelfMessageName, IsTheWholePathWithEverySlashReplaced) {
  struct Case {
    std::string path;
    std::string name;
  };
  const std::string deep = "/" + std::string(300, 'd') + "/harbendix";
  const std::vector<Case> cases = {
      {"/opt/ecr/harbendix", "_opt_ecr_harbendix"},
      {"/usr/lib/ecr/wexhaven.bin", "_usr_lib_ecr_wexhaven.bin"},
      {"relative", "relative"},
      {deep, "_" + std::string(300, 'd') + "_harbendix"},
  };
  for (const Case& c : cases) EXPECT_EQ(SelfMessageName(c.path), c.name) << c.path;
}

TEST(SelfMessageName, RegisteredNumberIsStablePerNameInTheRegisteredRange) {
  for (const char* name : {"_opt_a_prog", "_opt_b_prog", ""}) {
    const std::uint16_t id = SelfMessageId(name);
    EXPECT_GE(id, 0xC000u) << name;
    EXPECT_EQ(id, SelfMessageId(name));
  }
  EXPECT_NE(SelfMessageId("_opt_a_prog"), SelfMessageId("_opt_b_prog"));
}

TEST(SelfMessenger, TheRunningProgramsMessengerIsNamedFromItsRealPath) {
  TSelfMessenger messenger;
  EXPECT_EQ(messenger.Name(), SelfMessageName(ProgramPath()));
  EXPECT_EQ(messenger.MessageId(), SelfMessageId(messenger.Name()));
}

TEST_F(SelfMessengerTest, EveryMessengerOfTheProgramReceivesTheMessageAndOnlyTheSenderAsLoopBack) {
  auto running = Start();
  auto starting = Start();
  EXPECT_EQ(running->MessageId(), starting->MessageId());
  EXPECT_NE(running->AppId(), starting->AppId());
  auto atRunning = Record(*running);
  auto atStarting = Record(*starting);

  starting->Send(smQuit, "Admin");
  ASSERT_TRUE(Pump(*running));
  ASSERT_TRUE(Pump(*starting));
  EXPECT_EQ(*atRunning, (std::vector<Received>{{smQuit, "Admin", false}}));
  EXPECT_EQ(*atStarting, (std::vector<Received>{{smQuit, "Admin", true}}));
}

TEST_F(SelfMessengerTest, ProgramsInstalledInDifferentFoldersNeverSeeEachOther) {
  auto here = Start("here");
  auto there = Start("there");
  EXPECT_NE(here->Name(), there->Name());
  auto atHere = Record(*here);

  there->Send(smQuit, "not for here");
  ASSERT_TRUE(Pump(*there));  // its own loop-back arrives, so the message is out
  EXPECT_FALSE(Pump(*here, 200));
  EXPECT_TRUE(atHere->empty());
}

TEST_F(SelfMessengerTest, TextsArriveCutTo255AndEndAtTheirFirstZero) {
  auto running = Start();
  auto log = Record(*running);
  struct Case {
    std::string sent;
    std::string received;
  };
  const std::string text300 = [] {
    std::string s;
    for (int i = 0; i < 300; ++i) s += static_cast<char>('a' + i % 26);
    return s;
  }();
  const std::vector<Case> cases = {
      {text300, text300.substr(0, 255)},
      {std::string(255, 'p'), std::string(255, 'p')},
      {"", ""},
      {std::string("pass\0word", 9), "pass"},
  };
  for (const Case& c : cases) {
    log->clear();
    running->Send(smQuit, c.sent);
    ASSERT_TRUE(Pump(*running));
    ASSERT_EQ(log->size(), 1u);
    EXPECT_EQ(log->front().text, c.received);
    EXPECT_EQ(log->front().text.size(), c.received.size());
  }
}

// A sender that waits learns what the messengers it reached did with its message: taken
// only when a handler got it; another start's messenger, one without a handler, one that
// ends with the message waiting and one whose process goes answer or count as not taken.
TEST_F(SelfMessengerTest, AWaitingSenderLearnsWhetherARunningCopyTookItsMessage) {
  using Outcome = TSelfMessenger::SendOutcome;
  using namespace std::chrono_literals;
  // What runs beside the sender, on a thread of its own; it tells when its messenger is
  // open, and ends when `done` is set (or, for some, by itself).
  using Beside = std::function<void(const std::string& program, std::promise<void>& open, std::atomic<bool>& done)>;
  const auto pumpUntilDone = [](TSelfMessenger& messenger, std::atomic<bool>& done) {
    while (!done) Pump(messenger, 20);
  };
  struct Case {
    const char* what;
    Beside beside;  // empty: nobody runs
    Outcome outcome;
    std::string handled;  // the text a handler beside got
  };
  std::string handled;
  const std::vector<Case> cases = {
      {"nobody runs", {}, Outcome::NotTaken, ""},
      {"a running copy",
       [&](const std::string& program, std::promise<void>& open, std::atomic<bool>& done) {
         TSelfMessenger copy(program, (folder_ / "run").string());
         copy.SetOnSelfEvent([&](TSelfMessenger&, int, const std::string& text, bool) { handled = text; });
         open.set_value();
         pumpUntilDone(copy, done);
       },
       Outcome::Taken, "pw"},
      {"a copy that has no handler yet",
       [&](const std::string& program, std::promise<void>& open, std::atomic<bool>& done) {
         TSelfMessenger copy(program, (folder_ / "run").string());
         open.set_value();
         pumpUntilDone(copy, done);
       },
       Outcome::NotTaken, ""},
      {"a start that ends with the message waiting",
       [&](const std::string& program, std::promise<void>& open, std::atomic<bool>&) {
         TSelfMessenger start(program, (folder_ / "run").string());
         open.set_value();
         pollfd entry{start.ReadableFd(), POLLIN, 0};
         ::poll(&entry, 1, 60000);
       },
       Outcome::NotTaken, ""},
      {"another start that asks at the same moment",
       [&](const std::string& program, std::promise<void>& open, std::atomic<bool>&) {
         TSelfMessenger other(program, (folder_ / "run").string());
         open.set_value();
         EXPECT_EQ(other.SendAndAwait(smQuit, "other", 60s), Outcome::NotTaken);
       },
       Outcome::NotTaken, ""},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    handled.clear();
    const std::string program = (folder_ / ("app" + std::to_string(++number)) / "prog").string();
    std::promise<void> open;
    std::future<void> opened = open.get_future();
    std::atomic<bool> done{false};
    std::thread beside;
    if (c.beside) {
      beside = std::thread([&] { c.beside(program, open, done); });
      opened.wait();
    }
    TSelfMessenger sender(program, (folder_ / "run").string());
    // Long enough that no outcome here comes from the wait's end.
    EXPECT_EQ(sender.SendAndAwait(smQuit, "pw", 60s), c.outcome);
    done = true;
    if (beside.joinable()) beside.join();
    EXPECT_EQ(handled, c.handled);
  }
}

// A messenger that neither answers nor ends leaves the sender without an answer once its
// wait is over, or at once when its cancel descriptor becomes readable.
TEST_F(SelfMessengerTest, AnUnansweredSenderStopsAtTheEndOfItsWaitOrWhenCancelled) {
  using namespace std::chrono_literals;
  auto silent = Start();  // on this thread, which never pumps it while the sender waits
  TSelfMessenger sender((folder_ / "app" / "prog").string(), (folder_ / "run").string());
  EXPECT_EQ(sender.SendAndAwait(smQuit, "pw", 200ms), TSelfMessenger::SendOutcome::Unanswered);

  int cancel[2];
  ASSERT_EQ(::pipe2(cancel, O_CLOEXEC), 0);
  ASSERT_EQ(::write(cancel[1], "x", 1), 1);
  TSelfMessenger cancelled((folder_ / "app" / "prog").string(), (folder_ / "run").string());
  EXPECT_EQ(cancelled.SendAndAwait(smQuit, "pw", 600s, cancel[0]), TSelfMessenger::SendOutcome::Unanswered);
  ::close(cancel[0]);
  ::close(cancel[1]);
}

// A copy killed while the sender waits for it never answers: its process's end counts.
TEST_F(SelfMessengerTest, ACopyKilledWhileTheSenderWaitsCountsAsNotTaken) {
  using namespace std::chrono_literals;
  const std::string program = (folder_ / "app" / "prog").string();
  support::ChannelInAnotherProcess copy(SelfMessageName(program), (folder_ / "run").string());
  ASSERT_TRUE(copy.Opened());
  // Killed before or while the sender waits: either way it never answers.
  std::thread killer([&copy] {
    std::this_thread::sleep_for(100ms);
    copy.Kill();
  });
  TSelfMessenger sender(program, (folder_ / "run").string());
  EXPECT_EQ(sender.SendAndAwait(smQuit, "pw", 600s), TSelfMessenger::SendOutcome::NotTaken);
  killer.join();
}

TEST_F(SelfMessengerTest, MessagesBeforeAHandlerIsSetAreConsumedWithoutEffect) {
  auto running = Start();
  auto starting = Start();
  starting->Send(smQuit, "early");
  ASSERT_TRUE(Pump(*running));  // no handler yet

  auto log = Record(*running);
  EXPECT_FALSE(Pump(*running, 200)) << "the early message is gone";
  starting->Send(smQuit, "late");
  ASSERT_TRUE(Pump(*running));
  EXPECT_EQ(*log, (std::vector<Received>{{smQuit, "late", false}}));
}

TEST_F(SelfMessengerTest, AMessageArrivingWhileTheHandlerRunsANestedLoopIsNotDelivered) {
  auto running = Start();
  auto starting = Start();
  std::vector<Received> log;
  running->SetOnSelfEvent([&](TSelfMessenger& self, int msgId, const std::string& text, bool loopBack) {
    log.push_back({msgId, text, loopBack});
    if (text == "first") {
      // A handler that shows a dialog runs a nested loop, which receives again.
      starting->Send(smQuit, "during");
      EXPECT_TRUE(Pump(self));
    }
  });

  starting->Send(smQuit, "first");
  ASSERT_TRUE(Pump(*running));
  starting->Send(smQuit, "after");
  ASSERT_TRUE(Pump(*running));
  EXPECT_EQ(log, (std::vector<Received>{{smQuit, "first", false}, {smQuit, "after", false}}));
}

TEST_F(SelfMessengerTest, AHandlerMayReplaceItselfWhileItRuns) {
  auto running = Start();
  std::vector<std::string> calls;
  running->SetOnSelfEvent([&](TSelfMessenger& self, int, const std::string& text, bool) {
    calls.push_back("old " + text);
    self.SetOnSelfEvent([&](TSelfMessenger&, int, const std::string& t, bool) { calls.push_back("new " + t); });
  });
  running->Send(smQuit, "1");
  ASSERT_TRUE(Pump(*running));
  running->Send(smQuit, "2");
  ASSERT_TRUE(Pump(*running));
  EXPECT_EQ(calls, (std::vector<std::string>{"old 1", "new 2"}));
}

// A folder where the text cannot be kept (a full disk, say) is skipped and said so; the
// messenger lives in the next folder, where later starts reach it.
TEST_F(SelfMessengerTest, AFolderWhoseSectionCannotOpenIsSkippedAndTheNextServes) {
  const fs::path runtime = folder_ / "run-user";
  const fs::path temporary = folder_ / "tmp";
  fs::create_directory(runtime);
  fs::create_directory(temporary);
  const std::string program = (folder_ / "app" / "prog").string();
  const fs::path section = [&] {
    const InstanceChannel probe(SelfMessageName(program), runtime.string());
    const std::string socket = fs::path(probe.SocketPath()).filename().string();
    return runtime / (socket.substr(0, socket.find('.')) + ".section");
  }();
  fs::create_directory(section);  // in the section file's place: it cannot be opened

  TSelfMessenger running(program, InstanceFolders{{runtime.string(), temporary.string()}, {}});
  ASSERT_TRUE(running.IsOpen()) << running.Error();
  EXPECT_EQ(running.SkippedFolders(), std::vector<std::string>{section.string() + ": Is a directory"});
  auto log = Record(running);
  TSelfMessenger fromCron(program, temporary.string());
  EXPECT_EQ(fromCron.Send(smQuit, "pw"), 1);
  ASSERT_TRUE(Pump(running));
  EXPECT_EQ(*log, (std::vector<Received>{{smQuit, "pw", false}}));
}

TEST_F(SelfMessengerTest, AMessengerThatCannotOpenSendsAndReceivesNothing) {
  TSelfMessenger broken((folder_ / "app" / "prog").string(), (folder_ / "no-such-folder").string());
  EXPECT_FALSE(broken.IsOpen());
  EXPECT_FALSE(broken.Error().empty());
  EXPECT_EQ(broken.ReadableFd(), -1);
  auto running = Start();
  auto log = Record(*running);
  broken.Send(smQuit, "lost");
  broken.Receive();
  EXPECT_FALSE(Pump(*running, 200));
  EXPECT_TRUE(log->empty());
}

}  // namespace
}  // namespace ecr
