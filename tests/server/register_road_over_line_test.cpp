// The register side end to end: registers played on a pseudo-terminal, the serial line,
// the polling thread, the request engine, the socket server and TCP clients on 127.0.0.1,
// wired as the server application wires them. The polling thread and the main thread are
// both inside the engine.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/log_file.h"
#include "line/pol_thread.h"
#include "line/simple_com_object.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/request_engine.h"
#include "server/sock_server.h"
#include "tests/server/engine_fakes.h"
#include "tests/server/register_road_fixture.h"
#include "tests/server/tcp_test_client.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing_support::DescribeReply;
using testing_support::PumpUntil;
using testing_support::TcpClient;

// The engine's view of the real polling thread.
class PolThreadControl : public PollingControl {
 public:
  explicit PolThreadControl(TPolThread& thread) : thread_(thread) {}
  void AddEcr(int logNo) override { thread_.AddEcr(logNo); }
  void RemoveEcr(int logNo) override { thread_.RemoveEcr(logNo); }
  void StartNoise() override { thread_.StartNoise(); }
  void StopNoise() override { thread_.StopNoise(); }
  void CancelExchange() override { thread_.CancelExchange(); }
  void SetInLineCommand(std::string_view text) override { thread_.SetInLineCommand(text); }
  bool SetOnLineAnswer(std::string_view text) override { return thread_.SetOnLineAnswer(text); }
  std::size_t BlockCapacity() const override { return thread_.BlockCapacity(); }

 private:
  TPolThread& thread_;
};

class RegisterRoadOverLine : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::EnsureApplication();
    log.Open();
    server.SetLocalPort(0);
    server.OnConnect = [this](std::uint16_t id) {
      clientIds.push_back(id);
      engine.ClientConnected();
    };
    server.OnDataIn = [this](std::uint16_t id, const std::string& data) {
      engine.DispatchRequest(server, &control, id, data);
    };
    server.OnDisconnect = [this](std::uint16_t id) {
      engine.ClientDisconnected(server, &control, id);
      ++disconnects;
    };
    server.Open();

    line.SetLog(log);
    line.PortName = emulator.PortPath();
    line.SetBaudRate(9600);
    line.OnTakeBlock = [this](TBasicCommunicationObject& sender, std::uint8_t n, const std::string& block,
                              bool& accept) { engine.AcceptEcrMessage(sender, n, block, accept); };
    thread.Com = &line;
    thread.SetLog(log);
    thread.OnEcrInLine = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine.OnEcrStatus(server, &control, n, block, r);
    };
    thread.OnInlSended = [this](TPolThread&, int n, std::uint8_t r) { engine.OnCommandSent(server, &control, n, r); };
    thread.OnInlReceived = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine.OnCommandAnswer(server, &control, n, block, r);
    };
    thread.OnOnlReceived = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine.OnEcrMessage(server, &control, n, block, r);
    };
    thread.OnOnlSended = [this](TPolThread&, int n, std::uint8_t r) {
      engine.OnOnlineAnswerSent(server, &control, n, r);
    };
    thread.OnNoAnswer = [this](TPolThread&, int, const std::string&, std::uint8_t) { engine.ClearCurrentExchange(); };
    thread.StopNoise();
    line.Open();
    thread.Resume();
  }

  std::unique_ptr<TcpClient> Connect() { return std::make_unique<TcpClient>(server.BoundPort()); }
  static std::string Request(int set, int command, std::string_view payload = {}) {
    return BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command), 7, 0, {}, payload);
  }
  // The next message a client gets, described; "(nothing)" when none came in time.
  static std::string Next(TcpClient& client) {
    const std::optional<std::string> message = client.ReadMessage();
    return message ? DescribeReply(ParseClientMessage(*message)) : "(nothing)";
  }
  void Open(TcpClient& client, int set) {
    client.SendMessage(Request(set, cmdOpen));
    const std::string reply = Next(client);
    ASSERT_EQ(reply.rfind(std::to_string(set) + "/1/7 err 0 ", 0), 0u) << reply;
  }
  bool EmulatorSees(const std::function<bool()>& condition) {
    return PumpUntil(condition, testing_support::kWaitLimit);
  }

  std::vector<std::uint16_t> clientIds;  // of each connection, in order
  int disconnects = 0;
  TempDir dir;
  LogFile log{dir.File("server.log")};
  RegisterEmulator emulator;
  EmulatedRegister& ecr7 = emulator.AddRegister(7).SetStatus("1234;");
  TSimpleComObject line;
  ServerSettings settings;
  testing_support::CountingSaver saver;
  RequestEngine engine{settings, saver, "v1.0.0.1"};
  TSockServer server;
  // Declared last: it stops before the server and the line it uses go.
  TPolThread thread;
  PolThreadControl control{thread};
};

