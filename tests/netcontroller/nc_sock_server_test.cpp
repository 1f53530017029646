#include "netcontroller/server/nc_sock_server.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/tcp_test_client.h"

namespace ecr::nc {
namespace {

using testing_support::PumpFor;
using testing_support::PumpUntil;
using testing_support::TcpClient;
using namespace std::chrono_literals;

struct Event {
  std::string kind;
  int id;  // the client, or the error's code
  std::string data;
  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& event) {
  return out << event.kind << " " << event.id << " (" << event.data.size() << " bytes: "
             << event.data.substr(0, 40) << ")";
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

class NcSockServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::EnsureApplication();
    server = std::make_unique<TSockServer>();
    Bind(*server);
    server->SetLocalPort(0);
    server->Open();
    port = server->BoundPort();
    ASSERT_TRUE(server->Active());
    ASSERT_NE(port, 0);
  }

  void Bind(TSockServer& target) {
    target.OnConnect = [this](std::uint16_t id) { events.push_back({"connect", id, ""}); };
    target.OnDataIn = [this](std::uint16_t id, const std::string& data) { events.push_back({"data", id, data}); };
    target.OnDisconnect = [this](std::uint16_t id) { events.push_back({"disconnect", id, ""}); };
    target.OnError = [this](int err, const std::string& text) {
      events.push_back({"error", err, text});
      errorThreads.insert(std::this_thread::get_id());
    };
    target.OnReadyToSend = [this](std::uint16_t) { ++readyToSend; };
  }

  std::size_t Count(const std::string& kind) const {
    std::size_t n = 0;
    for (const Event& event : events) n += event.kind == kind ? 1 : 0;
    return n;
  }
  bool WaitFor(const std::string& kind, std::size_t n) {
    return PumpUntil([&] { return Count(kind) >= n; });
  }
  // One at a time: the listening backlog is 1.
  std::unique_ptr<TcpClient> Connect(int receiveBuffer = 0) {
    const std::size_t before = Count("connect");
    auto client = std::make_unique<TcpClient>(port, receiveBuffer);
    EXPECT_TRUE(WaitFor("connect", before + 1));
    return client;
  }
  std::vector<Event> Of(const std::string& kind) const {
    std::vector<Event> chosen;
    for (const Event& event : events) {
      if (event.kind == kind) chosen.push_back(event);
    }
    return chosen;
  }

  std::unique_ptr<TSockServer> server;
  std::uint16_t port = 0;
  std::vector<Event> events;
  std::set<std::thread::id> errorThreads;
  int readyToSend = 0;
};

std::string Frame(std::size_t length, char fill) { return MakeClientFrame(std::string(length, fill)); }

TEST_F(NcSockServerTest, FramesAreReportedWholeHoweverTheStreamIsCut) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;  // sent one after the other with a pause between
    std::vector<std::string> expected;
  };
  std::string sixHundred;
  for (char fill = 'a'; fill < 'g'; ++fill) sixHundred += Frame(99, fill);
  std::vector<std::string> sixFrames;
  for (char fill = 'a'; fill < 'g'; ++fill) sixFrames.emplace_back(99, fill);
  const std::string twenty = Frame(20, 't');
  const Case cases[] = {
      {"two frames in one segment", {Frame(3, 'x') + Frame(2, 'y')}, {"xxx", "yy"}},
      {"an empty frame is an empty message", {std::string(1, '\0') + Frame(1, 'z')}, {"", "z"}},
      {"length byte and 10 of 20 bytes, then the other 10", {twenty.substr(0, 11), twenty.substr(11)},
       {std::string(20, 't')}},
      {"600 bytes at once, a frame across the 512th byte", {sixHundred}, sixFrames},
      {"the longest frame byte by byte", {}, {std::string(255, 'l')}},
  };
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events.clear();
    auto client = Connect();
    id = Of("connect").front().id;
    std::vector<std::string> pieces = c.pieces;
    if (pieces.empty()) {
      for (char byte : Frame(255, 'l')) pieces.emplace_back(1, byte);
    }
    for (const std::string& piece : pieces) {
      client->SendRaw(piece);
      if (pieces.size() < 10) PumpFor(30ms);
    }
    ASSERT_TRUE(WaitFor("data", c.expected.size()));
    PumpFor(30ms);
    std::vector<Event> expected;
    for (const std::string& message : c.expected) expected.push_back({"data", id, message});
    EXPECT_EQ(Of("data"), expected);
    EXPECT_EQ(Count("error"), 0u);
    client->Close();
    ASSERT_TRUE(WaitFor("disconnect", 1));
  }
  // Every case's client was served in slot 1 in turn.
  EXPECT_EQ(id, 1);
}

