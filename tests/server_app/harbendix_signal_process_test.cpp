// The register server as a process, asked to end by the system: SIGTERM (a stop of the
// service, the end of the session), SIGHUP and SIGINT close it as the end of the desktop
// session does, without the password prompt: the settings are saved, the close is logged,
// and the next run goes on with the register counters where this one left them.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "server/client_message.h"
#include "server/commands.h"
#include "tests/server_app/harbendix_process.h"
#include "tests/server_app/loopback_ports.h"
#include "tests/support/register_emulator.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing::FreePort;
using testing::HarbendixFolder;
using testing::HarbendixProcess;
using testing::ServingFolder;
using testing::TestClient;

constexpr int kEcr = 7;
const std::string kStarted = "Harbendix v1.0.21 started on COM1.";
const std::string kClosed = "Harbendix v1.0.21 closed by user.\r\n";

// The owner of SET 1 of register 7 on the running server.
class Owner {
 public:
  explicit Owner(std::uint16_t port) : client_(port) {
    EXPECT_TRUE(client_.Connected());
    EXPECT_TRUE(client_.Send(BuildClientMessage(1, cmdOpen, kEcr, 0, "", "")));
    EXPECT_EQ(Next(), "HARBENDIX");
  }
  // The payload of the next message; "(nothing)" when none came in time.
  std::string Next() {
    const auto message = client_.Receive(20s);
    return message ? ParseClientMessage(*message).Payload : "(nothing)";
  }

 private:
  TestClient client_;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(HarbendixSignalProcess, EachRequestToEndClosesLikeTheSessionsEndAndTheNumbersGoOn) {
  for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(::testing::Message() << "signal " << signalNumber);
    RegisterEmulator emulator;
    EmulatedRegister& ecr = emulator.AddRegister(kEcr).SetStatus("123456;");
    HarbendixFolder folder;
    folder.MapPort("COM1", emulator.PortPath());
    ServerSettings settings;
    settings.AdminPassword = "pw";  // a prompt would wait for ever: none may show
    settings.IPPort = FreePort();
    folder.WriteSettings(settings);

    {
      HarbendixProcess server(folder, {});
      ASSERT_TRUE(folder.WaitForLog(kStarted)) << folder.Log() << server.Output();
      Owner owner(settings.IPPort);
      ecr.QueueOnLineMessage("123456;1;0;A;");
      EXPECT_EQ(owner.Next(), "123456;1;A;1;1;");
      ecr.QueueOnLineMessage("123456;2;0;B;");
      EXPECT_EQ(owner.Next(), "123456;2;B;2;1;");

      ASSERT_EQ(::kill(server.Pid(), signalNumber), 0);
      EXPECT_EQ(server.WaitForExit(20s), 0) << folder.Log() << server.Output();
      const std::string log = folder.Log();
      ASSERT_GE(log.size(), kClosed.size());
      EXPECT_EQ(log.substr(log.size() - kClosed.size()), kClosed) << log;
      EXPECT_EQ(Count(log, " stopped."), 1u) << log;
      EXPECT_EQ(server.Output().find("Sanitizer"), std::string::npos) << server.Output();
    }

    HarbendixProcess again(folder, {}, "again.txt");
    ASSERT_TRUE(testing::WaitUntil([&] { return Count(folder.Log(), kStarted) == 2; }, 20s)) << folder.Log();
    Owner owner(settings.IPPort);
    ecr.QueueOnLineMessage("123456;3;0;C;");
    EXPECT_EQ(owner.Next(), "123456;3;C;3;1;");
  }
}

// A signal that comes while the program starts, from the first moment of its main (before
// the toolkit, the settings file and the instance messages are made) on, is kept: the
// start goes on, then the close follows, logged, and the program ends with status 0. One
// that comes before main ran ends the process by the signal before it has done anything
// (the system's default; no log is opened yet).
TEST(HarbendixSignalProcess, ASignalAtAnyMomentOfTheStartIsKeptOnceMainBegan) {
  for (const StartMoment moment : StartMoments()) {
    SCOPED_TRACE(::testing::Message() << "SIGTERM " << moment.delayMs << " ms after "
                                      << (moment.fromMain ? "main began" : "the start"));
    ServingFolder serving;
    HarbendixProcess server(serving.folder, {});
    const SignalledStart signalled = SignalAtMoment(server, moment, serving.folder.LogPath(), 30s);
    ASSERT_TRUE(signalled.exit.has_value()) << serving.folder.Log() << server.Output();
    if (signalled.beforeMain) continue;
    EXPECT_EQ(signalled.exit, 0) << serving.folder.Log() << server.Output();
    const std::string log = serving.folder.Log();
    ASSERT_GE(log.size(), kClosed.size()) << log;
    EXPECT_EQ(log.substr(log.size() - kClosed.size()), kClosed) << log;
    EXPECT_EQ(Count(log, " closed by user."), 1u) << log;
  }
}

// The error box of a failed first start holds the start until a person answers it; a
// signal rejects it, and the close follows.
TEST(HarbendixSignalProcess, TheErrorBoxOfAFailedFirstStartGivesWayToASignal) {
  HarbendixFolder folder;  // COM1 names no device: the first start fails
  ServerSettings settings;
  settings.AdminPassword = "pw";
  settings.IPPort = FreePort();
  folder.WriteSettings(settings);
  HarbendixProcess server(folder, {});
  ASSERT_TRUE(folder.WaitForLog("Harbendix v1.0.21 stopped.")) << folder.Log() << server.Output();
  ASSERT_EQ(::kill(server.Pid(), SIGTERM), 0);
  EXPECT_EQ(server.WaitForExit(20s), 0) << folder.Log() << server.Output();
  const std::string log = folder.Log();
  ASSERT_GE(log.size(), kClosed.size()) << log;
  EXPECT_EQ(log.substr(log.size() - kClosed.size()), kClosed) << log;
}

// Once the close has begun, the signals that follow (a service manager that repeats its
// stop, a user who presses Ctrl+C again) never end the program by the signal: it closes as
// the first one asked and ends with status 0.
TEST(HarbendixSignalProcess, SignalsThatFollowTheFirstNeverEndItByTheSignal) {
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    ServingFolder serving;
    HarbendixProcess server(serving.folder, {});
    ASSERT_TRUE(serving.folder.WaitForLog(kStarted)) << serving.folder.Log() << server.Output();
    EXPECT_EQ(server.SignalUntilEnded(SIGTERM, {SIGTERM, SIGINT, SIGHUP}, 20s), 0)
        << serving.folder.Log() << server.Output();
    EXPECT_EQ(Count(serving.folder.Log(), " closed by user."), 1u) << serving.folder.Log();
  }
}

}  // namespace
}  // namespace ecr
