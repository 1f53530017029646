#include "server/sock_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/tcp_test_client.h"

namespace ecr {
namespace {

using testing_support::PumpFor;
using testing_support::PumpUntil;
using testing_support::TcpClient;
using namespace std::chrono_literals;

struct Event {
  std::string kind;
  std::uint16_t id;
  std::string data;
  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& event) {
  return out << event.kind << " " << event.id << " (" << event.data.size() << " bytes)";
}

class SockServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::EnsureApplication();
    server = std::make_unique<TSockServer>();
    server->SetLocalPort(0);
    server->OnConnect = [this](std::uint16_t id) { events.push_back({"connect", id, ""}); };
    server->OnDataIn = [this](std::uint16_t id, const std::string& data) { events.push_back({"data", id, data}); };
    server->OnDisconnect = [this](std::uint16_t id) { events.push_back({"disconnect", id, ""}); };
    server->OnReadyToSend = [this](std::uint16_t) { ++readyToSend; };
    server->Open();
    port = server->BoundPort();
    ASSERT_NE(port, 0);
  }

  std::size_t Count(const std::string& kind) const {
    std::size_t n = 0;
    for (const Event& event : events) n += event.kind == kind ? 1 : 0;
    return n;
  }
  bool WaitFor(const std::string& kind, std::size_t n) {
    return PumpUntil([&] { return Count(kind) >= n; });
  }
  std::unique_ptr<TcpClient> Connect() {
    auto client = std::make_unique<TcpClient>(port);
    const std::size_t before = Count("connect");
    EXPECT_TRUE(WaitFor("connect", before + 1));
    return client;
  }
  std::vector<Event> Data() const {
    std::vector<Event> data;
    for (const Event& event : events) {
      if (event.kind == "data") data.push_back(event);
    }
    return data;
  }

  std::unique_ptr<TSockServer> server;
  std::uint16_t port = 0;
  std::vector<Event> events;
  int readyToSend = 0;
};

TEST_F(SockServerTest, FramesInPiecesAreReportedOnceWhole) {
  auto first = Connect();
  auto second = Connect();
  const std::string a = MakeClientFrame(std::string(100, 'a'));
  const std::string b = MakeClientFrame(std::string(60, 'b'));
  // Interleaved pieces of two streams: 1 + 40, 30, 30 bytes and 10, 25, 26.
  first->SendRaw(a.substr(0, 41));
  second->SendRaw(b.substr(0, 10));
  PumpFor(50ms);
  first->SendRaw(a.substr(41, 30));
  second->SendRaw(b.substr(10, 25));
  PumpFor(50ms);
  EXPECT_TRUE(Data().empty());
  first->SendRaw(a.substr(71));
  ASSERT_TRUE(WaitFor("data", 1));
  second->SendRaw(b.substr(35));
  ASSERT_TRUE(WaitFor("data", 2));
  EXPECT_EQ(Data(), (std::vector<Event>{{"data", 1, std::string(100, 'a')}, {"data", 2, std::string(60, 'b')}}));
}

TEST_F(SockServerTest, EmptyFramesAreSkippedAndAFrameBeforeCloseArrives) {
  auto client = Connect();
  client->SendRaw(std::string(3, '\0') + MakeClientFrame("xy") + std::string(1, '\0') + MakeClientFrame("z"));
  client->Close();
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(events, (std::vector<Event>{{"connect", 1, ""}, {"data", 1, "xy"}, {"data", 1, "z"}, {"disconnect", 1, ""}}));
  // The slot is free again.
  EXPECT_EQ(server->FindFreeClient(), 1);
}

TEST_F(SockServerTest, FiveHundredClientsThenRefusalThenLowestSlotFirst) {
  testing_support::RaiseDescriptorLimit();
  std::vector<std::unique_ptr<TcpClient>> clients;
  // One at a time: the listening backlog holds only 8 connections not yet accepted.
  for (int i = 0; i < TSockServer::kClientSlots; ++i) clients.push_back(Connect());
  ASSERT_EQ(Count("connect"), 500u);
  std::set<std::uint16_t> ids;
  for (const Event& event : events) ids.insert(event.id);
  EXPECT_EQ(ids.size(), 500u);
  EXPECT_EQ(*ids.rbegin(), 500);
  EXPECT_EQ(server->FindFreeClient(), 0);

  // The 501st connection is accepted and closed at once; nobody else notices.
  TcpClient extra(port);
  EXPECT_TRUE(extra.WaitClosed());
  EXPECT_EQ(Count("connect"), 500u);
  EXPECT_EQ(Count("disconnect"), 0u);
  clients[499]->SendMessage("last");
  ASSERT_TRUE(WaitFor("data", 1));
  EXPECT_EQ(Data().back(), (Event{"data", 500, "last"}));

  // Slots 7 and 3 freed (in that order) are reused lowest first.
  clients[6]->Close();
  ASSERT_TRUE(WaitFor("disconnect", 1));
  clients[2]->Close();
  ASSERT_TRUE(WaitFor("disconnect", 2));
  clients[2] = Connect();
  clients[6] = Connect();
  EXPECT_EQ(events[events.size() - 2], (Event{"connect", 3, ""}));
  EXPECT_EQ(events.back(), (Event{"connect", 7, ""}));
}

