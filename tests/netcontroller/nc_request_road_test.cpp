// The road of one OnLine exchange through the whole network-controller server: a client on
// a real TCP connection, the socket server, the request processing, the controller link and
// the controller emulator on a pseudo-terminal with a register behind it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
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
    // The reports' waits run on a clock the test moves on instead of waiting.
    controller_.SetClock([this] { return TickCount() + clock_offset_.load(); });
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
  std::atomic<std::uint32_t> clock_offset_{0};
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

// Every delivery report answers only its own write, whatever comes between: noise, a report
// that is late, lost or refused, a register's other exchanges, a client that leaves. Client i
// of a row holds sets[i]; the row plays on from there, and at its end no client hears more.
class NcRequestRoadReports;

struct HeldSet {
  int setNo;
  int ecr;
};

struct ReportsRow {
  const char* name;
  std::vector<HeldSet> sets;
  std::function<void(NcRequestRoadReports&)> play;
};

void PrintTo(const ReportsRow& row, std::ostream* out) { *out << row.name; }

class NcRequestRoadReports : public NcRequestRoadTest, public ::testing::WithParamInterface<ReportsRow> {
 public:
  using NcRequestRoadTest::emulator_;
  using NcRequestRoadTest::engine_;

  TcpClient& Client(std::size_t i) { return *clients_.at(i); }
  void Hears(std::size_t i, const std::string& reply, std::chrono::milliseconds limit = 5s) {
    EXPECT_EQ(Describe(Client(i).ReadMessage(limit)), reply) << "client " << i;
  }
  void HearsNothing(std::size_t i, std::chrono::milliseconds span = 300ms) {
    EXPECT_TRUE(Client(i).NothingArrives(span)) << "client " << i;
  }
  // Client i queues a request on its SET, which waits in the slot for the register.
  void Queue(std::size_t i, int command, const std::string& payload) {
    const HeldSet held = GetParam().sets.at(i);
    Client(i).SendMessage(Request(held.setNo, command, held.ecr, payload));
    ASSERT_TRUE(PumpUntil([&] { return engine_.SessionSnapshot(held.ecr).Slot(held.setNo).State == nc::kSlotQueued; }));
  }
  // Client i answers the offer its register made: the answer goes out, or waits for the link.
  void Answer(std::size_t i, const std::string& payload) {
    const HeldSet held = GetParam().sets.at(i);
    ASSERT_TRUE(PumpUntil([&] {
      return engine_.PendingExchangeSnapshot() ==
             nc::PendingExchange{static_cast<std::uint8_t>(held.ecr), static_cast<std::uint8_t>(held.setNo)};
    }));
    Client(i).SendMessage(Request(held.setNo, 4, held.ecr, payload));
    ASSERT_TRUE(PumpUntil([&] { return engine_.PendingExchangeSnapshot() == nc::PendingExchange{}; }));
  }
  // Client i's register offers `block`, the client hears `offer` and answers with `payload`,
  // which goes out as `written`.
  void AnswersTheOffer(std::size_t i, const std::string& block, const std::string& offer, const std::string& payload,
                       const std::string& written) {
    emulator_.SendEcrBlock(GetParam().sets.at(i).ecr, block);
    Hears(i, offer);
    Answer(i, payload);
    ASSERT_TRUE(WaitForReceived(written));
  }
  // Client i queues a SET 5 command, the controller holds its delivery reports back, and the
  // register announces and takes the command (written as `written`); it will answer `answer`.
  void TakesTheCommandReportHeld(std::size_t i, const std::string& payload, const std::string& answer,
                                 const std::string& written) {
    Queue(i, 9, payload);
    emulator_.HoldDeliveries();
    emulator_.QueueInLineAnswer(GetParam().sets.at(i).ecr, answer);
    emulator_.SendEcrBlock(GetParam().sets.at(i).ecr, "1234567");
    ASSERT_TRUE(WaitForReceived(written));
  }
  // A lone end byte on the line, which the link answers with a reset.
  void Noise() {
    const std::size_t resets = ResetsReceived();
    emulator_.SendRaw(std::string(1, '\0'));
    ASSERT_TRUE(emulator_.WaitForCommands("RESET", resets + 1, 10s));
  }
  // The commands the controller received that equal `text`.
  std::size_t Received(const std::string& text) const {
    const std::vector<std::string> commands = emulator_.ReceivedCommands();
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), text));
  }
  bool WaitForReceived(const std::string& text, std::size_t count = 1) {
    return emulator_.WaitForCommands(text, count, 10s);
  }
  std::size_t ResetsReceived() const { return Resets(emulator_); }
  // The reports' clock jumps ahead; the reader gives up what is due within its next pass.
  void MoveClock(std::uint32_t ms) { clock_offset_ += ms; }
  std::string LogText() const { return ReadWholeFile(dir_.Path() / "lontaros.log"); }

  // Client i goes away (its connection closes).
  void Leave(std::size_t i) {
    Client(i).Close();
    gone_.insert(i);
  }

  std::vector<std::unique_ptr<TcpClient>> clients_;
  std::set<std::size_t> gone_;
};

