// The register side end to end (see register_road_over_line_fixture.h): the main roads of
// a command, a message and a fiscal question, and a client that leaves while its command is
// on the line.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "tests/server/register_road_over_line_fixture.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing_support::AnswerGate;
using testing_support::RegisterRoadOverLine;

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

// How late the register acknowledges the asker's command.
struct LateAck {
  const char* name;
  std::chrono::microseconds delay;
  // The ACK waits until the next connection's open, which restarts polling, is done: on a
  // 1200 bit/s line a long command leaves the line waiting for its ACK for 1.9 s, and the
  // register keeps the ACK for 1.2 s at most.
  bool heldUntilTheNextOpen;
};
void PrintTo(const LateAck& late, std::ostream* os) { *os << late.name; }

// The asker leaves while its command is on the line, and the next connection's open
// restarts polling before or after the register's ACK: the command's exchange runs to its
// end however the events fall.
class LeaveWhileTheCommandIsOnTheLine : public RegisterRoadOverLine, public ::testing::WithParamInterface<LateAck> {};

TEST_P(LeaveWhileTheCommandIsOnTheLine, ReplyReachesOnlyTheMonitorAndTheNextOwnerGetsItsOwn) {
  const LateAck& late = GetParam();
  if (late.heldUntilTheNextOpen) {
    Stop();
    Start(1200);
  }
  const std::string text = late.heldUntilTheNextOpen ? "AAA;" + std::string(200, 'X') : "AAA;";
  ecr7.AcknowledgeLate(late.delay);
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
    RegisterEmulator& emulator;
    std::shared_ptr<AnswerGate> gate;
    ~OpenAtEnd() {
      emulator.ReleaseAcknowledgements();
      gate->Open();
    }
  } openAtEnd{emulator, gate};

  auto monitor = Connect();
  Open(*monitor, 6);
  auto asker = Connect();
  Open(*asker, 5);
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 []");
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 [HARBENDIX]");
  if (late.heldUntilTheNextOpen) emulator.HoldAcknowledgements(1200ms);
  asker->SendMessage(Request(5, 9, text));
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [" + text + "]");
  // The command is on the line, its ACK or answer awaited; the asker goes away.
  ASSERT_TRUE(EmulatorSees([&] { return ecr7.Commands().size() == 1; }));
  asker->Close();
  ASSERT_TRUE(EmulatorSees([&] { return disconnects == 1; }));

  // The next connection takes the slot the asker had, and the SET, and queues the same request.
  auto next = Connect();
  Open(*next, 5);
  emulator.ReleaseAcknowledgements();
  ASSERT_EQ(clientIds.size(), 3u);
  EXPECT_EQ(clientIds[2], clientIds[1]);
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 []");
  EXPECT_EQ(Next(*monitor), "5/1/7 err 0 [HARBENDIX]");
  next->SendMessage(Request(5, 9, text));
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [" + text + "]");
  gate->Open();

  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [DONE-1]");
  EXPECT_EQ(Next(*monitor), "5/9/7 err 0 [DONE-2]");
  EXPECT_EQ(Next(*next), "5/9/7 err 0 [DONE-2]");
  // Its request ran once: the register is polled on and hears nothing more.
  const int takes = ecr7.Takes();
  ASSERT_TRUE(EmulatorSees([&] { return ecr7.Takes() > takes + 2; }));
  EXPECT_EQ(ecr7.Commands(), (std::vector<std::string>{"I" + text, "I" + text}));
  EXPECT_TRUE(next->NothingArrives(100ms));
  EXPECT_EQ(ecr7.AcknowledgedAnswers(), 2);
}

// At once; half a millisecond, which the command's exchange used to lose to the next open
// now and then; long enough for the asker to leave and the next open to come before the ACK
// on an idle machine, well within the 200 ms the line waits for it; and held until the next
// open is done, which puts the restart of polling between the command and its ACK every time.
INSTANTIATE_TEST_SUITE_P(AckDelays, LeaveWhileTheCommandIsOnTheLine,
                         ::testing::Values(LateAck{"AckAfter0us", std::chrono::microseconds(0), false},
                                           LateAck{"AckAfter500us", std::chrono::microseconds(500), false},
                                           LateAck{"AckAfter60ms", std::chrono::milliseconds(60), false},
                                           LateAck{"AckHeldUntilTheNextOpen", {}, true}),
                         [](const ::testing::TestParamInfo<LateAck>& late) { return std::string(late.param.name); });

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
