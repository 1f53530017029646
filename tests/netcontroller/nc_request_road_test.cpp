// The road of one OnLine exchange through the whole network-controller server: a client on
// a real TCP connection, the socket server, the request processing, the controller link and
// the controller emulator on a pseudo-terminal with a register behind it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "foundation/log_file.h"
#include "foundation/settings_store.h"
#include "netcontroller/link/net_controller.h"
#include "netcontroller/nc_message_header.h"
#include "netcontroller/requests/nc_request_engine.h"
#include "netcontroller/requests/net_controller_commands.h"
#include "netcontroller/server/nc_server_settings.h"
#include "netcontroller/server/nc_sock_server.h"
#include "platform/tick_count.h"
#include "tests/netcontroller/nc_link_fixture.h"
#include "tests/netcontroller/nc_request_fixture.h"
#include "tests/platform/registry_test_folder.h"
#include "tests/server/tcp_test_client.h"
#include "tests/support/controller_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr::test {
namespace {

using namespace std::chrono_literals;
using testing_support::PumpUntil;
using testing_support::TcpClient;

std::string Describe(const std::optional<std::string>& message) {
  if (!message) return "nothing";
  const nc::RequestHeader header = nc::UnpackRequestHeader(*message);
  return std::to_string(header.SetNo) + "/" + std::to_string(header.Command) + "/" + std::to_string(header.LogNo) +
         " err " + std::to_string(header.Fifth) + " [" + header.Body + "]";
}

class NcRequestRoadTest : public ::testing::Test {
 protected:
  NcRequestRoadTest() : environment_("ECR_REGISTRY", folder_.RegistryRoot().c_str()) {
    std::filesystem::create_directories(folder_.Machine() / "Enum");
    testing_support::EnsureApplication();
  }

  void SetUp() override {
    MapPort(folder_, 1, emulator_.PortPath());
    log_.Open();
    server_.OnDataIn = [this](std::uint16_t id, const std::string& data) {
      engine_.HandleClientMessage(static_cast<std::int16_t>(id), data);
    };
    server_.OnDisconnect = [this](std::uint16_t id) { engine_.ClientDisconnected(static_cast<std::int16_t>(id)); };
    server_.SetLocalPort(0);
    server_.Open();
    ASSERT_TRUE(server_.Active());

    controller_.SetLog(log_);
    controller_.OnEcrInLine = [this](TNetController&, int ecr, const std::string& block, std::uint8_t) {
      engine_.HandleEcrInLine(ecr, block);
    };
    controller_.OnInlSended = [this](TNetController&, int ecr, std::uint8_t status) {
      engine_.HandleInlSended(ecr, status);
    };
    controller_.OnInlReceived = [this](TNetController&, int ecr, const std::string& answer, std::uint8_t) {
      engine_.HandleInlReceived(ecr, answer);
    };
    controller_.OnOnlReceived = [this](TNetController&, int ecr, const std::string& block, std::uint8_t) {
      engine_.HandleOnlineBlock(ecr, block);
    };
    controller_.OnOnlSended = [this](TNetController&, int ecr, std::uint8_t status) {
      engine_.HandleOnlSended(ecr, status);
    };
    controller_.OnError = [this](TNetController&, int ecr, std::uint8_t errC, int extErr) {
      engine_.HandleControllerError(ecr, errC, extErr);
    };
    controller_.FindController();
    ASSERT_EQ(controller_.Com(), 1);
    engine_.ClearPendingExchangeAndStart();
    ASSERT_TRUE(emulator_.WaitForCommands("MASK 0000", 1, 5s));
  }

  RegistryTestFolder folder_;
  SavedEnvironment environment_;
  ControllerEmulator emulator_;
  TempDir dir_;
  LogFile log_{dir_.File("lontaros.log")};
  nc::NcServerSettings settings_;
  TCodeStru store_{dir_.File("lontaros.STG"), settings_};
  nc::TSockServer server_;
  nc::NetControllerCommands commands_{controller_};
  nc::NcRequestEngine engine_{nc::NcRequestEngineParts{server_, commands_, settings_, [this] { store_.Save(); },
                                                       log_, [] { return TickCount(); }}};
  // Last: it goes first, and its reader thread with it, before the engine its events reach.
  TNetController controller_;
};

TEST_F(NcRequestRoadTest, AnOnLineOfferIsAnsweredByTheClientAndRepliedOnDelivery) {
  TcpClient client(server_.BoundPort());
  client.SendMessage(Request(1, 1, 3));
  EXPECT_EQ(Describe(client.ReadMessage()), "1/1/3 err 0 []");
  ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Started() && emulator_.Mask() == 0x0004; }, 10s));
  EXPECT_TRUE(engine_.ControllerStarted());

  emulator_.SendEcrBlock(3, "55;7;1;A;B;2;");
  EXPECT_EQ(Describe(client.ReadMessage()), "1/129/3 err 0 [55;7;A;B;2;1;1;]");
  ASSERT_TRUE(PumpUntil([&] { return engine_.PendingExchangeSnapshot() == nc::PendingExchange{3, 1}; }));

  client.SendMessage(Request(1, 4, 3, "OK;"));
  // The socket server reads the answer on this thread's event loop.
  ASSERT_TRUE(PumpUntil([&] { return emulator_.OnLineAnswers(3).size() == 1; }));
  EXPECT_EQ(emulator_.OnLineAnswers(3).front(), "OK;2.000;;");
  EXPECT_EQ(Describe(client.ReadMessage()), "1/4/3 err 0 [OK;2.000;;]");
  EXPECT_TRUE(emulator_.WaitForCommands("RESET", 3, 10s));  // after the mask, the start, the delivery
  EXPECT_EQ(engine_.ReplyContextSnapshot().Set, 0);
  EXPECT_EQ(settings_.Ecr(3).SerialNumber, 55);
}

}  // namespace
}  // namespace ecr::test
