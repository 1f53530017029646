// A register's message that awaits the answer of a SET's holder is an offer to the
// connection that holds the SET. When the holder leaves while the register waits, the SET's
// next holder never saw the message: its answer or finish comes too late, whether or not
// another register keeps the line polled meanwhile, and the register's wait runs on
// undisturbed. The holder's own connection that takes the SET back still answers it. And an answer that the
// polling thread no longer takes (its wait ended an instant before) is refused at once,
// whoever gave it, never kept as a reply that no send will ever bring. Nor does an answer
// to an offer whose wait was over before the offer went out reach the register's next
// message.
#include <gtest/gtest.h>

#include <string>

#include "line/simple_com_object.h"
#include "server/commands.h"
#include "tests/server/register_road_fixture.h"

namespace ecr {
namespace {

using testing_support::EngineOnItsOwn;
using testing_support::Lines;

constexpr std::uint16_t kHolder = 8;
constexpr std::uint16_t kMonitor = 9;
constexpr std::uint16_t kAnother = 10;
constexpr std::uint16_t kElsewhere = 20;  // holds SET 1 of register 8
constexpr int kOtherEcr = 8;

enum class Leave { Disconnect, Close };

struct Reply {
  int command;
  const char* payload;
};
const Reply kReplies[] = {{cmdAnswer, "BBB;"}, {cmdAnswerC, "BBB;"}, {cmdFinish, ""}};

TEST(OfferAfterLeave, TheNextHolderCannotAnswerAnOfferItNeverSaw) {
  for (const Leave leave : {Leave::Disconnect, Leave::Close}) {
    for (const Reply& reply : kReplies) {
      for (const bool otherRegisterPolled : {false, true}) {
        for (const std::uint16_t next : {kAnother, kHolder}) {
          // The holder's own connection is no next holder (below).
          if (leave == Leave::Close && next == kHolder) continue;
          SCOPED_TRACE(testing::Message()
                       << (leave == Leave::Disconnect ? "the holder disconnects" : "the holder closes")
                       << ", command " << reply.command
                       << (otherRegisterPolled ? ", another register is polled" : ", no other register")
                       << (next == kHolder ? ", the same slot takes the SET" : ", another client takes the SET"));
          EngineOnItsOwn road;
          road.OpenSets({{kHolder, 1}});
          if (otherRegisterPolled) road.Request(kElsewhere, 1, cmdOpen, "", kOtherEcr);
          road.Sent();
          EXPECT_EQ(road.Message("123456;4;1;Q;"), Lines{"to 8: 1/129/7 err 0 [123456;4;Q;1;1;]"});
          if (leave == Leave::Disconnect) {
            road.engine.ClientDisconnected(road.sender, &road.poller, kHolder);
          } else {
            road.Request(kHolder, 1, cmdClose);
          }
          road.Request(next, 1, cmdOpen);
          road.Sent();
          road.Calls();

          road.Request(next, 1, reply.command, reply.payload);
          EXPECT_EQ(road.Sent(), Lines{"to " + std::to_string(next) + ": 1/" + std::to_string(reply.command) +
                                       "/7 err 6 []"});
          // Nothing is handed to the line and nothing cancelled: while the line stays polled,
          // the register's wait runs to its end (a restart of polling has ended it already).
          EXPECT_TRUE(road.Calls().empty());
          EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Set, otherRegisterPolled ? 1 : 0);
          EXPECT_EQ(road.engine.WaitResSnapshot().SetNo, 0);
        }
      }
    }
  }
}

// The holder gives the SET back and takes it again on the same connection: the offer is
// still its own, while another register keeps the line polled. When the SET was the only one
// in use, taking it again restarts polling, which ends the register's wait: then the answer
// comes too late.
TEST(OfferAfterLeave, TheHoldersOwnConnectionAnswersItsOfferAfterTakingTheSetBack) {
  struct Case {
    int command;
    const char* payload;
    Lines sent;   // while another register is polled
    Lines calls;  // the same
  };
  const Case cases[] = {
      {cmdAnswer, "BBB;", {}, {"SetOnLineAnswer BBB;"}},
      {cmdAnswerC, "BBB;", {}, {"SetOnLineAnswer C;BBB;"}},
      {cmdFinish, "", {"to 8: 1/5/7 err 0 []", "to 9: 1/5/7 err 0 []"}, {"CancelExchange"}},
  };
  for (const Case& c : cases) {
    for (const bool otherRegisterPolled : {true, false}) {
      SCOPED_TRACE(testing::Message() << "command " << c.command
                                      << (otherRegisterPolled ? ", another register is polled" : ", no other register"));
      EngineOnItsOwn road;
      road.OpenSets({{kHolder, 1}, {kMonitor, 2}});
      if (otherRegisterPolled) road.Request(kElsewhere, 1, cmdOpen, "", kOtherEcr);
      road.Sent();
      EXPECT_EQ(road.Message("123456;4;1;Q;"), (Lines{"to 8: 1/129/7 err 0 [123456;4;Q;1;1;]",
                                                       "to 9: 1/129/7 err 0 [123456;4;Q;1;1;]"}));
      road.Request(kHolder, 1, cmdClose);
      road.Request(kHolder, 1, cmdOpen);
      road.Sent();
      road.Calls();

      road.Request(kHolder, 1, c.command, c.payload);
      Lines sent = road.Sent();
      ASSERT_FALSE(sent.empty());
      sent.erase(sent.begin());  // the monitor's copy of the request
      const std::string tooLate = "1/" + std::to_string(c.command) + "/7 err 6 []";
      EXPECT_EQ(sent, otherRegisterPolled ? c.sent : (Lines{"to 8: " + tooLate, "to 9: " + tooLate}));
      EXPECT_EQ(road.Calls(), otherRegisterPolled ? c.calls : Lines{});
      EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Set, 0);
    }
  }
}

