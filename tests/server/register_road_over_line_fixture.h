#pragma once
// The register side end to end: registers played on a pseudo-terminal, the serial line,
// the polling thread, the request engine, the socket server and TCP clients on 127.0.0.1,
// wired as the server application wires them. The polling thread and the main thread are
// both inside the engine. The service can be stopped and started again as the main window
// does it: the line and the polling thread go, the server closes every connection, the
// engine forgets what it held.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

namespace ecr::testing_support {

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

// One start of the service's register side: the line on the emulator's terminal at `baud`
// and the polling thread, its events bound to the engine and the server.
class LineService {
 public:
  LineService(const std::string& port, std::uint32_t baud, LogFile& log, RequestEngine& engine, ClientSender& server)
      : engine_(engine), server_(server) {
    line_.SetLog(log);
    line_.PortName = port;
    line_.SetBaudRate(baud);
    line_.OnTakeBlock = [this](TBasicCommunicationObject& sender, std::uint8_t n, const std::string& block,
                               bool& accept) { engine_.AcceptEcrMessage(sender, n, block, accept); };
    thread_.Com = &line_;
    thread_.SetLog(log);
    thread_.OnEcrInLine = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine_.OnEcrStatus(server_, &control_, n, block, r);
    };
    thread_.OnInlSended = [this](TPolThread&, int n, std::uint8_t r) {
      engine_.OnCommandSent(server_, &control_, n, r);
    };
    thread_.OnInlReceived = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine_.OnCommandAnswer(server_, &control_, n, block, r);
    };
    thread_.OnOnlReceived = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine_.OnEcrMessage(server_, &control_, n, block, r);
    };
    thread_.OnOnlSended = [this](TPolThread&, int n, std::uint8_t r) {
      engine_.OnOnlineAnswerSent(server_, &control_, n, r);
    };
    thread_.OnNoAnswer = [this](TPolThread&, int, const std::string&, std::uint8_t) {
      engine_.ClearCurrentExchange();
    };
    thread_.StopNoise();
    line_.Open();
    thread_.Resume();
  }
  LineService(const LineService&) = delete;
  LineService& operator=(const LineService&) = delete;

  PollingControl& Control() { return control_; }

 private:
  RequestEngine& engine_;
  ClientSender& server_;
  TSimpleComObject line_;
  PolThreadControl control_{thread_};
  // Declared last: it ends (waiting for the exchange under way) before the line goes.
  TPolThread thread_;
};

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

class RegisterRoadOverLine : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    log.Open();
    server.SetLocalPort(0);
    server.OnConnect = [this](std::uint16_t id) {
      clientIds.push_back(id);
      engine.ClientConnected();
    };
    server.OnDataIn = [this](std::uint16_t id, const std::string& data) {
      engine.DispatchRequest(server, Control(), id, data);
    };
    server.OnDisconnect = [this](std::uint16_t id) {
      engine.ClientDisconnected(server, Control(), id);
      ++disconnects;
    };
    Start();
  }
  void TearDown() override { service.reset(); }

  // The start and the stop of the service, in the main window's order.
  void Start(std::uint32_t baud = 9600) {
    server.Open();
    service = std::make_unique<LineService>(emulator.PortPath(), baud, log, engine, server);
  }
  void Stop() {
    service.reset();
    server.Close();
    engine.ResetServerState();
  }
  PollingControl* Control() { return service ? &service->Control() : nullptr; }

  std::unique_ptr<TcpClient> Connect() { return std::make_unique<TcpClient>(server.BoundPort()); }
  static std::string Request(int set, int command, std::string_view payload = {}, int logNo = 7) {
    return BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command),
                              static_cast<std::uint8_t>(logNo), 0, {}, payload);
  }
  // The next message a client gets, described; "(nothing)" when none came in time.
  static std::string Next(TcpClient& client) {
    const std::optional<std::string> message = client.ReadMessage();
    return message ? DescribeReply(ParseClientMessage(*message)) : "(nothing)";
  }
  void Open(TcpClient& client, int set, int logNo = 7) {
    client.SendMessage(Request(set, cmdOpen, {}, logNo));
    const std::string reply = Next(client);
    ASSERT_EQ(reply.rfind(std::to_string(set) + "/1/" + std::to_string(logNo) + " err 0 ", 0), 0u) << reply;
  }
  bool EmulatorSees(const std::function<bool()>& condition) { return PumpUntil(condition, kWaitLimit); }
  // The register has been taken `more` times since now: what it was to get by then it has.
  bool PolledOn(EmulatedRegister& ecr, int more = 2) {
    const int takes = ecr.Takes();
    return EmulatorSees([&] { return ecr.Takes() >= takes + more; });
  }

  std::vector<std::uint16_t> clientIds;  // of each connection, in order
  int disconnects = 0;
  TempDir dir;
  LogFile log{dir.File("server.log")};
  RegisterEmulator emulator;
  EmulatedRegister& ecr7 = emulator.AddRegister(7).SetStatus("1234;");
  ServerSettings settings;
  CountingSaver saver;
  RequestEngine engine{settings, saver, "v1.0.0.1"};
  TSockServer server;
  // Declared last: it stops before the server and the engine it uses go.
  std::unique_ptr<LineService> service;
};

}  // namespace ecr::testing_support
