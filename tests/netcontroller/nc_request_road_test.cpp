// The road of one OnLine exchange through the whole network-controller server: a client on
// a real TCP connection, the socket server, the request processing, the controller link and
// the controller emulator on a pseudo-terminal with a register behind it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

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
using testing_support::PumpFor;
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
      // A test may hold the reader here, between the link's reading of a report and the
      // request processing's handling of it, as a busy machine does.
      if (ecr == hold_report_of_.load()) {
        report_read_.store(true);
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!let_report_go_.load() && std::chrono::steady_clock::now() < until) {
          std::this_thread::sleep_for(1ms);
        }
      }
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

  // Two clients open SET 1 of register 4 and `setNo` of register `ecr`; the controller has
  // the mask of both, and the resets of its start, before a register speaks (a reset that
  // came after a register's block would end its exchange).
  void OpenBesideRegister4(TcpClient& client, int setNo, int ecr, TcpClient& four) {
    client.SendMessage(Request(setNo, 1, ecr));
    EXPECT_EQ(Describe(client.ReadMessage()), std::to_string(setNo) + "/1/" + std::to_string(ecr) + " err 0 []");
    four.SendMessage(Request(1, 1, 4));
    EXPECT_EQ(Describe(four.ReadMessage()), "1/1/4 err 0 []");
    const auto mask = static_cast<std::uint16_t>((1u << (ecr - 1)) | 0x0008u);
    ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Mask() == mask; }, 10s));
    ASSERT_TRUE(emulator_.WaitForCommands("RESET", 2, 10s));
  }

  // Queues `command` with `payload` on `setNo` of register 2, which takes it with `block`;
  // the controller holds its delivery report back.
  void TakenWithItsReportHeld(TcpClient& client, int setNo, int command, const std::string& payload,
                              const std::string& block) {
    client.SendMessage(Request(setNo, command, 2, payload));
    ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).Slot(setNo).State == nc::kSlotQueued; }));
    emulator_.HoldDeliveries();
    emulator_.SendEcrBlock(2, block);
    ASSERT_TRUE(PumpUntil([&] { return emulator_.HeldDeliveries() == 1; }));
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
  std::atomic<int> hold_report_of_{0};
  std::atomic<bool> report_read_{false};
  std::atomic<bool> let_report_go_{false};
  // Last: it goes first, and its reader thread with it, before the engine its events reach.
  TNetController controller_;
};

// The resets the controller has received.
std::size_t Resets(const ControllerEmulator& emulator) {
  const std::vector<std::string> commands = emulator.ReceivedCommands();
  return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), "RESET"));
}

TEST_F(NcRequestRoadTest, AnOnLineOfferIsAnsweredByTheClientAndRepliedOnDelivery) {
  TcpClient client(server_.BoundPort());
  client.SendMessage(Request(1, 1, 3));
  EXPECT_EQ(Describe(client.ReadMessage()), "1/1/3 err 0 []");
  ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Started() && emulator_.Mask() == 0x0004; }, 10s));
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", 2, 10s));  // the reset after the start too
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
  EXPECT_EQ(engine_.ReplyContextSnapshot(3).Set, 0);
  EXPECT_EQ(settings_.Ecr(3).SerialNumber, 55);
}

