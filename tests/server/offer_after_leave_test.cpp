// A register's message that awaits the answer of a SET's holder is an offer to that holding.
// When the holder leaves while the register waits, the SET's next holder never saw the
// message: its answer or finish comes too late, whether or not another register keeps the
// line polled meanwhile, and the register's wait runs on undisturbed.
#include <gtest/gtest.h>

#include <string>

#include "server/commands.h"
#include "tests/server/register_road_fixture.h"

namespace ecr {
namespace {

using testing_support::EngineOnItsOwn;
using testing_support::Lines;

constexpr std::uint16_t kHolder = 8;
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
          SCOPED_TRACE(testing::Message() << (leave == Leave::Disconnect ? "the holder disconnects" : "the holder closes")
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

}  // namespace
}  // namespace ecr