TEST_P(NcRequestRoadReports, EachReportAnswersItsOwnWrite) {
  const ReportsRow& row = GetParam();
  std::uint16_t mask = 0;
  for (const HeldSet& held : row.sets) {
    clients_.push_back(std::make_unique<TcpClient>(server_.BoundPort()));
    TcpClient& client = *clients_.back();
    client.SendMessage(Request(held.setNo, 1, held.ecr));
    ASSERT_EQ(Describe(client.ReadMessage()),
              std::to_string(held.setNo) + "/1/" + std::to_string(held.ecr) + " err 0 []");
    mask = static_cast<std::uint16_t>(mask | (1u << (held.ecr - 1)));
  }
  // The mask, the start and their resets reach the controller before a register speaks.
  ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Mask() == mask; }, 10s));
  ASSERT_TRUE(emulator_.WaitForCommands("RESET", 2, 10s));
  row.play(*this);
  if (HasFatalFailure()) return;
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    if (gone_.count(i) == 0) HearsNothing(i);
  }
}

using Road = NcRequestRoadReports;
constexpr std::uint8_t kNak = ControllerEmulator::kNak;

INSTANTIATE_TEST_SUITE_P(
    Road, NcRequestRoadReports,
    ::testing::Values(
        // Noise while register 3's answer awaits its report says nothing about the report:
        // register 4's answer waits for it, and each is answered by its own report.
        ReportsRow{"NoiseLeavesTheReportDue", {{1, 3}, {1, 4}},
                   [](Road& r) {
                     r.emulator_.HoldDeliveries();
                     r.AnswersTheOffer(0, "55;7;1;A;B;2;", "1/129/3 err 0 [55;7;A;B;2;1;1;]", "OK;", "ONL OK;2.000;;");
                     if (r.HasFatalFailure()) return;
                     r.Noise();
                     if (r.HasFatalFailure()) return;
                     r.emulator_.SendEcrBlock(4, "66;8;1;C;D;3;");
                     r.Hears(1, "1/129/4 err 0 [66;8;C;D;3;1;2;]");
                     r.Answer(1, "NO;");
                     PumpFor(300ms);
                     EXPECT_EQ(r.Received("ONL NO;3.000;;"), 0u);
                     r.emulator_.NakNextDelivery(0x0D, 8);
                     r.emulator_.ReleaseDeliveries();
                     r.Hears(0, "1/4/3 err 0 [OK;2.000;;]");
                     r.Hears(1, "1/4/4 err 17 [NO;3.000;;]");
                   }},
        // Noise while register 2's InLine data awaits its report: the SET 5 client hears the
        // register's answer, and the SET 1 client nothing of it.
        ReportsRow{"NoiseDuringInLineData", {{5, 2}, {1, 2}},
                   [](Road& r) {
                     r.TakesTheCommandReportHeld(0, "X;", "AIX", "INL IX;");
                     if (r.HasFatalFailure()) return;
                     r.Noise();
                     if (r.HasFatalFailure()) return;
                     r.emulator_.ReleaseDeliveries();
                     r.Hears(0, "5/9/2 err 0 [AIX]");
                   }},
        // Register 3's report comes after its give-up, while register 4's answer (which the
        // controller refuses) is out: the late report answers nobody, register 4's client
        // hears its own refusal.
        ReportsRow{"AReportAfterItsGiveUpAnswersNobody", {{1, 3}, {1, 4}},
                   [](Road& r) {
                     r.emulator_.HoldDeliveries();
                     r.AnswersTheOffer(0, "55;7;1;A;B;2;", "1/129/3 err 0 [55;7;A;B;2;1;1;]", "OK;", "ONL OK;2.000;;");
                     if (r.HasFatalFailure()) return;
                     r.emulator_.NakNextDelivery(0x0D, 8);
                     r.emulator_.SendEcrBlock(4, "66;8;1;C;D;3;");
                     r.Hears(1, "1/129/4 err 0 [66;8;C;D;3;1;2;]");
                     r.Answer(1, "NO;");
                     r.MoveClock(TNetController::kReportWaitMs);
                     r.Hears(0, "1/4/3 err 15 [OK;2.000;;]");
                     // Register 4's answer goes out at the give-up, behind the fence.
                     ASSERT_TRUE(r.WaitForReceived("ONL NO;3.000;;"));
                     r.emulator_.ReleaseDeliveries();
                     r.Hears(1, "1/4/4 err 17 [NO;3.000;;]");
                     EXPECT_NE(r.LogText().find("Late delivery report. Ecr: 3 ACK 1"), std::string::npos);
                   }},
        // Register 2's InLine data is reported after register 3's block and register 2's own
        // offer: it was delivered, register 2's next block is its answer, and the command is
        // written once.
        ReportsRow{"InLineReportAfterItsRegisterOffered", {{5, 2}, {1, 2}, {1, 3}},
                   [](Road& r) {
                     r.TakesTheCommandReportHeld(0, "X;", "AIX", "INL IX;");
                     if (r.HasFatalFailure()) return;
                     r.emulator_.SendEcrBlock(3, "66;8;0;X;");
                     r.Hears(2, "1/128/3 err 0 [66;8;X;1;1;]");
                     r.emulator_.SendEcrBlock(2, "77;9;1;A;B;2;");
                     r.Hears(1, "1/129/2 err 0 [77;9;A;B;2;1;2;]");
                     r.emulator_.ReleaseDeliveries();
                     r.Hears(0, "5/9/2 err 0 [AIX]");
                     const std::size_t resets = r.ResetsReceived();
                     r.emulator_.SendEcrBlock(2, "1234567");
                     ASSERT_TRUE(r.emulator_.WaitForCommands("RESET", resets + 1, 10s));
                     EXPECT_EQ(r.Received("INL IX;"), 1u);
                     EXPECT_EQ(r.LogText().find("Unknown Error"), std::string::npos) << r.LogText();
                   }},
        // Register 2's block is refused once its InLine data was delivered: the client hears
        // 16 and the command is not written again.
        ReportsRow{"ABlockRefusedAfterTheDeliveryEndsTheCommand", {{5, 2}},
                   [](Road& r) {
                     r.Queue(0, 9, "X;");
                     r.emulator_.SendEcrBlock(2, "1234567");
                     ASSERT_TRUE(PumpUntil([&] { return r.engine_.SessionSnapshot(2).ExchangeState == nc::esInlDelivered; }));
                     r.emulator_.SendEcrBlock(2, "AIX", 252, kNak);
                     r.Hears(0, "5/9/2 err 16 [X;]");
                     const std::size_t resets = r.ResetsReceived();
                     r.emulator_.SendEcrBlock(2, "1234567");
                     ASSERT_TRUE(r.emulator_.WaitForCommands("RESET", resets + 1, 10s));
                     EXPECT_EQ(r.Received("INL IX;"), 1u);
                   }},
        // Register 4's InLine data awaits its report when register 2 announces: the
        // announcement stays open, and register 2's data goes out once that report has come.
        ReportsRow{"AnAnnouncementWaitsOpenForInLineDataBefore", {{5, 4}, {5, 2}},
                   [](Road& r) {
                     r.TakesTheCommandReportHeld(0, "Y;", "AIY", "INL IY;");
                     if (r.HasFatalFailure()) return;
                     r.Queue(1, 9, "X;");
                     const std::size_t resets = r.ResetsReceived();
                     r.emulator_.QueueInLineAnswer(2, "AIX");
                     r.emulator_.SendEcrBlock(2, "1234567");
                     PumpFor(300ms);
                     EXPECT_EQ(r.Received("INL IX;"), 0u);
                     r.emulator_.ReleaseDeliveries();
                     r.Hears(0, "5/9/4 err 0 [AIY]");
                     r.Hears(1, "5/9/2 err 0 [AIX]");
                     // The emulator records a command once its reply is written: the client
                     // may hear the answer first.
                     ASSERT_TRUE(r.WaitForReceived("INL IX;"));
                     // Nothing reset register 2's announcement before its data went out.
                     const std::vector<std::string> commands = r.emulator_.ReceivedCommands();
                     const auto data = std::find(commands.begin(), commands.end(), "INL IX;");
                     EXPECT_EQ(static_cast<std::size_t>(std::count(commands.begin(), data, "RESET")), resets);
                     EXPECT_EQ(r.Received("INL IX;"), 1u);
                   }},
        // Register 3's answer's report is lost. Register 2's InLine exchange does not wait for
        // it; register 4's answer waits, and only until the give-up.
        ReportsRow{"ALostAnswerReportDelaysOnlyTheNextAnswer", {{1, 3}, {5, 2}, {1, 4}},
                   [](Road& r) {
                     r.emulator_.LoseNextDelivery(0x0D);
                     r.AnswersTheOffer(0, "55;7;1;A;B;2;", "1/129/3 err 0 [55;7;A;B;2;1;1;]", "OK;", "ONL OK;2.000;;");
                     if (r.HasFatalFailure()) return;
                     r.Queue(1, 9, "X;");
                     r.emulator_.QueueInLineAnswer(2, "AIX");
                     r.emulator_.SendEcrBlock(2, "1234567");
                     r.Hears(1, "5/9/2 err 0 [AIX]");
                     r.emulator_.SendEcrBlock(4, "66;8;1;C;D;3;");
                     r.Hears(2, "1/129/4 err 0 [66;8;C;D;3;1;2;]");
                     r.Answer(2, "NO;");
                     PumpFor(300ms);
                     EXPECT_EQ(r.Received("ONL NO;3.000;;"), 0u);
                     r.MoveClock(TNetController::kReportWaitMs);
                     r.Hears(0, "1/4/3 err 15 [OK;2.000;;]");
                     r.Hears(2, "1/4/4 err 0 [NO;3.000;;]");
                   }},
        // Register 2's InLine data's report is lost. Register 3's answer does not wait for it;
        // register 4's InLine data waits, and only until the give-up.
        ReportsRow{"ALostInLineReportDelaysOnlyTheNextInLineData", {{5, 2}, {1, 3}, {5, 4}},
                   [](Road& r) {
                     r.Queue(0, 9, "X;");
                     r.emulator_.LoseNextDelivery(0x14);
                     r.emulator_.SendEcrBlock(2, "1234567");
                     ASSERT_TRUE(r.WaitForReceived("INL IX;"));
                     r.emulator_.SendEcrBlock(3, "55;7;1;A;B;2;");
                     r.Hears(1, "1/129/3 err 0 [55;7;A;B;2;1;1;]");
                     r.Answer(1, "OK;");
                     r.Hears(1, "1/4/3 err 0 [OK;2.000;;]");
                     r.Queue(2, 9, "Y;");
                     r.emulator_.QueueInLineAnswer(4, "AIY");
                     r.emulator_.SendEcrBlock(4, "1234567");
                     PumpFor(300ms);
                     EXPECT_EQ(r.Received("INL IY;"), 0u);
                     r.MoveClock(TNetController::kReportWaitMs);
                     r.Hears(0, "5/9/2 err 15 [X;]");
                     r.Hears(2, "5/9/4 err 0 [AIY]");
                   }},
        // Register 5's answer's report is lost and its block refused: the client hears 16.
        // Nothing is held for that report any more: the register's next answer goes out at
        // once, and no give-up comes for the first one.
        ReportsRow{"AFailureThatAnsweredTheReplyHoldsNothing", {{1, 5}},
                   [](Road& r) {
                     r.emulator_.LoseNextDelivery(0x0D);
                     r.emulator_.SendEcrBlock(5, "55;7;1;A;B;2;");
                     r.Hears(0, "1/129/5 err 0 [55;7;A;B;2;1;1;]");
                     r.Answer(0, "A1;");
                     ASSERT_TRUE(r.WaitForReceived("ONL A1;2.000;;"));
                     r.emulator_.SendEcrBlock(5, "55;7;1;A;B;2;", 252, kNak);
                     r.Hears(0, "1/4/5 err 16 [A1;2.000;;]");
                     r.MoveClock(4500);
                     r.emulator_.SendEcrBlock(5, "55;8;1;A;B;2;");
                     r.Hears(0, "1/129/5 err 0 [55;8;A;B;2;2;1;]");
                     r.emulator_.HoldDeliveries();
                     r.Answer(0, "A2;");
                     ASSERT_TRUE(r.WaitForReceived("ONL A2;2.000;;"));
                     // Past the first answer's time, well before the second's.
                     r.MoveClock(600);
                     r.HearsNothing(0, 500ms);
                     r.emulator_.ReleaseDeliveries();
                     r.Hears(0, "1/4/5 err 0 [A2;2.000;;]");
                     EXPECT_EQ(r.LogText().find("No delivery report"), std::string::npos) << r.LogText();
                   }},
        // The client of an open offer closes its SET, or goes: the register's exchange ends at
        // once, and its repeated block is offered to the next owner.
        ReportsRow{"AnOfferWhoseClientClosesIsOfferedAnew", {{1, 2}, {5, 2}},
                   [](Road& r) {
                     r.emulator_.SendEcrBlock(2, "77;9;1;A;B;2;");
                     r.Hears(0, "1/129/2 err 0 [77;9;A;B;2;1;1;]");
                     const std::size_t resets = r.ResetsReceived();
                     r.Client(0).SendMessage(Request(1, 2, 2));
                     r.Hears(0, "1/2/2 err 0 []");
                     ASSERT_TRUE(r.emulator_.WaitForCommands("RESET", resets + 1, 10s));
                     r.Client(1).SendMessage(Request(1, 1, 2));
                     r.Hears(1, "1/1/2 err 0 []");
                     r.emulator_.SendEcrBlock(2, "77;9;1;A;B;2;");
                     r.Hears(1, "1/129/2 err 0 [77;9;A;B;2;2;1;]");
                   }},
        ReportsRow{"AnOfferWhoseClientGoesIsOfferedAnew", {{1, 2}, {5, 2}},
                   [](Road& r) {
                     r.emulator_.SendEcrBlock(2, "77;9;1;A;B;2;");
                     r.Hears(0, "1/129/2 err 0 [77;9;A;B;2;1;1;]");
                     const std::size_t resets = r.ResetsReceived();
                     r.Leave(0);
                     // The server sees the connection end on its event loop.
                     ASSERT_TRUE(PumpUntil([&] { return r.ResetsReceived() > resets; }));
                     r.Client(1).SendMessage(Request(1, 1, 2));
                     r.Hears(1, "1/1/2 err 0 []");
                     r.emulator_.SendEcrBlock(2, "77;9;1;A;B;2;");
                     r.Hears(1, "1/129/2 err 0 [77;9;A;B;2;2;1;]");
                   }},
        // The controller refuses an answer with a status of no known meaning: the client hears
        // that the line failed.
        ReportsRow{"AnUnknownRefusalAnswersTheLineFailed", {{1, 3}},
                   [](Road& r) {
                     r.emulator_.NakNextDelivery(0x0D, 99);
                     r.emulator_.SendEcrBlock(3, "55;7;1;A;B;2;");
                     r.Hears(0, "1/129/3 err 0 [55;7;A;B;2;1;1;]");
                     r.Answer(0, "OK;");
                     r.Hears(0, "1/4/3 err 255 [OK;2.000;;]");
                     EXPECT_NE(r.LogText().find("Unknown Error: 167 Ext: 0"), std::string::npos) << r.LogText();
                   }}),
    [](const ::testing::TestParamInfo<ReportsRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace ecr::test