// A SET 5 command is on its way to register 2 when its client cancels it and queues another.
// The register's answer to the first goes to the client, and the second command goes to the
// register at its next announcement, once.
TEST_F(NcRequestRoadTest, ACommandQueuedAfterACancelGoesAtTheNextAnnouncement) {
  TcpClient client(server_.BoundPort());
  client.SendMessage(Request(5, 1, 2));
  EXPECT_EQ(Describe(client.ReadMessage()), "5/1/2 err 0 []");
  // The mask, the start and their resets have reached the controller before the register
  // speaks: a reset arriving after its block would end its exchange.
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", 2, 10s));
  client.SendMessage(Request(5, 9, 2, "1;"));
  ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).Slot(5).State == nc::kSlotQueued; }));

  emulator_.HoldDeliveries();
  emulator_.QueueInLineAnswer(2, "OK;");
  emulator_.SendEcrBlock(2, "1234567");
  ASSERT_TRUE(PumpUntil([&] { return emulator_.HeldDeliveries() == 1; }));
  EXPECT_EQ(emulator_.InLineData(2), std::vector<std::string>{"I1;"});
  client.SendMessage(Request(5, 3, 2));
  EXPECT_EQ(Describe(client.ReadMessage()), "5/3/2 err 0 []");
  client.SendMessage(Request(5, 4, 2, "2;"));
  ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).Slot(5).Command == 4; }));

  // Each announcement once the controller has had the reset that ends the exchange before.
  std::size_t resets = Resets(emulator_);
  emulator_.ReleaseDeliveries();
  EXPECT_EQ(Describe(client.ReadMessage()), "5/9/2 err 0 [OK;]");
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", ++resets, 10s));
  emulator_.QueueInLineAnswer(2, "A;");
  emulator_.SendEcrBlock(2, "1234567");
  EXPECT_EQ(Describe(client.ReadMessage()), "5/4/2 err 0 [A;]");
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", ++resets, 10s));
  emulator_.SendEcrBlock(2, "1234567");
  EXPECT_TRUE(client.NothingArrives(500ms));
  EXPECT_EQ(emulator_.InLineData(2), (std::vector<std::string>{"I1;", "R2;"}));
}

// Register 2's SET 5 command is on its way when register 4's block comes between: before the
// delivery report of register 2's InLine data, or between that report and register 2's
// answer, or the report is lost. The client hears the answer, or that the delivery was not
// confirmed; the command goes to the register once.
struct InLineOvertaken {
  const char* name;
  bool reportHeld;  // the report (and the answer after it) come after register 4's block
  bool reportLost;  // ... or never
  const char* fiveHears;
};

void PrintTo(const InLineOvertaken& row, std::ostream* out) { *out << row.name; }

class NcRequestRoadInLineOvertaken : public NcRequestRoadTest,
                                     public ::testing::WithParamInterface<InLineOvertaken> {};

TEST_P(NcRequestRoadInLineOvertaken, TheClientHearsOnceAndTheCommandGoesOnce) {
  const InLineOvertaken& row = GetParam();
  TcpClient five(server_.BoundPort());
  TcpClient four(server_.BoundPort());
  OpenBesideRegister4(five, 5, 2, four);
  if (HasFatalFailure()) return;
  five.SendMessage(Request(5, 9, 2, "1;"));
  ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).Slot(5).State == nc::kSlotQueued; }));

  if (row.reportHeld) {
    emulator_.HoldDeliveries();
    emulator_.QueueInLineAnswer(2, "OK;");
  }
  emulator_.SendEcrBlock(2, "1234567");
  if (row.reportHeld) {
    ASSERT_TRUE(PumpUntil([&] { return emulator_.HeldDeliveries() == 1; }));
  } else {
    ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).ExchangeState == nc::esInlDelivered; }));
  }
  std::size_t resets = Resets(emulator_);
  emulator_.SendEcrBlock(4, "66;8;0;X;");
  EXPECT_EQ(Describe(four.ReadMessage()), "1/128/4 err 0 [66;8;X;1;1;]");
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", ++resets, 10s));
  if (row.reportLost) {
    emulator_.DropHeldDeliveries();
  } else if (row.reportHeld) {
    emulator_.ReleaseDeliveries();
  } else {
    emulator_.SendEcrBlock(2, "OK;");
  }
  const auto wait = std::chrono::milliseconds(TNetController::kReportWaitMs) + 10s;
  EXPECT_EQ(Describe(five.ReadMessage(wait)), row.fiveHears);

  // The register's next announcement finds nothing more to take.
  PumpFor(300ms);
  resets = Resets(emulator_);
  emulator_.SendEcrBlock(2, "1234567");
  ASSERT_TRUE(PumpUntil([&] { return Resets(emulator_) > resets || emulator_.InLineData(2).size() > 1; }));
  EXPECT_EQ(emulator_.InLineData(2), std::vector<std::string>{"I1;"});
  EXPECT_TRUE(five.NothingArrives(300ms));
}