TEST_F(RegisterRoadOverLine, InLineCommandReachesTheRegisterAndItsAnswerComesBack) {
  auto owner = Connect();
  auto monitor = Connect();
  Open(*monitor, 6);
  Open(*owner, 5);
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 []");  // the request's copy
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 [HARBENDIX]");
  ecr7.QueueAnswer("E12");
  owner->SendMessage(Request(5, 9, "ABC"));
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [ABC]");
  EXPECT_EQ(Next(*owner), "5/9/7 err 13 [E12]");
  EXPECT_EQ(Next(*monitor), "5/9/7 err 13 [E12]");
  EXPECT_EQ(ecr7.Commands(), std::vector<std::string>{"IABC"});
  int serial = 0;
  engine.UpdateSettings([&](ServerSettings& record) { serial = record.Ecr(7).SerialNumber; });
  EXPECT_EQ(serial, 1234);

  // A command that cannot be sent is dropped with the error of the line.
  ecr7.NakNext(EmulatedRegister::kAlways);
  owner->SendMessage(Request(5, 4));
  EXPECT_EQ(Next(*owner), "5/4/7 err 17 []");
  ecr7.Behave();
  ecr7.NakNext(0);
  owner->SendMessage(Request(5, cmdState));
  EXPECT_EQ(Next(*owner), "5/7/7 err 0 []");
}

TEST_F(RegisterRoadOverLine, MessagesWaitForTheirOwnerAndAnswersGoBackToTheRegister) {
  auto owner = Connect();
  auto subscriber = Connect();
  subscriber->SendMessage(Request(SubscriberSet, cmdOpen));
  ASSERT_EQ(Next(*subscriber), "254/1/7 err 0 []");
  Open(*owner, 1);
  // Texts are kept to characters that every code table keeps as they are.
  // SET 9 has no owner: the register keeps offering its message.
  ecr7.QueueOnLineMessage("123456;3;8;Q;1;2.50;");
  const int takes = ecr7.Takes();
  ASSERT_TRUE(EmulatorSees([&] { return ecr7.Takes() > takes + 3; }));
  EXPECT_EQ(ecr7.QueuedMessages(), 1u);
  EXPECT_TRUE(owner->NothingArrives(100ms));

  auto service = Connect();
  Open(*service, 9);
  EXPECT_EQ(Next(*service), "9/128/7 err 0 [123456;3;Q;1;250;1;1;]");
  EXPECT_EQ(Next(*subscriber), "254/128/7 err 0 block [9;128;] [123456;3;Q;1;250;1;1;]");
  service->SendMessage(Request(9, cmdAnswer, "OK;"));
  EXPECT_EQ(Next(*service), "9/4/7 err 0 [OK;]");
  EXPECT_EQ(ecr7.OnLineAnswers(), std::vector<std::string>{"OK;"});

  ecr7.QueueOnLineMessage("123456;4;0;X;");
  EXPECT_EQ(Next(*owner), "1/128/7 err 0 [123456;4;X;2;1;]");
  EXPECT_EQ(Next(*subscriber), "254/128/7 err 0 block [1;128;] [123456;4;X;2;1;]");
}

TEST_F(RegisterRoadOverLine, SaleQuestionIsAnsweredFromTheQueuedRequest) {
  auto owner = Connect();
  Open(*owner, 13);
  owner->SendMessage(Request(13, 4, "1;X;1.5;2;"));
  ecr7.QueueOnLineMessage("123456;4;5;");
  EXPECT_EQ(Next(*owner), "13/160/7 err 0 ref 1/1/123456/4 [1;X;1.5;2;]");
  EXPECT_EQ(ecr7.OnLineAnswers(), std::vector<std::string>{"1;X;1.5;2;"});
  // Nothing is queued for the next question: the register is freed, the reply confirmed.
  ecr7.QueueOnLineMessage("123456;5;A;");
  EXPECT_EQ(Next(*owner), "13/4/7 err 0 ref 1/1/123456/4 [1;X;1.5;2;]");
  EXPECT_TRUE(EmulatorSees([&] { return ecr7.QueuedMessages() == 0; }));
  EXPECT_EQ(ecr7.OnLineAnswers().size(), 1u);
}