TEST_F(NcSockServerTest, AConnectionThatEndsInsideAFrameReportsTheMissingBytes) {
  struct Case {
    const char* name;
    bool reset;
  };
  for (const Case c : {Case{"orderly close", false}, Case{"reset", true}}) {
    SCOPED_TRACE(c.name);
    events.clear();
    auto client = Connect();
    // A whole frame, then the length byte 20 and 10 of its bytes.
    client->SendRaw(Frame(2, 'w') + Frame(20, 'p').substr(0, 11));
    ASSERT_TRUE(WaitFor("data", 1));
    PumpFor(30ms);
    if (c.reset) {
      client->Abort();
    } else {
      client->Close();
    }
    ASSERT_TRUE(WaitFor("disconnect", 1));
    EXPECT_EQ(events, (std::vector<Event>{
                          {"connect", 1, ""}, {"data", 1, "ww"}, {"error", 11, "Bytes Missing"}, {"disconnect", 1, ""}}));
    EXPECT_EQ(server->FindFreeClient(), 1);
  }
}

TEST_F(NcSockServerTest, SendDataReportsABadIdAndIgnoresAFreeSlot) {
  server->SendData(501, "x");
  server->SendData(65535, "x");
  server->SendData(0, "x");
  server->SendData(7, "x");
  EXPECT_EQ(events, (std::vector<Event>{{"error", 501, "ID too big"}, {"error", 65535, "ID too big"}}));

  // From another thread the report reaches the main thread.
  events.clear();
  errorThreads.clear();
  std::thread reader([this] { server->SendData(600, "x"); });
  reader.join();
  ASSERT_TRUE(WaitFor("error", 1));
  EXPECT_EQ(events, (std::vector<Event>{{"error", 600, "ID too big"}}));
  EXPECT_EQ(errorThreads, (std::set<std::thread::id>{std::this_thread::get_id()}));

  // A reply reaches its client as one frame.
  auto client = Connect();
  server->SendData(1, std::string(300, 'r'));
  EXPECT_EQ(client->ReadMessage(), std::optional<std::string>(std::string(255, 'r')));
}