INSTANTIATE_TEST_SUITE_P(Road, NcRequestRoadInLineOvertaken,
                         ::testing::Values(InLineOvertaken{"AnswerAfterTheBlock", false, false, "5/9/2 err 0 [OK;]"},
                                           InLineOvertaken{"ReportAndAnswerAfterTheBlock", true, false,
                                                           "5/9/2 err 0 [OK;]"},
                                           InLineOvertaken{"ReportLost", true, true, "5/9/2 err 15 [1;]"}),
                         [](const ::testing::TestParamInfo<InLineOvertaken>& row) {
                           return std::string(row.param.name);
                         });

// Two registers at once: register 3's answer "OK;" is on its way, and register 4's block
// overtakes its delivery report, which the controller holds back. Each row plays on from
// there; every answer is replied once, by its own report (or as not confirmed when its report
// is lost), and goes to the register once.
class NcRequestRoadOverlap;

struct Overlap {
  const char* name;
  const char* fourBlock;
  const char* fourOffer;  // what client four hears of that block
  std::function<void(NcRequestRoadOverlap&, TcpClient& three, TcpClient& four)> play;
  std::vector<std::string> threeHears;  // once the play is over
  std::vector<std::string> fourHears;
};

void PrintTo(const Overlap& row, std::ostream* out) { *out << row.name; }

class NcRequestRoadOverlap : public NcRequestRoadTest, public ::testing::WithParamInterface<Overlap> {
 public:
  using NcRequestRoadTest::emulator_;
  using NcRequestRoadTest::engine_;
  using NcRequestRoadTest::hold_report_of_;
  using NcRequestRoadTest::let_report_go_;
  using NcRequestRoadTest::report_read_;

  // Client four answers register 4's offer, and the answer waits: register 3's report is due.
  void FourAnswersAndWaits(TcpClient& four) {
    ASSERT_TRUE(PumpUntil([&] { return engine_.PendingExchangeSnapshot() == nc::PendingExchange{4, 1}; }));
    four.SendMessage(Request(1, 4, 4, "NO;"));
    ASSERT_TRUE(PumpUntil([&] {
      return engine_.SessionSnapshot(4).Slot(1).State == nc::kSlotQueued || !emulator_.OnLineAnswers(4).empty();
    }));
    EXPECT_TRUE(emulator_.OnLineAnswers(4).empty());
  }

  std::size_t resets_before_four_ = 0;
};

TEST_P(NcRequestRoadOverlap, EachAnswerIsRepliedByItsOwnReport) {
  const Overlap& row = GetParam();
  TcpClient three(server_.BoundPort());
  TcpClient four(server_.BoundPort());
  OpenBesideRegister4(three, 1, 3, four);
  if (HasFatalFailure()) return;

  emulator_.HoldDeliveries();
  emulator_.SendEcrBlock(3, "55;7;1;A;B;2;");
  EXPECT_EQ(Describe(three.ReadMessage()), "1/129/3 err 0 [55;7;A;B;2;1;1;]");
  ASSERT_TRUE(PumpUntil([&] { return engine_.PendingExchangeSnapshot() == nc::PendingExchange{3, 1}; }));
  three.SendMessage(Request(1, 4, 3, "OK;"));
  ASSERT_TRUE(PumpUntil([&] { return emulator_.HeldDeliveries() == 1; }));
  resets_before_four_ = Resets(emulator_);
  emulator_.SendEcrBlock(4, row.fourBlock);
  EXPECT_EQ(Describe(four.ReadMessage()), row.fourOffer);

  row.play(*this, three, four);
  if (HasFatalFailure()) return;
  for (const std::string& reply : row.threeHears) EXPECT_EQ(Describe(three.ReadMessage(5s)), reply);
  for (const std::string& reply : row.fourHears) EXPECT_EQ(Describe(four.ReadMessage(5s)), reply);
  EXPECT_TRUE(three.NothingArrives(300ms));
  EXPECT_TRUE(four.NothingArrives(300ms));
  EXPECT_EQ(emulator_.OnLineAnswers(3), std::vector<std::string>{"OK;2.000;;"});
}

