// The client handlers of the network-controller server: queue, answer, hold, finish,
// cancel and state, and the InLine road of SET 5.

#include "tests/netcontroller/nc_request_fixture.h"

namespace ecr::test {
namespace {

class NcHandlersTest : public NcRequestTest {
 protected:
  // Register 2 offers an OnLine block to `setNo` (type '1' to SET 1, '9' to SET 9, '4' to
  // SET 11) with exchange number `exchangeNo`, and the test forgets the offer.
  void Offer(int setNo, int exchangeNo = 9) {
    const char* type = setNo == 1 ? "1" : setNo == 9 ? "9" : "4";
    engine.HandleOnlineBlock(2, "77;" + std::to_string(exchangeNo) + ";" + type + ";a;b;2;");
    Clear();
  }
};

TEST_F(NcHandlersTest, RequestsOnASetOfAnotherClientAreAnswered4WithTheMonitorCopy) {
  struct Case {
    int setNo;
    int command;
  };
  const Case cases[] = {{1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8}, {3, 2}, {3, 3}, {3, 4},
                        {3, 7}, {5, 4}, {5, 10}, {9, 4}, {9, 8}, {9, 9}, {11, 6}, {13, 12}};
  for (const Case& c : cases) {
    Open(7, c.setNo + 1, 2);
    Send(5, c.setNo, c.command, 2, "1;");
    const std::string reply = std::to_string(c.setNo) + "/" + std::to_string(c.command) + "/2 err 4 []";
    EXPECT_EQ(Replies(), (Lines{"to 5: " + reply, "to 7: " + reply})) << c.setNo << "/" << c.command;
    EXPECT_EQ(Commands(), Lines{});
    engine.ClientDisconnected(7);
  }
}

TEST_F(NcHandlersTest, AnAnswerLongerThan120IsRefusedWithItsPayload) {
  Open(5, 9, 2);
  Open(7, 10, 2);
  const std::string tooLong(121, 'x');
  Send(5, 9, 4, 2, tooLong);
  EXPECT_EQ(Replies(), (Lines{"to 5: 9/4/2 err 18 [" + tooLong + "]", "to 7: 9/4/2 err 18 [" + tooLong + "]"}));
  Send(5, 9, 4, 2, std::string(120, 'y'));
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Slot(2, 9).Payload, std::string(120, 'y'));
  EXPECT_EQ(Slot(2, 9).State, nc::kSlotQueued);
  Send(5, 9, 4, 2, "again;");
  EXPECT_EQ(Replies(), (Lines{"to 5: 9/4/2 err 3 []", "to 7: 9/4/2 err 3 []"}));
}

TEST_F(NcHandlersTest, AnAnswerToAWaitingRegisterGoesOutAtOnceAndIsRepliedOnDelivery) {
  Open(5, 11, 2);
  Open(7, 12, 2);
  Offer(11);
  EXPECT_EQ(engine.PendingExchangeSnapshot(), (nc::PendingExchange{2, 11}));
  Send(5, 11, 4, 2, "ok;1;");
  EXPECT_EQ(Commands(), Lines{"ONL ok;1;"});
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(engine.PendingExchangeSnapshot(), nc::PendingExchange{});
  EXPECT_EQ(engine.ReplyContextSnapshot(2).Set, 11);
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), (Lines{"to 5: 11/4/2 err 0 [ok;1;]", "to 7: 11/4/2 err 0 [ok;1;]"}));
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(engine.ReplyContextSnapshot(2).Set, 0);
}

TEST_F(NcHandlersTest, AnAnswerTheLinkCannotSendWaitsForTheRegistersRepeat) {
  Open(5, 11, 2);
  Offer(11, 4);
  commands.onlResult = 101;
  Send(5, 11, 4, 2, "ok;");
  // The register's exchange ends, so that its repeat comes through.
  EXPECT_EQ(Commands(), (Lines{"ONL ok;", "RESET"}));
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Slot(2, 11).State, nc::kSlotQueued);
  commands.onlResult = 0;
  engine.HandleOnlineBlock(2, "77;4;4;a;b;2;");
  EXPECT_EQ(Commands(), Lines{"ONL ok;"});
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), Lines{"to 5: 11/4/2 err 0 [ok;]"});
}

