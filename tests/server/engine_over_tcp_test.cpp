// The request engine behind the real socket server, with real TCP clients.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "server/request_engine.h"
#include "server/sock_server.h"
#include "tests/server/engine_fakes.h"
#include "tests/server/tcp_test_client.h"

namespace ecr {
namespace {

using testing_support::PumpUntil;
using testing_support::TcpClient;

class EngineOverTcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::EnsureApplication();
    server.SetLocalPort(0);
    server.OnConnect = [this](std::uint16_t id) {
      clientIds.push_back(id);
      ++connects;
      engine.ClientConnected();
    };
    server.OnDataIn = [this](std::uint16_t id, const std::string& data) {
      engine.DispatchRequest(server, &poller, id, data);
    };
    server.OnDisconnect = [this](std::uint16_t id) {
      engine.ClientDisconnected(server, &poller, id);
      ++disconnects;
    };
    server.Open();
  }

  std::unique_ptr<TcpClient> Connect() {
    auto client = std::make_unique<TcpClient>(server.BoundPort());
    const int before = connects;
    EXPECT_TRUE(PumpUntil([&] { return connects > before; }));
    return client;
  }
  static std::string Request(int set, int command, int logNo, std::string_view payload = {}) {
    return BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command),
                              static_cast<std::uint8_t>(logNo), 0, {}, payload);
  }
  static std::string Reply(int set, int command, int logNo, int code, std::string_view payload = {}) {
    return BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command),
                              static_cast<std::uint8_t>(logNo), static_cast<std::uint8_t>(code), {}, payload);
  }

  ServerSettings settings;
  testing_support::CountingSaver saver;
  testing_support::RecordingPoller poller;
  RequestEngine engine{settings, saver, "v1.0.21.1"};
  TSockServer server;
  std::vector<std::uint16_t> clientIds;  // of each connection, in order
  int connects = 0;
  int disconnects = 0;
};

TEST_F(EngineOverTcpTest, IdentifyOpenAndMonitorCopies) {
  auto owner = Connect();
  auto monitor = Connect();
  owner->SendMessage(Request(255, cmdIdentify, 0));
  EXPECT_EQ(owner->ReadMessage(), Reply(255, 1, 0, 0, "HARBENDIX;v1.0.21.1;"));

  monitor->SendMessage(Request(2, cmdOpen, 12));
  EXPECT_EQ(monitor->ReadMessage(), Reply(2, 1, 12, 0));
  owner->SendMessage(Request(1, cmdOpen, 12, "x;"));
  // The monitor sees the request before the reply.
  EXPECT_EQ(monitor->ReadMessage(), Request(1, cmdOpen, 12, "x;"));
  EXPECT_EQ(monitor->ReadMessage(), Reply(1, 1, 12, 8, "HARBENDIX"));
  EXPECT_EQ(owner->ReadMessage(), Reply(1, 1, 12, 8, "HARBENDIX"));
  owner->SendMessage(Request(1, cmdOpen, 12));
  EXPECT_EQ(owner->ReadMessage(), Reply(1, 1, 12, 0, "HARBENDIX"));
  EXPECT_EQ(poller.Take(), (std::vector<std::string>{"AddEcr 12", "StartNoise", "CancelExchange"}));

  // Bad requests are answered, never punished with a close.
  // A short message: the missing header bytes read as 0, so the register number is wrong.
  owner->SendMessage(std::string(3, '\x01'));
  EXPECT_EQ(owner->ReadMessage(), Reply(1, 1, 0, 20));
  owner->SendMessage(Request(99, 1, 1));
  EXPECT_EQ(owner->ReadMessage(), Reply(99, 1, 1, 19));
  EXPECT_EQ(disconnects, 0);
}

TEST_F(EngineOverTcpTest, ADisconnectFreesTheSetsForOthers) {
  auto first = Connect();
  first->SendMessage(Request(1, cmdOpen, 4));
  EXPECT_EQ(first->ReadMessage(), Reply(1, 1, 4, 0, "HARBENDIX"));
  first->SendMessage(Request(254, cmdOpen, 4));
  EXPECT_EQ(first->ReadMessage(), Reply(254, 1, 4, 0));
  auto second = Connect();
  second->SendMessage(Request(1, cmdOpen, 4));
  EXPECT_EQ(second->ReadMessage(), Reply(1, 1, 4, 2, "HARBENDIX"));

  first->Close();
  ASSERT_TRUE(PumpUntil([&] { return disconnects == 1; }));
  EXPECT_EQ(engine.EcrSnapshot(4).QueueCount, 0);
  EXPECT_FALSE(engine.PollingActive());
  second->SendMessage(Request(1, cmdOpen, 4));
  EXPECT_EQ(second->ReadMessage(), Reply(1, 1, 4, 0, "HARBENDIX"));
}

TEST_F(EngineOverTcpTest, TheNextConnectionInASlotInheritsNoSubscription) {
  settings.SubscriberPassword = "secret";
  auto first = Connect();
  for (int join = 0; join < 2; ++join) {
    first->SendMessage(Request(254, cmdOpen, 4, "secret"));
    EXPECT_EQ(first->ReadMessage(), Reply(254, 1, 4, 0));
  }
  first->Close();
  ASSERT_TRUE(PumpUntil([&] { return disconnects == 1; }));

  auto second = Connect();
  ASSERT_EQ(clientIds.size(), 2u);
  EXPECT_EQ(clientIds[1], clientIds[0]);
  second->SendMessage(Request(254, cmdOpen, 4, "wrong"));
  EXPECT_EQ(second->ReadMessage(), Reply(254, 1, 4, 8));
  // A register message for the subscribers of register 4 reaches nobody.
  engine.OnEcrMessage(server, &poller, 4, "123456;4;0;X;", 0);
  EXPECT_TRUE(second->NothingArrives(std::chrono::milliseconds(200)));
}

}  // namespace
}  // namespace ecr
