#include "server/exchange_context.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "server/client_message.h"
#include "server/sock_exception.h"
#include "tests/server/engine_fakes.h"

namespace ecr {
namespace {

using testing_support::CountingSaver;
using testing_support::Describe;
using testing_support::RecordingPoller;
using testing_support::RecordingSender;
using Lines = std::vector<std::string>;

class ExchangeContextTest : public ::testing::Test {
 protected:
  ServerSettings settings;
  CountingSaver saver;
  RecordingSender sender;
  RecordingPoller poller;
  std::vector<std::string> log;
  ExchangeContext context{settings, saver, [this](const std::string& line) { log.push_back(line); }};
};

TEST_F(ExchangeContextTest, AnswerCurrentExchangeRepliesToTheSetAndItsMonitor) {
  context.EcrTable.At(4).Set(13).ClientId = 21;
  context.EcrTable.At(4).Set(14).ClientId = 22;
  context.EcrTable.At(4).Set(13).Command = 9;
  context.EcrTable.At(4).Set(13).State = kStateSent;

  context.AnswerCurrentExchange(sender, 0);  // nothing owed yet
  EXPECT_TRUE(sender.Take().empty());

  context.SetExchange(13, 9, 4, "pay;", "REF");
  context.AnswerCurrentExchange(sender, 10);
  EXPECT_EQ(Describe(sender.Take()),
            (Lines{"to 21: 13/9/4 err 10 block [REF] [pay;]", "to 22: 13/9/4 err 10 block [REF] [pay;]"}));
  EXPECT_EQ(context.EcrTable.At(4).Set(13).Command, 0);
  EXPECT_EQ(context.EcrTable.At(4).Set(13).State, kStateNone);
  // The context stays until the next SetExchange.
  EXPECT_EQ(context.WaitRes.SetNo, 13);

  // An even SET has no monitor.
  context.EcrTable.At(4).Set(12).ClientId = 30;
  context.SetExchange(12, 1, 4, "", "");
  context.AnswerCurrentExchange(sender, 0);
  EXPECT_EQ(Describe(sender.Take()), (Lines{"to 30: 12/1/4 err 0 []"}));
}

TEST_F(ExchangeContextTest, DeferredReplyIsKeptAndAnsweredWithTheNextCommand) {
  for (bool oldFPMode : {false, true}) {
    SCOPED_TRACE(oldFPMode ? "old fiscal printer" : "normal");
    context.OldFPMode = oldFPMode;
    TSetDescr& set = context.EcrTable.At(2).Set(13);
    set = TSetDescr{};
    set.ClientId = 8;
    context.SetExchange(13, 5, 2, "result;", "RECEIPTREF123");
    context.WaitRes.NextCommand = cmdAnswerSent;
    context.WaitRes.Deferred = 1;
    context.AnswerCurrentExchange(sender, 0);
    EXPECT_EQ(set.Saved, 1);
    EXPECT_EQ(set.SavedCommand, 5);
    EXPECT_EQ(set.SavedPayload, "result;");
    EXPECT_EQ(set.SavedBlock, "RECEIPTREF123");
    EXPECT_EQ(context.WaitRes.Deferred, 0);
    EXPECT_EQ(context.WaitRes.Command, cmdAnswerSent);
    const Lines expected =
        oldFPMode ? Lines{} : Lines{"to 8: 13/160/2 err 0 block [RECEIPTREF123] [result;]"};
    EXPECT_EQ(Describe(sender.Take()), expected);
  }
}

TEST_F(ExchangeContextTest, SendToClientSkipsClientZeroAndSwallowsSendFailures) {
  ExchangeContext::SendToClient(sender, 0, "x");
  EXPECT_TRUE(sender.Take().empty());
  struct FailingSender : ClientSender {
    void SendData(std::uint16_t, std::string_view) override { throw ESockException("gone"); }
  } failing;
  EXPECT_NO_THROW(ExchangeContext::SendToClient(failing, 3, "x"));

  TEcr& ecr = context.EcrTable.At(1);
  ecr.Queue = {5, 6, 5, 9};
  ecr.QueueCount = 3;
  ExchangeContext::SendToSubscribers(sender, ecr, "m");
  const auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].client, 5);
  EXPECT_EQ(sent[1].client, 6);
  EXPECT_EQ(sent[2].client, 5);
}