TEST_F(NcHandlersTest, SetOneAnswerPutsTheQuantityInField4) {
  Open(5, 1, 2);
  Offer(1);
  Send(5, 1, 4, 2, "f1;f2;f3;x;f5;f6;f7;2.5;");
  EXPECT_EQ(Commands(), Lines{"ONL f1;f2;f3;2.500;x;f5;f6;f7;;"});
  // Without field 8 the quantity of the register's block (field 5 of type '1') serves.
  engine.HandleOnlineBlock(2, "77;9;1;a;b;7.25;");
  Clear();
  Send(5, 1, 4, 2, "f1;f2;f3;x;");
  EXPECT_EQ(Commands(), Lines{"ONL f1;f2;f3;7.250;x;;"});
}

TEST_F(NcHandlersTest, AnswerCKeepsOnlyTheRate) {
  struct Case {
    int setNo;
    std::string payload;
    std::string sent;
  };
  const Case cases[] = {
      {1, "-5;", "C;;0.00;;;;"},    {9, "-5;", "C;;-5.00;;;;"},  {1, "7.5;x;y;", "C;;7.50;;;;"},
      {1, "100;", "C;;0.00;;;;"},   {9, "-99.99;", "C;;-99.99;;;;"}, {9, "-100;", "C;;0.00;;;;"},
      {1, "abc;", "C;;0.00;;;;"},
  };
  for (const Case& c : cases) {
    Open(5, c.setNo, 2);
    Offer(c.setNo);
    Send(5, c.setNo, 8, 2, c.payload);
    EXPECT_EQ(Commands(), Lines{"ONL " + c.sent}) << c.setNo << " " << c.payload;
    engine.ClientDisconnected(5);
    Clear();
  }
}

TEST_F(NcHandlersTest, HoldTellsTheRegisterToWaitUntilTheClientAnswers) {
  Open(5, 9, 2);
  Send(5, 9, 6, 2);
  EXPECT_EQ(Replies(), Lines{"to 5: 9/6/2 err 12 []"});  // the register is not waiting

  Offer(9, 3);
  Send(5, 9, 6, 2);
  EXPECT_EQ(Replies(), Lines{"to 5: 9/6/2 err 0 []"});
  EXPECT_EQ(Commands(), Lines{"ONL \x1F;;;;"});
  EXPECT_EQ(engine.ExchangeStateName(2), "esWaitTx");
  EXPECT_EQ(engine.PendingExchangeSnapshot(), nc::PendingExchange{});
  Send(5, 9, 6, 2);
  EXPECT_EQ(Replies(), Lines{"to 5: 9/6/2 err 3 []"});
  Send(5, 9, 7, 2);
  EXPECT_EQ(Replies(), Lines{"to 5: 9/7/2 err 0 []"});  // a hold is no queued request

  // The register asks again: it hears the hold again.
  engine.HandleOnlineBlock(2, "77;3;9;a;b;2;");
  EXPECT_EQ(Commands(), Lines{"ONL \x1F;;;;"});
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), Lines{});
  Clear();

  // An answer while held is queued, and the next repeat takes it.
  Send(5, 9, 4, 2, "done;");
  EXPECT_EQ(Replies(), Lines{});
  engine.HandleOnlineBlock(2, "77;3;9;a;b;2;");
  EXPECT_EQ(Commands(), Lines{"ONL done;"});
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), Lines{"to 5: 9/4/2 err 0 [done;]"});
  EXPECT_EQ(Slot(2, 9).Command, 0);
}

TEST_F(NcHandlersTest, FinishEndsAWaitingExchangeOrWaitsForTheNextBlock) {
  Open(5, 9, 2);
  Offer(9);
  Send(5, 9, 5, 2);
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Replies(), Lines{"to 5: 9/5/2 err 0 []"});

  Send(5, 9, 9, 2, "why;");  // the second finish of SET 9, queued
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Slot(2, 9).Command, 9);
  engine.HandleOnlineBlock(2, "77;9;9;a;b;2;");
  EXPECT_EQ(Replies(), Lines{"to 5: 9/9/2 err 0 [why;]"});
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Slot(2, 9).Command, 0);
}

