// The register server's handling of the socket server's errors, over real TCP on
// 127.0.0.1: an exception from a connect, data or disconnect handler is logged as
// LogException writes it, and every client, the one whose events failed included, goes on
// being served.
#include "server_app/client_event_errors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "foundation/log_file.h"
#include "server/sock_server.h"
#include "tests/server/tcp_test_client.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using testing_support::PumpUntil;
using testing_support::TcpClient;

struct HandlerFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ClientEventErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::EnsureApplication();
    ASSERT_EQ(log.Open(), LogResult::Done);
    // Client 1's events fail; every message is echoed unless it asks for a failure.
    server.OnConnect = [](std::uint16_t id) {
      if (id == 1) throw HandlerFault("connect of client 1");
    };
    server.OnDataIn = [this](std::uint16_t id, const std::string& data) {
      if (data == "fail") throw HandlerFault("data of client " + std::to_string(id));
      if (data == "odd") throw 42;
      server.SendData(id, "echo " + data);
    };
    server.OnDisconnect = [this](std::uint16_t id) {
      ++disconnects;
      if (id == 1) throw HandlerFault("disconnect of client 1");
    };
    BindClientEventErrors(server, log);
    server.SetLocalPort(0);
    server.Open();
  }

  std::string LogText() const {
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  bool Logged(const std::string& text) {
    return PumpUntil([&] { return LogText().find(text) != std::string::npos; });
  }
  static std::string Entry(const std::string& message) {
    return "EXCEPTION in TfmMain.IPServer - HandlerFault:\r\n" + message + "\r\n";
  }
  void ExpectEcho(TcpClient& client, const std::string& text) {
    client.SendMessage(text);
    EXPECT_EQ(client.ReadMessage(), "echo " + text);
  }

  TempDir temp;
  std::string logPath = temp.File("harbendix.log");
  LogFile log{logPath};
  TSockServer server;
  int disconnects = 0;
};

TEST_F(ClientEventErrorsTest, AFailingHandlerIsLoggedAndEveryClientIsServedOn) {
  TcpClient first(server.BoundPort());
  ASSERT_TRUE(Logged(Entry("connect of client 1")));
  TcpClient second(server.BoundPort());
  ExpectEcho(second, "hello");

  first.SendMessage("fail");
  ASSERT_TRUE(Logged(Entry("data of client 1")));
  ExpectEcho(first, "after the failure");
  second.SendMessage("odd");
  ASSERT_TRUE(Logged("EXCEPTION in TfmMain.IPServer - unknown exception"));
  ExpectEcho(second, "after the odd one");

  // The failing disconnect still frees the slot, and the next client takes it.
  first.Close();
  ASSERT_TRUE(Logged(Entry("disconnect of client 1")));
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(server.FindFreeClient(), 1);
  ExpectEcho(second, "still here");

  // Each failure is one entry, and nothing else was written.
  EXPECT_EQ(LogText().find(Entry("connect of client 1")), LogText().find("EXCEPTION"));
  std::size_t entries = 0;
  for (std::size_t at = LogText().find("EXCEPTION"); at != std::string::npos; at = LogText().find("EXCEPTION", at + 1))
    ++entries;
  EXPECT_EQ(entries, 4u);
}

}  // namespace
}  // namespace ecr