TEST_F(ExchangeContextTest, UseCountAddsAndRemovesTheRegister) {
  context.EcrUseDec(&poller, 7);  // already 0: nothing
  EXPECT_TRUE(poller.Take().empty());
  context.EcrUseInc(&poller, 7);
  context.EcrUseInc(&poller, 7);
  context.EcrUseInc(&poller, 9);
  EXPECT_EQ(poller.Take(), (Lines{"AddEcr 7", "StartNoise", "CancelExchange", "AddEcr 9"}));
  EXPECT_EQ(context.PollingActive, 1u);
  context.EcrUseDec(&poller, 7);
  context.EcrUseDec(&poller, 7);
  EXPECT_EQ(poller.Take(), (Lines{"RemoveEcr 7"}));
  context.EcrUseDec(&poller, 9);
  EXPECT_EQ(poller.Take(), (Lines{"RemoveEcr 9", "StopNoise"}));
  EXPECT_EQ(context.PollingActive, 0u);
  // Without a polling thread the count still moves.
  context.EcrUseInc(nullptr, 3);
  EXPECT_EQ(context.EcrTable.At(3).UseCount, 1);
  EXPECT_EQ(context.PollingActive, 1u);
}

TEST_F(ExchangeContextTest, RepeatedBlockIsLoggedAndOnlyTheLastBlockCounts) {
  EXPECT_FALSE(context.IsRepeatedBlock(1, "123;4;0;X;"));
  EXPECT_FALSE(context.IsRepeatedBlock(2, "123;4;0;X;"));  // another register's first block
  EXPECT_TRUE(context.IsRepeatedBlock(1, "123;4;0;X;"));
  EXPECT_FALSE(context.IsRepeatedBlock(1, "123;5;0;X;"));
  EXPECT_FALSE(context.IsRepeatedBlock(1, "123;4;0;X;"));
  EXPECT_EQ(log, (Lines{"Repeated block: 123;4;0;X;"}));
}

TEST_F(ExchangeContextTest, NotificationIdsAndSequences) {
  EXPECT_EQ(context.EcrNotifyId(5), 1);
  EXPECT_EQ(settings.NextNotifyId, 2);
  EXPECT_EQ(context.EcrNotifyId(5), 1);
  EXPECT_EQ(saver.saves, 0);
  EXPECT_EQ(context.EcrNotifyId(6), 2);
  EXPECT_EQ(context.NextEcrSequence(5), 1);
  EXPECT_EQ(context.NextEcrSequence(5), 2);
  EXPECT_EQ(context.CurrentEcrSequence(5), 3);
  EXPECT_EQ(context.CurrentEcrSequence(5), 3);

  EXPECT_EQ(context.NewEcrNotifyId(5), 1);
  EXPECT_EQ(settings.Ecr(5).NotifyId, 3);
  EXPECT_EQ(settings.NextNotifyId, 4);
  EXPECT_EQ(context.CurrentEcrSequence(5), 1);
  EXPECT_EQ(saver.saves, 1);
  // A register without an id gets one first, then the next.
  EXPECT_EQ(context.NewEcrNotifyId(8), 4);
  EXPECT_EQ(settings.Ecr(8).NotifyId, 5);
  EXPECT_EQ(saver.saves, 2);
}

TEST_F(ExchangeContextTest, SequenceAfter65535GoesOnWithOne) {
  settings.Ecr(3).Sequence = 65534;
  EXPECT_EQ(context.NextEcrSequence(3), 65534);
  EXPECT_EQ(context.NextEcrSequence(3), 65535);
  EXPECT_EQ(context.NextEcrSequence(3), 1);
  EXPECT_EQ(context.NextEcrSequence(3), 2);
}

TEST_F(ExchangeContextTest, ResetClearsTheTableButNotTheCounters) {
  context.EcrTable.At(1).Set(1).ClientId = 4;
  context.SetCurrentExchange(1, 1);
  context.PollingActive = 1;
  context.EcrNotifyId(1);
  context.Reset();
  EXPECT_EQ(context.EcrTable.At(1).Set(1).ClientId, 0);
  EXPECT_FALSE(context.IsCurrentExchange(1, 1));
  EXPECT_EQ(context.PollingActive, 0u);
  EXPECT_EQ(settings.Ecr(1).NotifyId, 1);
}

}  // namespace
}  // namespace ecr