TEST_F(NcHandlersTest, CancelAndStateWorkOnTheQueuedRequest) {
  Open(5, 3, 2);
  Open(7, 4, 2);
  Send(5, 3, 7, 2);
  EXPECT_EQ(Replies(), (Lines{"to 5: 3/7/2 err 0 []", "to 7: 3/7/2 err 0 []"}));
  Send(5, 3, 5, 2, "a;b;c;d;e;");
  Send(5, 3, 7, 2);
  EXPECT_EQ(Replies(), (Lines{"to 5: 3/7/2 err 101 []", "to 7: 3/7/2 err 101 []"}));
  Send(5, 3, 3, 2);
  EXPECT_EQ(Replies(), (Lines{"to 5: 3/3/2 err 0 []", "to 7: 3/3/2 err 0 []"}));
  EXPECT_EQ(Slot(2, 13).Command, 0);
  Send(5, 3, 7, 2);
  EXPECT_EQ(Replies(), (Lines{"to 5: 3/7/2 err 0 []", "to 7: 3/7/2 err 0 []"}));
}

TEST_F(NcHandlersTest, QueuedCopPayloads) {
  struct Case {
    int setNo;
    int command;
    std::string payload;
    std::string queued;
  };
  const Case cases[] = {
      {13, 6, "", "0;;"}, {13, 6, "5;", "5;"}, {3, 6, "5;", "0;;"}, {13, 12, "", ""}, {3, 5, "a;b;c;d;e;", "a;b;c;d;e;"},
  };
  for (const Case& c : cases) {
    Open(5, c.setNo, 2);
    Send(5, c.setNo, c.command, 2, c.payload);
    EXPECT_EQ(Replies(), Lines{});
    EXPECT_EQ(Slot(2, 13).Command, c.command);
    EXPECT_EQ(Slot(2, 13).Payload, c.queued) << c.setNo << "/" << c.command << " " << c.payload;
    Send(5, c.setNo, 4, 2, "x;");
    EXPECT_EQ(Replies(), Lines{"to 5: " + std::to_string(c.setNo) + "/4/2 err 3 []"});
    engine.ClientDisconnected(5);
  }
  Open(5, 13, 2);
  Send(5, 13, 4, 2, std::string(121, 'z'));
  EXPECT_EQ(Replies(), Lines{"to 5: 13/4/2 err 18 [" + std::string(121, 'z') + "]"});
}

TEST_F(NcHandlersTest, Set5RequestsGoToTheRegisterOnItsInLineAnnouncement) {
  struct Case {
    int command;
    std::string answer;
    std::string sent;
    int errorCode;
  };
  const Case cases[] = {{4, "OK;", "INL Rq;", 0}, {5, "E", "INL Pq;", 13}, {6, "", "INL Wq;", 0},
                        {8, "1;", "INL Tq;", 0},  {9, "2;", "INL Iq;", 0},  {10, "3;", "INL Cq;", 0}};
  Open(5, 5, 2);
  Open(7, 6, 2);
  for (const Case& c : cases) {
    Send(5, 5, c.command, 2, "q;");
    EXPECT_EQ(Replies(), Lines{});
    engine.HandleEcrInLine(2, "4711;ab");
    EXPECT_EQ(Commands(), Lines{"INL " + c.sent.substr(4)});
    EXPECT_EQ(engine.ExchangeStateName(2), "esInlRx");
    EXPECT_EQ(Counters(2).SerialNumber, 4711);
    EXPECT_EQ(Counters(2).Mode, 1);
    engine.HandleInlSended(2, 0);
    EXPECT_EQ(engine.ExchangeStateName(2), "Other state");
    engine.HandleInlReceived(2, c.answer);
    const std::string reply = "5/" + std::to_string(c.command) + "/2 err " + std::to_string(c.errorCode) + " [" +
                              c.answer + "]";
    EXPECT_EQ(Replies(), (Lines{"to 5: " + reply, "to 7: " + reply}));
    EXPECT_EQ(Commands(), Lines{"RESET"});
    EXPECT_EQ(Slot(2, 5).Command, 0);
    EXPECT_EQ(engine.ExchangeStateName(2), "esNone");
  }
  // Nothing queued: the announcement only resets.
  engine.HandleEcrInLine(2, "4711;ab");
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(engine.ExchangeStateName(2), "esNone");
}

TEST_F(NcHandlersTest, ASet5RequestTooLongForTheLinkIsRefusedInsteadOfLost) {
  Open(5, 5, 2);
  Send(5, 5, 4, 2, std::string(120, 'q'));  // the letter makes it 121
  engine.HandleEcrInLine(2, "4711;ab");
  EXPECT_EQ(Replies(), Lines{"to 5: 5/4/2 err 18 [" + std::string(120, 'q') + "]"});
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Slot(2, 5).Command, 0);
  EXPECT_EQ(engine.ExchangeStateName(2), "esNone");
}