TEST_F(SockServerTest, SendDataErrorsCarryTheirTexts) {
  const auto textOf = [this](std::uint16_t id) {
    try {
      server->SendData(id, "x");
    } catch (const ESockException& error) {
      return std::string(error.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(textOf(0), "TSockServer - SendData: Error client ID: 0");
  EXPECT_EQ(textOf(501), "TSockServer - SendData: Error client ID: 501");
  EXPECT_EQ(textOf(7), "TSockServer - SendData: Socket is NOT assigned ! Client ID: 7");

  // A peer that reset the connection: the send fails with the system's text.
  auto client = Connect();
  client->Abort();
  // Sends until one fails (a send before the reset has arrived still succeeds); the event
  // loop does not run meanwhile, so the slot stays taken.
  std::string text = textOf(1);
  const auto deadline = std::chrono::steady_clock::now() + testing_support::kWaitLimit;
  while (text == "no exception" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
    text = textOf(1);
  }
  const bool reset = text == "TSockServer SendData error: " + SocketErrorText(ECONNRESET);
  const bool broken = text == "TSockServer SendData error: " + SocketErrorText(EPIPE);
  EXPECT_TRUE(reset || broken) << text;
  ASSERT_TRUE(WaitFor("disconnect", 1));
}

TEST_F(SockServerTest, HandlersThatThrowAreReportedAndTheServerGoesOn) {
  std::vector<std::string> errors;
  server->OnError = [&errors](int code, const std::string& text) {
    errors.push_back(std::to_string(code) + " " + text);
  };
  const auto throwing = [this](const char* kind) {
    return [this, kind](std::uint16_t id, const std::string& data = {}) {
      events.push_back({kind, id, data});
      throw std::runtime_error(std::string(kind) + " failed");
    };
  };
  server->OnConnect = [handler = throwing("connect")](std::uint16_t id) { handler(id); };
  server->OnDataIn = throwing("data");
  server->OnDisconnect = [handler = throwing("disconnect")](std::uint16_t id) { handler(id); };
  auto client = Connect();
  client->SendRaw(MakeClientFrame("a") + MakeClientFrame("b"));
  ASSERT_TRUE(WaitFor("data", 2));
  client->Close();
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(events, (std::vector<Event>{{"connect", 1, ""}, {"data", 1, "a"}, {"data", 1, "b"}, {"disconnect", 1, ""}}));
  EXPECT_EQ(errors, (std::vector<std::string>{"0 connect failed", "0 data failed", "0 data failed", "0 disconnect failed"}));
  EXPECT_EQ(server->FindFreeClient(), 1);
}

TEST_F(SockServerTest, SocketErrorTextIsCodeCrLfAndSystemText) {
  EXPECT_EQ(SocketErrorText(ECONNREFUSED), "111\r\nConnection refused");
  EXPECT_EQ(SocketErrorText(EADDRINUSE), "98\r\nAddress already in use");
}

TEST_F(SockServerTest, RepliesArriveWholeAndInOrderWhenTheClientReadsLate) {
  auto client = std::make_unique<TcpClient>(port, 4096);
  ASSERT_TRUE(WaitFor("connect", 1));
  // Send until the socket stops taking frames and the queue holds some, then a few more.
  int sent = 0;
  int afterQueued = 0;
  while (afterQueued < 20 && sent < 20000) {
    server->SendData(1, std::to_string(sent) + ";" + std::string(200, 'q'));
    ++sent;
    if (server->QueuedBytes(1) > 0) ++afterQueued;
  }
  ASSERT_EQ(afterQueued, 20) << "the socket took " << sent << " frames without queuing";
  for (int expected = 0; expected < sent; ++expected) {
    const auto message = client->ReadMessage();
    ASSERT_TRUE(message.has_value()) << expected;
    ASSERT_EQ(*message, std::to_string(expected) + ";" + std::string(200, 'q'));
  }
  EXPECT_TRUE(PumpUntil([&] { return readyToSend > 0; }));
  EXPECT_EQ(server->QueuedBytes(1), 0u);
  EXPECT_EQ(Count("disconnect"), 0u);
}

TEST_F(SockServerTest, AClientThatNeverReadsIsCutOffAtTheQueueLimit) {
  auto idle = std::make_unique<TcpClient>(port, 4096);
  auto other = Connect();
  ASSERT_TRUE(WaitFor("connect", 2));
  std::string failure;
  for (int i = 0; i < 100000 && failure.empty(); ++i) {
    try {
      server->SendData(1, std::string(255, 'n'));
      ASSERT_LE(server->QueuedBytes(1), TSockServer::kSendQueueLimit);
    } catch (const ESockException& error) {
      failure = error.what();
    }
  }
  EXPECT_EQ(failure, "TSockServer - SendData: Send queue full, connection closed. Client ID: 1");
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(events.back(), (Event{"disconnect", 1, ""}));
  EXPECT_TRUE(idle->WaitClosed());
  // The other client is served as before.
  server->SendData(2, "still here");
  EXPECT_EQ(other->ReadMessage(), std::optional<std::string>("still here"));
}

TEST_F(SockServerTest, AClientCutOffByItsRepliesIsNotReadFurther) {
  // Every request is answered with more than the send queue holds.
  server->OnDataIn = [this](std::uint16_t id, const std::string& data) {
    events.push_back({"data", id, data});
    try {
      for (int i = 0; i < 100000; ++i) server->SendData(id, std::string(255, 'r'));
    } catch (const ESockException&) {
    }
  };
  auto client = std::make_unique<TcpClient>(port, 4096);
  ASSERT_TRUE(WaitFor("connect", 1));
  client->SendRaw(MakeClientFrame("1") + MakeClientFrame("2") + MakeClientFrame("3"));
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(events, (std::vector<Event>{{"connect", 1, ""}, {"data", 1, "1"}, {"disconnect", 1, ""}}));
  EXPECT_TRUE(client->WaitClosed());
}

TEST_F(SockServerTest, SendsFromTwoThreadsKeepFramesWhole) {
  auto client = Connect();
  constexpr int kEach = 300;
  std::thread polling([&] {
    for (int i = 0; i < kEach; ++i) server->SendData(1, "P" + std::to_string(i) + std::string(100, 'p'));
  });
  for (int i = 0; i < kEach; ++i) {
    server->SendData(1, "M" + std::to_string(i) + std::string(100, 'm'));
    if (i % 50 == 0) QCoreApplication::processEvents();
  }
  polling.join();
  int nextP = 0;
  int nextM = 0;
  for (int i = 0; i < 2 * kEach; ++i) {
    const auto message = client->ReadMessage();
    ASSERT_TRUE(message.has_value());
    int& next = (*message)[0] == 'P' ? nextP : nextM;
    const char fill = (*message)[0] == 'P' ? 'p' : 'm';
    ASSERT_EQ(message->substr(1), std::to_string(next) + std::string(100, fill));
    ++next;
  }
  EXPECT_EQ(nextP, kEach);
  EXPECT_EQ(nextM, kEach);
}

TEST_F(SockServerTest, OpenFailsOnAPortInUseAndCloseFreesTheSlots) {
  TSockServer second;
  second.SetLocalPort(port);
  try {
    second.Open();
    FAIL() << "a second server opened on the same port";
  } catch (const ESockException& error) {
    EXPECT_EQ(std::string(error.what()), "Bind error: " + SocketErrorText(EADDRINUSE));
  }
  EXPECT_FALSE(second.Active());

  auto client = Connect();
  server->Close();
  EXPECT_FALSE(server->Active());
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_EQ(Count("disconnect"), 0u);
  EXPECT_EQ(server->FindFreeClient(), 1);
  // The same port can be opened again at once.
  server->SetLocalPort(port);
  server->Open();
  EXPECT_EQ(server->BoundPort(), port);
  auto again = Connect();
  EXPECT_EQ(events.back(), (Event{"connect", 1, ""}));
}

}  // namespace
}  // namespace ecr