TEST_F(NcSockServerTest, ASendToAPeerThatResetIsReportedAndTheSlotFreed) {
  auto client = Connect();
  client->Abort();
  // Sends until one fails (a send before the reset has arrived still succeeds); the event
  // loop does not run meanwhile, so the slot stays taken.
  const auto deadline = std::chrono::steady_clock::now() + testing_support::kWaitLimit;
  while (Count("error") == 0 && std::chrono::steady_clock::now() < deadline) {
    server->SendData(1, "x");
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(Of("error"), (std::vector<Event>{{"error", -1, "Not all bytes sended"}}));
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(server->FindFreeClient(), 1);
}

TEST_F(NcSockServerTest, RepliesArriveWholeAndInOrderWhenTheClientReadsLate) {
  auto client = Connect(4096);
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
  EXPECT_EQ(Count("error"), 0u);
  EXPECT_EQ(Count("disconnect"), 0u);
}

TEST_F(NcSockServerTest, AClientThatNeverReadsIsCutOffAtTheQueueLimit) {
  auto idle = Connect(4096);
  auto other = Connect();
  for (int i = 0; i < 100000 && Count("error") == 0; ++i) {
    server->SendData(1, std::string(255, 'n'));
    ASSERT_LE(server->QueuedBytes(1), TSockServer::kSendQueueLimit);
  }
  EXPECT_EQ(Of("error"), (std::vector<Event>{{"error", 0, "Not all bytes sended"}}));
  // Sends after the cut-off go nowhere and are not reported again.
  server->SendData(1, "late");
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(events.back(), (Event{"disconnect", 1, ""}));
  EXPECT_EQ(Count("error"), 1u);
  EXPECT_TRUE(idle->WaitClosed());
  // The other client is served as before.
  server->SendData(2, "still here");
  EXPECT_EQ(other->ReadMessage(), std::optional<std::string>("still here"));
}

TEST_F(NcSockServerTest, SendsFromTwoThreadsKeepFramesWhole) {
  auto client = Connect();
  constexpr int kEach = 300;
  std::thread reader([&] {
    for (int i = 0; i < kEach; ++i) server->SendData(1, "R" + std::to_string(i) + std::string(100, 'r'));
  });
  for (int i = 0; i < kEach; ++i) {
    server->SendData(1, "M" + std::to_string(i) + std::string(100, 'm'));
    if (i % 50 == 0) QCoreApplication::processEvents();
  }
  reader.join();
  int nextR = 0;
  int nextM = 0;
  for (int i = 0; i < 2 * kEach; ++i) {
    const auto message = client->ReadMessage();
    ASSERT_TRUE(message.has_value());
    const bool fromReader = (*message)[0] == 'R';
    int& next = fromReader ? nextR : nextM;
    ASSERT_EQ(message->substr(1), std::to_string(next) + std::string(100, fromReader ? 'r' : 'm'));
    ++next;
  }
  EXPECT_EQ(nextR, kEach);
  EXPECT_EQ(nextM, kEach);
  EXPECT_EQ(Count("error"), 0u);
}

TEST_F(NcSockServerTest, FiveHundredClientsThenRefusalThenLowestSlotFirst) {
  testing_support::RaiseDescriptorLimit();
  std::vector<std::unique_ptr<TcpClient>> clients;
  for (int i = 0; i < TSockServer::kClientSlots; ++i) clients.push_back(Connect());
  ASSERT_EQ(Count("connect"), 500u);
  std::set<int> ids;
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
  EXPECT_EQ(Of("data").back(), (Event{"data", 500, "last"}));

  // Slots 7 and 3 freed (in that order) are reused lowest first.
  clients[6]->Close();
  ASSERT_TRUE(WaitFor("disconnect", 1));
  clients[2]->Close();
  ASSERT_TRUE(WaitFor("disconnect", 2));
  clients[2] = Connect();
  clients[6] = Connect();
  EXPECT_EQ(events[events.size() - 2], (Event{"connect", 3, ""}));
  EXPECT_EQ(events.back(), (Event{"connect", 7, ""}));
  EXPECT_EQ(Count("error"), 0u);
}

TEST_F(NcSockServerTest, HandlersThatThrowAreReportedAndTheServerGoesOn) {
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
  client->SendRaw(Frame(1, 'a') + Frame(1, 'b'));
  ASSERT_TRUE(WaitFor("data", 2));
  client->Close();
  ASSERT_TRUE(WaitFor("disconnect", 1));
  EXPECT_EQ(events, (std::vector<Event>{{"connect", 1, ""},
                                        {"error", 0, "connect failed"},
                                        {"data", 1, "a"},
                                        {"error", 0, "data failed"},
                                        {"data", 1, "b"},
                                        {"error", 0, "data failed"},
                                        {"disconnect", 1, ""},
                                        {"error", 0, "disconnect failed"}}));
  EXPECT_EQ(server->FindFreeClient(), 1);
}

TEST_F(NcSockServerTest, AFailedOpenIsReportedAndKeepsNoSocket) {
  TSockServer second;
  Bind(second);
  second.SetLocalPort(port);
  const int before = OpenDescriptors();
  second.Open();
  EXPECT_EQ(events, (std::vector<Event>{{"error", -1, "Binding socket and address"}}));
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.BoundPort(), 0);
  EXPECT_EQ(OpenDescriptors(), before);

  // Once the first server has closed, the same object opens on that port.
  auto client = Connect();
  server->Close();
  EXPECT_FALSE(server->Active());
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_EQ(Count("disconnect"), 0u);
  EXPECT_EQ(server->FindFreeClient(), 1);
  events.clear();
  second.Open();
  EXPECT_TRUE(second.Active());
  EXPECT_EQ(second.BoundPort(), port);
  auto again = Connect();
  EXPECT_EQ(events, (std::vector<Event>{{"connect", 1, ""}}));
  // A second Open of an active server does nothing.
  second.Open();
  EXPECT_EQ(Count("error"), 0u);
}

}  // namespace
}  // namespace ecr::nc