TEST_F(NcHandlersTest, AReplyOwedToAClientThatLeftGoesToNoLaterOwnerOfItsSet) {
  Open(5, 11, 2);
  Offer(11);
  Send(5, 11, 4, 2, "ok;");
  Clear();
  engine.ClientDisconnected(5);
  // The socket server gives the next connection the same id.
  Open(5, 11, 2);
  Send(5, 11, 4, 2, "mine;");  // queued: the register is not waiting
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Slot(2, 11).State, nc::kSlotQueued);
  EXPECT_EQ(Slot(2, 11).Payload, "mine;");

  // The same holds for SET 5's InLine answer.
  Open(6, 5, 3);
  Send(6, 5, 4, 3, "q;");
  engine.HandleEcrInLine(3, "1;");
  engine.ClientDisconnected(6);
  Open(6, 5, 3);
  Send(6, 5, 5, 3, "next;");
  engine.HandleInlReceived(3, "OK;");
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Slot(3, 5).Command, 5);
}

// Client 5's answer on SET 11 goes out and client 5 leaves; the controller's error 169 only
// resets, so the reply owed to client 5 is never used up. What is handed over next belongs to
// another client, who gets the reply, and the register takes it once.
class NcDepartedOwnerTest : public NcHandlersTest {
 protected:
  NcDepartedOwnerTest() {
    Open(5, 11, 2);
    Offer(11);
    Send(5, 11, 4, 2, "ok;");
    engine.ClientDisconnected(5);
    engine.HandleControllerError(2, 169, 0);
    EXPECT_EQ(engine.ReplyContextSnapshot(2).Set, 11);
    Clear();
  }
};

TEST_F(NcDepartedOwnerTest, TheNextSaleLineIsRepliedToItsClientAndSoldOnce) {
  Open(7, 13, 2);
  Open(8, 14, 2);
  SetCounters(2, 5, 40);
  Send(7, 13, 4, 2, "123;Bread;1.5;2;1;1;1;");
  engine.HandleOnlineBlock(2, "77;9;5;x;");
  EXPECT_EQ(Commands(), Lines{"ONL 123;Bread;1.50;2.000;1;1;1;0;0;"});
  engine.HandleOnlSended(2, 0);
  const std::string reply = "13/4/2 err 0 [123;Bread;1.50;2.000;1;1;1;77;9;5;40;]";
  EXPECT_EQ(Replies(), (Lines{"to 7: " + reply, "to 8: " + reply}));
  EXPECT_EQ(Slot(2, 13).Command, 0);
  EXPECT_EQ(Slot(2, 13).State, 0);
  // The register's next sale block finds nothing to sell.
  engine.HandleOnlineBlock(2, "77;10;5;x;");
  EXPECT_EQ(Commands(), (Lines{"RESET", "RESET"}));
  EXPECT_EQ(Replies(), Lines{});
}

TEST_F(NcDepartedOwnerTest, TheNextInLineCommandIsRepliedToItsClientAndSentOnce) {
  Open(7, 5, 2);
  Open(8, 6, 2);
  Send(7, 5, 4, 2, "q;");
  engine.HandleEcrInLine(2, "1;");
  engine.HandleInlSended(2, 0);
  engine.HandleInlReceived(2, "OK;");
  EXPECT_EQ(Commands(), (Lines{"INL Rq;", "RESET"}));
  EXPECT_EQ(Replies(), (Lines{"to 7: 5/4/2 err 0 [OK;]", "to 8: 5/4/2 err 0 [OK;]"}));
  EXPECT_EQ(Slot(2, 5).Command, 0);
  // The register's next announcement finds nothing to send.
  engine.HandleEcrInLine(2, "1;");
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Replies(), Lines{});
}

TEST_F(NcHandlersTest, ARequestQueuedWhileAnAnswerIsUnderWayStaysQueued) {
  Open(5, 11, 2);
  Offer(11);
  Send(5, 11, 4, 2, "ok;");
  Send(5, 11, 5, 2);  // a finish for the register's next block
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), Lines{"to 5: 11/4/2 err 0 [ok;]"});
  EXPECT_EQ(Slot(2, 11).Command, 5);
  EXPECT_EQ(Slot(2, 11).State, nc::kSlotQueued);
}

}  // namespace
}  // namespace ecr::test