// Holds a register's answer back until the test lets it go (or a limit passes).
class AnswerGate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }
  void Wait(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait_for(lock, limit, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST_F(RegisterRoadOverLine, ReplyOfAClientThatLeftReachesOnlyTheMonitorAndTheNextOwnerGetsItsOwn) {
  // The first command's answer is held back until the next owner has queued its own; the
  // register must answer within 8000 ms of a command, so the hold ends at 6000 ms at most.
  auto gate = std::make_shared<AnswerGate>();
  auto answers = std::make_shared<std::atomic<int>>(0);
  ecr7.SetResponder([gate, answers](const std::string&) {
    const int number = ++*answers;
    if (number == 1) gate->Wait(6000ms);
    return "DONE-" + std::to_string(number);
  });
  struct OpenAtEnd {
    std::shared_ptr<AnswerGate> gate;
    ~OpenAtEnd() { gate->Open(); }
  } openAtEnd{gate};

  auto monitor = Connect();
  Open(*monitor, 6);
  auto asker = Connect();
  Open(*asker, 5);
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 []");
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 [HARBENDIX]");
  asker->SendMessage(Request(5, 9, "AAA;"));
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [AAA;]");
  // The command is on the line, its answer awaited; the asker goes away.
  ASSERT_TRUE(EmulatorSees([&] { return ecr7.Commands().size() == 1; }));
  asker->Close();
  ASSERT_TRUE(EmulatorSees([&] { return disconnects == 1; }));

  // The next connection takes the slot the asker had, and the SET, and queues the same request.
  auto next = Connect();
  Open(*next, 5);
  ASSERT_EQ(clientIds.size(), 3u);
  EXPECT_EQ(clientIds[2], clientIds[1]);
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 []");
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 [HARBENDIX]");
  next->SendMessage(Request(5, 9, "AAA;"));
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [AAA;]");
  gate->Open();

  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [DONE-1]");
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [DONE-2]");
  EXPECT_EQ(Next(*next), "5/9/7 err 0 [DONE-2]");
  // Its request ran once: the register is polled on and hears nothing more.
  const int takes = ecr7.Takes();
  ASSERT_TRUE(EmulatorSees([&] { return ecr7.Takes() > takes + 2; }));
  EXPECT_EQ(ecr7.Commands(), (std::vector<std::string>{"IAAA;", "IAAA;"}));
  EXPECT_TRUE(next->NothingArrives(100ms));
}

TEST_F(RegisterRoadOverLine, AnswerAfterTheNextOpenRestartedPollingIsTooLate) {
  auto asker = Connect();
  Open(*asker, 1);
  ecr7.QueueOnLineMessage("123456;3;1;Q;");
  EXPECT_EQ(Next(*asker), "1/129/7 err 0 [123456;3;Q;1;1;]");
  // From here on the register leaves its takes unanswered, so that no status of its own
  // ends the exchange before the answer below arrives.
  ecr7.StaySilent(EmulatorReply::Take);
  // The register waits for the answer; its only working SET is given back, polling stops.
  asker->Close();
  ASSERT_TRUE(EmulatorSees([&] { return !engine.PollingActive(); }));

  auto next = Connect();
  Open(*next, 1);
  next->SendMessage(Request(1, cmdAnswer, "LATE;"));
  EXPECT_EQ(Next(*next), "1/4/7 err 6 []");
  ecr7.Behave();
  const int takes = ecr7.Takes();
  ASSERT_TRUE(EmulatorSees([&] { return ecr7.Takes() > takes + 1; }));
  EXPECT_TRUE(ecr7.OnLineAnswers().empty());
  EXPECT_TRUE(next->NothingArrives(100ms));
}

}  // namespace
}  // namespace ecr