const char* const kFourOffer = "1/129/4 err 0 [66;8;C;D;3;1;2;]";
const char* const kThreeDelivered = "1/4/3 err 0 [OK;2.000;;]";

INSTANTIATE_TEST_SUITE_P(
    Road, NcRequestRoadOverlap,
    ::testing::Values(
        // Register 4's answer waits, its offer open, until register 3's report has come, and
        // goes out then. Its refusal reaches its client as a refusal.
        Overlap{"AnotherRegistersAnswerWaitsForTheReport", "66;8;1;C;D;3;", kFourOffer,
                [](NcRequestRoadOverlap& road, TcpClient&, TcpClient& four) {
                  road.FourAnswersAndWaits(four);
                  road.emulator_.NakNextDelivery(0x0D, 8);
                  road.emulator_.ReleaseDeliveries();
                },
                {kThreeDelivered},
                {"1/4/4 err 17 [NO;3.000;;]"}},
        // The report is read by the link while the request processing is still busy, and in
        // that moment register 4's client answers: that answer waits until the report has
        // answered register 3's client.
        Overlap{"ReportReadWhileAnotherAnswerComes", "66;8;1;C;D;3;", kFourOffer,
                [](NcRequestRoadOverlap& road, TcpClient&, TcpClient& four) {
                  road.hold_report_of_.store(3);
                  road.emulator_.ReleaseDeliveries();
                  ASSERT_TRUE(PumpUntil([&] { return road.report_read_.load(); }));
                  road.FourAnswersAndWaits(four);
                  road.let_report_go_.store(true);
                },
                {kThreeDelivered},
                {"1/4/4 err 0 [NO;3.000;;]"}},
        // Register 3's report never comes (the controller's frame arrives mangled). Register 4
        // asks again and again for a quarter of a minute, as a register waiting at its keyboard
        // does: its answer goes out once register 3's report is given up, and register 3's
        // client hears that its answer was not confirmed.
        Overlap{"ReportNeverComes", "66;8;1;C;D;3;", kFourOffer,
                [](NcRequestRoadOverlap& road, TcpClient&, TcpClient& four) {
                  road.FourAnswersAndWaits(four);
                  road.emulator_.DropHeldDeliveries();
                  road.emulator_.SendFrame(0x33, 1);  // the mangled report
                  const auto until = std::chrono::steady_clock::now() + 15s;
                  bool heard = false;
                  while (!heard && std::chrono::steady_clock::now() < until) {
                    road.emulator_.SendEcrBlock(4, "66;8;1;C;D;3;");
                    heard = !four.NothingArrives(1s) || !road.emulator_.OnLineAnswers(4).empty();
                  }
                  EXPECT_TRUE(heard) << "register 4's answer neither went out nor was refused";
                },
                {"1/4/3 err 15 [OK;2.000;;]"},
                {"1/4/4 err 0 [NO;3.000;;]"}},
        // Register 3 offers its next exchange before its report has come, and the controller
        // refuses the answer to it: the first answer is replied with 0, the refused one with
        // its failure.
        Overlap{"NextExchangeOfTheSameRegister", "66;8;0;X;", "1/128/4 err 0 [66;8;X;1;2;]",
                [](NcRequestRoadOverlap& road, TcpClient& three, TcpClient&) {
                  ASSERT_TRUE(road.emulator_.WaitForCommands("RESET", road.resets_before_four_ + 1, 10s));
                  road.emulator_.SendEcrBlock(3, "55;8;1;A;B;4;");
                  EXPECT_EQ(Describe(three.ReadMessage()), "1/129/3 err 0 [55;8;A;B;4;2;1;]");
                  ASSERT_TRUE(PumpUntil(
                      [&] { return road.engine_.PendingExchangeSnapshot() == nc::PendingExchange{3, 1}; }));
                  road.emulator_.NakNextDelivery(0x0D, 8);
                  three.SendMessage(Request(1, 4, 3, "OK2;"));
                  // Written at once (and its report held too), or waiting in its slot.
                  ASSERT_TRUE(PumpUntil([&] {
                    return road.emulator_.HeldDeliveries() == 2 ||
                           road.engine_.SessionSnapshot(3).Slot(1).State == nc::kSlotQueued;
                  }));
                  road.emulator_.ReleaseDeliveries();
                },
                {kThreeDelivered, "1/4/3 err 17 [OK2;4.000;;]"},
                {}}),
    [](const ::testing::TestParamInfo<Overlap>& row) { return std::string(row.param.name); });