// The polling thread's wait has just ended (time-out or cancel) and its event is still on
// its way when the answer comes: the thread refuses it. Each way an answer is handed over.
TEST(OfferAfterLeave, AnAnswerTheThreadNoLongerTakesIsRefusedAtOnce) {
  struct Case {
    const char* name;
    int set;
    int cop;  // SET 13's queued request; 0: the holder answers SET 1's message
    std::string message;
    int command;  // the holder's answer on SET 1
    std::string refused;  // to the holder and its monitor
  };
  const std::string ref = " ref 1/1/123456/4";
  const Case cases[] = {
      {"cmdAnswer", 1, 0, "123456;4;1;Q;", cmdAnswer, "1/4/7 err 6 []"},
      {"cmdAnswerC", 1, 0, "123456;4;1;Q;", cmdAnswerC, "1/8/7 err 6 []"},
      {"a sale question", 13, 4, "123456;4;5;", 0, "13/4/7 err 6" + ref + " [p;]"},
      {"a receipt line", 13, 13, "123456;4;A;", 0, "13/13/7 err 6" + ref + " [p;]"},
      {"a receipt line answered at once", 13, 11, "123456;4;A;", 0, "13/11/7 err 6" + ref + " [p;]"},
      {"a reported value", 13, 12, "123456;4;A;0;", 0, "13/12/7 err 6" + ref + " [123456;4;0;]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineOnItsOwn road;
    road.OpenSets({{kHolder, c.set}, {kMonitor, c.set + 1}});
    if (c.cop != 0) road.Request(kHolder, c.set, c.cop, "p;");
    road.Sent();
    road.poller.takesAnswers = false;
    Lines sent = road.Message(c.message);
    if (c.command != 0) {
      road.Request(kHolder, c.set, c.command, "AAA;");
      sent = road.Sent();
      sent.erase(sent.begin());  // the monitor's copy of the request
    }
    EXPECT_EQ(sent, (Lines{"to 8: " + c.refused, "to 9: " + c.refused}));
    EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Set, 0);
    EXPECT_EQ(road.Set(c.set).Command, 0);
    EXPECT_EQ(road.Set(c.set).State, kStateNone);
    EXPECT_EQ(road.Set(c.set).Saved, 0);

    // The thread's no-answer event and the register's next status bring nothing more.
    road.engine.ClearCurrentExchange();
    road.engine.OnEcrStatus(road.sender, &road.poller, EngineOnItsOwn::kEcr, "123456;", 0);
    EXPECT_TRUE(road.Sent().empty());
  }
}

// The holder leaves just after the line took the register's message, and the next open
// restarts polling, which cancels the wait before the engine has offered the message: the
// new holder gets the offer, but the register waits for no answer any more. The line takes
// the next message (of this register or of another one) and waits for its answer before
// the engine has offered that one: an answer or finish to the first offer must not reach
// the second message.
TEST(OfferAfterLeave, AnOfferWhoseWaitWasCancelledTakesNoAnswerForTheNextMessage) {
  for (const Leave leave : {Leave::Disconnect, Leave::Close}) {
    for (const Reply& reply : kReplies) {
      for (const int nextEcr : {EngineOnItsOwn::kEcr, kOtherEcr}) {
        SCOPED_TRACE(testing::Message()
                     << (leave == Leave::Disconnect ? "the holder disconnects" : "the holder closes")
                     << ", command " << reply.command << ", the next message from register " << nextEcr);
        EngineOnItsOwn road;
        TSimpleComObject line;
        const auto take = [&](int logNo, const std::string& block) {
          bool accept = true;
          road.engine.AcceptEcrMessage(line, static_cast<std::uint8_t>(logNo), block, accept);
          return accept;
        };
        road.OpenSets({{kHolder, 1}});
        ASSERT_TRUE(take(EngineOnItsOwn::kEcr, "123456;4;1;Q;"));
        if (leave == Leave::Disconnect) {
          road.engine.ClientDisconnected(road.sender, &road.poller, kHolder);
        } else {
          road.Request(kHolder, 1, cmdClose);
        }
        road.Request(kAnother, 1, cmdOpen);
        if (nextEcr == kOtherEcr) road.Request(kElsewhere, 1, cmdOpen, "", kOtherEcr);
        road.Sent();
        Lines restart{"RemoveEcr 7", "StopNoise", "AddEcr 7", "StartNoise", "CancelExchange"};
        if (nextEcr == kOtherEcr) restart.push_back("AddEcr 8");
        EXPECT_EQ(road.Calls(), restart);
        EXPECT_EQ(road.Message("123456;4;1;Q;"), Lines{"to 10: 1/129/7 err 0 [123456;4;Q;1;1;]"});

        ASSERT_TRUE(take(nextEcr, "123456;5;1;R;"));
        road.Request(kAnother, 1, reply.command, reply.payload);
        EXPECT_EQ(road.Sent(), Lines{"to 10: 1/" + std::to_string(reply.command) + "/7 err 6 []"});
        EXPECT_TRUE(road.Calls().empty());
        EXPECT_EQ(road.engine.WaitResSnapshot().SetNo, 0);
      }
    }
  }
}

}  // namespace
}  // namespace ecr