// A sale line goes to register 2; register 4's block overtakes its delivery report, and
// register 2 asks for its next operation before the report has come. That exchange waits for
// the report; the sale line is not sold a second time.
TEST_F(NcRequestRoadTest, ASaleLineWhoseReportIsOvertakenIsSoldOnce) {
  TcpClient five(server_.BoundPort());
  TcpClient four(server_.BoundPort());
  OpenBesideRegister4(five, 13, 2, four);
  if (HasFatalFailure()) return;
  TakenWithItsReportHeld(five, 13, 4, "1;ONE;1;1;1;1;1;", "77;9;5;X;");
  if (HasFatalFailure()) return;
  std::size_t resets = Resets(emulator_);
  emulator_.SendEcrBlock(4, "66;8;0;X;");
  EXPECT_EQ(Describe(four.ReadMessage()), "1/128/4 err 0 [66;8;X;1;2;]");
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", ++resets, 10s));
  emulator_.SendEcrBlock(2, "77;10;5;X;");
  ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).ExchangeNo == 10; }));
  PumpFor(300ms);
  EXPECT_EQ(Resets(emulator_), resets);

  emulator_.ReleaseDeliveries();
  EXPECT_EQ(Describe(five.ReadMessage(5s)), "13/4/2 err 0 [1;ONE;1.00;1.000;1;1;1;77;9;1;1;]");
  // The waiting exchange finds nothing more queued and ends.
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", resets + 1, 10s));
  EXPECT_TRUE(five.NothingArrives(500ms));
  EXPECT_EQ(emulator_.OnLineAnswers(2), std::vector<std::string>{"1;ONE;1.00;1.000;1;1;1;0;0;"});
}

// Register 2's SET 5 command is on its way when its client closes the SET, which takes the
// register out of the controller's mask; register 4's block comes, then the delivery report.
// Once a client opens SET 1 of register 2 again, its next block is an OnLine offer like any
// other, not the answer to data it was sent before it left the mask.
TEST_F(NcRequestRoadTest, AReportAfterTheRegisterLeftTheMaskLeavesItsNextBlockAnOffer) {
  TcpClient five(server_.BoundPort());
  TcpClient four(server_.BoundPort());
  OpenBesideRegister4(five, 5, 2, four);
  if (HasFatalFailure()) return;
  TakenWithItsReportHeld(five, 5, 9, "1;", "1234567");
  if (HasFatalFailure()) return;
  five.SendMessage(Request(5, 2, 2));
  EXPECT_EQ(Describe(five.ReadMessage()), "5/2/2 err 0 []");
  ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Mask() == 0x0008; }, 10s));
  std::size_t resets = Resets(emulator_);
  emulator_.SendEcrBlock(4, "66;8;0;X;");
  EXPECT_EQ(Describe(four.ReadMessage()), "1/128/4 err 0 [66;8;X;1;1;]");
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", ++resets, 10s));
  emulator_.ReleaseDeliveries();
  ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(2).ExchangeState == nc::esInlDelivered; }));

  five.SendMessage(Request(1, 1, 2));
  EXPECT_EQ(Describe(five.ReadMessage()), "1/1/2 err 0 []");
  ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Mask() == 0x000A; }, 10s));
  PumpFor(300ms);
  emulator_.SendEcrBlock(2, "77;9;1;A;B;2;");
  EXPECT_EQ(Describe(five.ReadMessage(5s)).substr(0, 26), "1/129/2 err 0 [77;9;A;B;2;");
}

}  // namespace
}  // namespace ecr::test
