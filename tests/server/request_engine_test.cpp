#include "server/request_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "tests/server/engine_fakes.h"

namespace ecr {
namespace {

using testing_support::CountingSaver;
using testing_support::Describe;
using testing_support::RecordingPoller;
using testing_support::RecordingSender;
using Lines = std::vector<std::string>;

class RequestEngineTest : public ::testing::Test {
 protected:
  // Sends one request and returns what the engine sent, in order.
  Lines Send(std::uint16_t client, int set, int command, int logNo, std::string_view payload = {},
             std::string_view block = {}) {
    engine.DispatchRequest(sender, &poller,  client, Request(set, command, logNo, payload, block));
    return Describe(sender.Take());
  }
  static std::string Request(int set, int command, int logNo, std::string_view payload = {},
                             std::string_view block = {}) {
    return BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command),
                              static_cast<std::uint8_t>(logNo), 0, block, payload);
  }
  void Open(std::uint16_t client, int set, int logNo) {
    const Lines replies = Send(client, set, cmdOpen, logNo);
    ASSERT_FALSE(replies.empty());
    ASSERT_NE(replies[0].find(" err 0 "), std::string::npos) << replies[0];
  }
  void StartExchange(int logNo, int set) {
    engine.WithContext([&](ExchangeContext& context) { context.SetCurrentExchange(logNo, set); });
  }

  ServerSettings settings;
  CountingSaver saver;
  RecordingSender sender;
  RecordingPoller poller;
  RequestEngine engine{settings, saver, "v1.0.21.1"};
};

TEST_F(RequestEngineTest, DispatcherTestsRunInTheirOrder) {
  struct Case {
    int set, command, logNo;
    int expected;
  };
  const Case cases[] = {
      {0, 1, 1, 19},   {15, 1, 1, 19},  {253, 1, 1, 19}, {0, 0, 0, 19},   {15, 99, 100, 19},
      {1, 0, 1, 14},   {1, 16, 1, 14},  {1, 255, 0, 14}, {14, 0, 100, 14}, {1, 1, 0, 20},
      {1, 1, 100, 20}, {1, 1, 255, 20}, {254, 1, 0, 20}, {254, 2, 100, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.set << "/" << c.command << "/" << c.logNo);
    const Lines expected{"to 3: " + std::to_string(c.set) + "/" + std::to_string(c.command) + "/" +
                         std::to_string(c.logNo) + " err " + std::to_string(c.expected) + " []"};
    EXPECT_EQ(Send(3, c.set, c.command, c.logNo, "payload;"), expected);
  }
  EXPECT_TRUE(poller.Take().empty());
}

TEST_F(RequestEngineTest, EmptyCellIsUnknownCommandWithCopyToTheNextSet) {
  Open(2, 2, 1);
  EXPECT_EQ(Send(1, 1, 6, 1), (Lines{"to 1: 1/6/1 err 14 []", "to 2: 1/6/1 err 14 []"}));
  // SET 14 has no SET after it.
  Open(4, 14, 1);
  EXPECT_EQ(Send(1, 14, 3, 1), (Lines{"to 1: 14/3/1 err 14 []"}));
}

TEST_F(RequestEngineTest, RequestIsCopiedAsReceivedBeforeItsHandlerRuns) {
  Open(2, 2, 1);
  const std::string request = BuildClientMessage(1, cmdOpen, 1, 77, "BLK", "pw;");
  engine.DispatchRequest(sender, &poller, 1, request);
  const auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].client, 2);
  EXPECT_EQ(sent[0].message, request);  // block and error byte included
  EXPECT_EQ(Describe(sent[1]), "to 1: 1/1/1 err 8 [HARBENDIX]");
  EXPECT_EQ(Describe(sent[2]), "to 2: 1/1/1 err 8 [HARBENDIX]");

  // A request on an even SET goes to the owner of the working SET after it.
  Open(5, 3, 4);
  const std::string monitorOpen = Request(2, cmdOpen, 4);
  engine.DispatchRequest(sender, &poller, 6, monitorOpen);
  const auto copied = sender.Take();
  ASSERT_EQ(copied.size(), 2u);
  EXPECT_EQ(copied[0].client, 5);
  EXPECT_EQ(copied[0].message, monitorOpen);
  EXPECT_EQ(Describe(copied[1]), "to 6: 2/1/4 err 0 []");
}

TEST_F(RequestEngineTest, IdentificationCarriesTheVersion) {
  EXPECT_EQ(Send(9, 255, 1, 0), (Lines{"to 9: 255/1/0 err 0 [HARBENDIX;v1.0.21.1;]"}));
  EXPECT_EQ(Send(9, 255, 1, 42), (Lines{"to 9: 255/1/42 err 0 [HARBENDIX;v1.0.21.1;]"}));
  EXPECT_TRUE(Send(9, 255, 2, 0).empty());
  EXPECT_TRUE(Send(9, 255, 0, 0).empty());
}

TEST_F(RequestEngineTest, SetPasswordsAreExactAndCaseSensitive) {
  struct Case {
    const char* stored;
    const char* payload;
    int expected;
  };
  const Case cases[] = {
      {"Pw1", "Pw1", 0}, {"Pw1", "Pw1;more;", 0}, {"Pw1", "pw1", 8},  {"Pw1", "", 8},
      {"Pw1", "Pw1x", 8}, {"", "", 0},            {"", ";x;", 0},     {"", "x", 8},
      {"123456789", "123456789", 0},              {"123456789", "1234567890", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "stored '" << c.stored << "' sent '" << c.payload << "'");
    engine.ResetServerState();
    settings.SetPassword(1) = c.stored;
    settings.SetPassword(2) = c.stored;
    const std::string code = std::to_string(c.expected);
    EXPECT_EQ(Send(1, 1, cmdOpen, 3, c.payload), (Lines{"to 1: 1/1/3 err " + code + " [HARBENDIX]"}));
    EXPECT_EQ(Send(2, 2, cmdOpen, 3, c.payload), (Lines{"to 2: 2/1/3 err " + code + " []"}));
  }
  settings.SubscriberPassword = "Sub";
  EXPECT_EQ(Send(1, 254, cmdOpen, 3, "sub"), (Lines{"to 1: 254/1/3 err 8 []"}));
  EXPECT_EQ(Send(1, 254, cmdOpen, 3, "Sub"), (Lines{"to 1: 254/1/3 err 0 []"}));
}

TEST_F(RequestEngineTest, ConflictMatrixDecidesWhichSetsOpenTogether) {
  // The pairs that may not be held together, each way round.
  const std::vector<std::pair<int, int>> conflicts = {
      {1, 3}, {1, 7}, {3, 7}, {3, 9}, {3, 11}, {3, 13}, {5, 7}, {7, 9}, {7, 11}};
  const auto conflicting = [&](int a, int b) {
    if (a == b) return true;
    for (auto [x, y] : conflicts) {
      if ((x == a && y == b) || (x == b && y == a)) return true;
    }
    return false;
  };
  for (int held = 1; held <= 14; ++held) {
    for (int opened = 1; opened <= 14; ++opened) {
      SCOPED_TRACE(testing::Message() << "SET " << opened << " while SET " << held << " is held");
      engine.ResetServerState();
      Open(1, held, 1);
      const Lines replies = Send(2, opened, cmdOpen, 1);
      ASSERT_FALSE(replies.empty());
      const bool refused = replies.back().find(" err 2 ") != std::string::npos ||
                           replies.front().find(" err 2 ") != std::string::npos;
      EXPECT_EQ(refused, conflicting(held, opened));
      EXPECT_EQ(SetsConflict(opened, held), conflicting(held, opened));
      // Another register is not affected.
      Open(2, opened, 2);
    }
  }
  // The owner itself cannot open its SET again.
  engine.ResetServerState();
  Open(1, 9, 5);
  EXPECT_EQ(Send(1, 9, cmdOpen, 5), (Lines{"to 1: 9/1/5 err 2 [HARBENDIX]"}));
}

TEST_F(RequestEngineTest, UseCountKeepsTheRegisterPolled) {
  Open(1, 2, 7);
  EXPECT_EQ(engine.EcrSnapshot(7).UseCount, 0);
  EXPECT_TRUE(poller.Take().empty());

  Open(1, 1, 7);
  Open(2, 5, 7);
  EXPECT_EQ(engine.EcrSnapshot(7).UseCount, 2);
  EXPECT_EQ(poller.Take(), (Lines{"AddEcr 7", "StartNoise", "CancelExchange"}));
  EXPECT_TRUE(engine.PollingActive());

  Open(3, 1, 8);
  EXPECT_EQ(poller.Take(), (Lines{"AddEcr 8"}));

  EXPECT_EQ(Send(2, 5, cmdClose, 7), (Lines{"to 2: 5/2/7 err 0 []"}));
  EXPECT_TRUE(poller.Take().empty());
  // Client 1 holds SET 2 as well: it gets the copy of its request, its reply and the copy.
  EXPECT_EQ(Send(1, 1, cmdClose, 7),
            (Lines{"to 1: 1/2/7 err 0 []", "to 1: 1/2/7 err 0 []", "to 1: 1/2/7 err 0 []"}));
  EXPECT_EQ(poller.Take(), (Lines{"RemoveEcr 7"}));
  EXPECT_TRUE(engine.PollingActive());
  EXPECT_EQ(Send(3, 1, cmdClose, 8), (Lines{"to 3: 1/2/8 err 0 []"}));
  EXPECT_EQ(poller.Take(), (Lines{"RemoveEcr 8", "StopNoise"}));
  EXPECT_FALSE(engine.PollingActive());
}

TEST_F(RequestEngineTest, RefusalsComeInTheirOrder) {
  Open(1, 1, 3);   // owner of SET 1
  Open(2, 2, 3);   // its monitor
  Open(5, 5, 3);   // owner of SET 5
  Open(6, 6, 3);   // its monitor
  struct Case {
    const char* name;
    std::uint16_t client;
    int set, command;
    std::string payload;
    Lines expected;
  };
  // Every request on SET 1 or SET 5 is first copied to the monitor (clients 2 and 6).
  const Case cases[] = {
      {"open of a held SET with a wrong password", 9, 1, cmdOpen, "x",
       {"to 2: 1/1/3 err 0 [x]", "to 9: 1/1/3 err 2 [HARBENDIX]", "to 2: 1/1/3 err 2 [HARBENDIX]"}},
      {"open against a held SET with a wrong password", 9, 3, cmdOpen, "x", {"to 9: 3/1/3 err 2 [HARBENDIX]"}},
      {"monitor held, wrong password", 9, 2, cmdOpen, "x", {"to 9: 2/1/3 err 2 []"}},
      {"finish by a stranger", 9, 1, cmdFinish, "", {"to 2: 1/5/3 err 0 []", "to 9: 1/5/3 err 4 []", "to 2: 1/5/3 err 4 []"}},
      {"answer with C by a stranger", 9, 1, cmdAnswerC, "1;", {"to 2: 1/8/3 err 0 [1;]", "to 9: 1/8/3 err 4 []", "to 2: 1/8/3 err 4 []"}},
      {"close by a stranger", 9, 1, cmdClose, "", {"to 2: 1/2/3 err 0 []", "to 9: 1/2/3 err 4 []", "to 2: 1/2/3 err 4 []"}},
      {"cancel by a stranger", 9, 1, cmdCancel, "", {"to 2: 1/3/3 err 0 []", "to 9: 1/3/3 err 4 []", "to 2: 1/3/3 err 4 []"}},
      {"state by a stranger", 9, 5, cmdState, "", {"to 6: 5/7/3 err 0 []", "to 9: 5/7/3 err 4 []", "to 6: 5/7/3 err 4 []"}},
      {"queue by a stranger", 9, 5, 9, "ABC", {"to 6: 5/9/3 err 0 [ABC]", "to 9: 5/9/3 err 4 []", "to 6: 5/9/3 err 4 []"}},
      {"state with nothing pending", 5, 5, cmdState, "", {"to 6: 5/7/3 err 0 []", "to 5: 5/7/3 err 0 []", "to 6: 5/7/3 err 0 []"}},
      {"queue is silent but for the copy", 5, 5, 9, "ABC", {"to 6: 5/9/3 err 0 [ABC]"}},
      {"state queued", 5, 5, cmdState, "", {"to 6: 5/7/3 err 0 []", "to 5: 5/7/3 err 101 []", "to 6: 5/7/3 err 101 []"}},
      {"second command is busy", 5, 5, 4, "", {"to 6: 5/4/3 err 0 []", "to 5: 5/4/3 err 3 []", "to 6: 5/4/3 err 3 []"}},
      {"a stranger is refused before busy", 9, 5, 4, "", {"to 6: 5/4/3 err 0 []", "to 9: 5/4/3 err 4 []", "to 6: 5/4/3 err 4 []"}},
      {"cancel", 5, 5, cmdCancel, "", {"to 6: 5/3/3 err 0 []", "to 5: 5/3/3 err 0 []", "to 6: 5/3/3 err 0 []"}},
      {"state after cancel", 5, 5, cmdState, "", {"to 6: 5/7/3 err 0 []", "to 5: 5/7/3 err 0 []", "to 6: 5/7/3 err 0 []"}},
      {"queue again", 5, 5, 13, "X;", {"to 6: 5/13/3 err 0 [X;]"}},
      {"answer without an exchange", 1, 1, cmdAnswer, "1;", {"to 2: 1/4/3 err 0 [1;]", "to 1: 1/4/3 err 6 []", "to 2: 1/4/3 err 6 []"}},
      {"finish without an exchange", 1, 1, cmdFinish, "", {"to 2: 1/5/3 err 0 []", "to 1: 1/5/3 err 6 []", "to 2: 1/5/3 err 6 []"}},
      {"monitor close by a stranger", 9, 2, cmdClose, "", {"to 9: 2/2/3 err 4 []"}},
      {"monitor opened twice", 9, 2, cmdOpen, "", {"to 9: 2/1/3 err 2 []"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Send(c.client, c.set, c.command, 3, c.payload), c.expected);
  }
  const TSetDescr queued = engine.EcrSnapshot(3).Set(5);
  EXPECT_EQ(queued.Command, 13);
  EXPECT_EQ(queued.State, kStateQueued);
  EXPECT_EQ(queued.Payload, "X;");  // as received, no ";" added
  EXPECT_EQ(Send(2, 2, cmdClose, 3), (Lines{"to 2: 2/2/3 err 0 []"}));
  EXPECT_EQ(engine.EcrSnapshot(3).Set(2).ClientId, 0);
}

TEST_F(RequestEngineTest, OnLineAnswersGoToThePollingThreadOnlyForTheExchangeInProgress) {
  Open(1, 1, 3);
  Open(9, 9, 3);
  poller.Take();
  StartExchange(3, 1);
  // A client that does not hold the SET is refused even for the right exchange.
  EXPECT_EQ(Send(9, 1, cmdAnswer, 3, "12"), (Lines{"to 9: 1/4/3 err 4 []"}));
  EXPECT_TRUE(Send(1, 1, cmdAnswerC, 3, "12").empty());
  EXPECT_EQ(poller.Take(), (Lines{"SetOnLineAnswer C;12"}));
  EXPECT_EQ(engine.CurrentExchangeSnapshot().Ecr, 0);
  const TWaitRes owed = engine.WaitResSnapshot();
  EXPECT_EQ(owed.SetNo, 1);
  EXPECT_EQ(owed.Command, cmdAnswerC);
  EXPECT_EQ(owed.LogNo, 3);
  EXPECT_EQ(owed.Payload, "C;12");
  // The exchange is over: a second answer comes too late.
  EXPECT_EQ(Send(1, 1, cmdAnswer, 3, "12"), (Lines{"to 1: 1/4/3 err 6 []"}));

  StartExchange(3, 9);
  EXPECT_EQ(Send(1, 1, cmdFinish, 3), (Lines{"to 1: 1/5/3 err 6 []"}));  // another SET's exchange
  EXPECT_EQ(Send(9, 9, 9, 3), (Lines{"to 9: 9/9/3 err 0 []"}));  // SET 9's second finish
  EXPECT_EQ(poller.Take(), (Lines{"CancelExchange"}));
  EXPECT_EQ(engine.CurrentExchangeSnapshot().Set, 0);
}

TEST_F(RequestEngineTest, SubscriberQueueHoldsTwentyPlaces) {
  EXPECT_EQ(Send(1, 254, cmdClose, 9), (Lines{"to 1: 254/2/9 err 4 []"}));
  EXPECT_EQ(Send(1, 254, cmdOpen, 9), (Lines{"to 1: 254/1/9 err 0 []"}));
  EXPECT_EQ(Send(1, 254, cmdOpen, 9), (Lines{"to 1: 254/1/9 err 0 []"}));  // a double join
  for (std::uint16_t client = 2; client <= 19; ++client) Send(client, 254, cmdOpen, 9);
  settings.SubscriberPassword = "secret";
  EXPECT_EQ(Send(30, 254, cmdOpen, 9, "wrong"), (Lines{"to 30: 254/1/9 err 2 []"}));
  EXPECT_EQ(Send(30, 254, cmdOpen, 9, "secret"), (Lines{"to 30: 254/1/9 err 2 []"}));
  EXPECT_TRUE(Send(1, 254, cmdCancel, 9).empty());

  EXPECT_EQ(Send(1, 254, cmdClose, 9), (Lines{"to 1: 254/2/9 err 0 []"}));
  TEcr ecr = engine.EcrSnapshot(9);
  EXPECT_EQ(ecr.QueueCount, 19);
  EXPECT_EQ(ecr.Queue[0], 1);  // the second entry of client 1 moved up
  EXPECT_EQ(ecr.Queue[1], 2);
  EXPECT_EQ(ecr.Queue[19], 0);
  EXPECT_EQ(Send(30, 254, cmdOpen, 9, "wrong"), (Lines{"to 30: 254/1/9 err 8 []"}));
  EXPECT_EQ(Send(30, 254, cmdOpen, 9, "secret;x;"), (Lines{"to 30: 254/1/9 err 0 []"}));
  EXPECT_EQ(engine.EcrSnapshot(9).Queue[19], 30);
}

TEST_F(RequestEngineTest, DisconnectFreesEverythingTheClientHeld) {
  Open(4, 1, 5);
  Open(4, 2, 5);
  Open(4, 13, 6);
  Open(7, 1, 6);
  Send(4, 254, cmdOpen, 5);
  Send(7, 254, cmdOpen, 5);
  Send(4, 254, cmdOpen, 5);
  Send(4, 254, cmdOpen, 8);
  Send(4, 5, cmdOpen, 6);
  Send(4, 5, 4, 6, "R;");
  poller.Take();
  sender.Take();

  engine.ClientDisconnected(sender, &poller, 4);
  EXPECT_TRUE(sender.Take().empty());
  EXPECT_EQ(poller.Take(), (Lines{"RemoveEcr 5"}));
  for (int set = 1; set <= 14; ++set) {
    EXPECT_EQ(engine.EcrSnapshot(5).Set(set).ClientId, 0);
  }
  const TSetDescr freed = engine.EcrSnapshot(6).Set(5);
  EXPECT_EQ(freed.ClientId, 0);
  EXPECT_EQ(freed.Command, 0);
  EXPECT_EQ(freed.State, 0);
  EXPECT_EQ(freed.Payload, "");
  EXPECT_EQ(engine.EcrSnapshot(6).UseCount, 1);  // client 7 still holds SET 1
  const TEcr five = engine.EcrSnapshot(5);
  ASSERT_EQ(five.QueueCount, 1);  // both of client 4's entries go
  EXPECT_EQ(five.Queue[0], 7);
  EXPECT_EQ(five.Queue[1], 0);
  EXPECT_EQ(five.Queue[2], 0);
  EXPECT_EQ(engine.EcrSnapshot(8).QueueCount, 0);
  engine.ClientDisconnected(sender, &poller, 7);
  EXPECT_EQ(poller.Take(), (Lines{"RemoveEcr 6", "StopNoise"}));
  EXPECT_FALSE(engine.PollingActive());
}

TEST_F(RequestEngineTest, CancelDropsAHeldBackReplyAndCloseKeepsItUntilTheNextOpen) {
  Open(6, 13, 2);
  const auto holdBack = [&] {
    engine.WithContext([](ExchangeContext& context) {
      TSetDescr& set = context.EcrTable.At(2).Set(13);
      set.Saved = 1;
      set.SavedCommand = 4;
      set.SavedPayload = "p;";
      set.SavedBlock = "ref";
    });
  };
  const auto heldBack = [&] {
    const TSetDescr set = engine.EcrSnapshot(2).Set(13);
    EXPECT_EQ(set.Saved == 1, set.SavedCommand == 4);
    EXPECT_EQ(set.Saved == 1, set.SavedPayload == "p;" && set.SavedBlock == "ref");
    EXPECT_EQ(set.Saved == 0, set.SavedPayload.empty() && set.SavedBlock.empty());
    return set.Saved == 1;
  };
  holdBack();
  EXPECT_EQ(Send(6, 13, cmdCancel, 2), Lines{"to 6: 13/3/2 err 0 []"});
  EXPECT_FALSE(heldBack());
  holdBack();
  EXPECT_EQ(Send(6, 13, cmdClose, 2), Lines{"to 6: 13/2/2 err 0 []"});
  EXPECT_TRUE(heldBack());
  Open(7, 13, 2);
  EXPECT_FALSE(heldBack());
}

TEST_F(RequestEngineTest, ClientZeroIsNobody) {
  EXPECT_TRUE(Send(0, 1, cmdOpen, 4).empty());
  EXPECT_EQ(engine.EcrSnapshot(4).Set(1).ClientId, 0);
  EXPECT_EQ(engine.EcrSnapshot(4).UseCount, 0);
  Open(1, 1, 4);
  poller.Take();
  engine.ClientDisconnected(sender, &poller, 0);
  EXPECT_EQ(engine.EcrSnapshot(4).UseCount, 1);
  EXPECT_TRUE(poller.Take().empty());
  EXPECT_TRUE(engine.PollingActive());
}

TEST_F(RequestEngineTest, OldFiscalPrinterModeOpensSet13WithoutTheName) {
  engine.SetOldFPMode(true);
  Open(2, 14, 1);
  EXPECT_EQ(Describe(sender.Take()), Lines{});
  const Lines replies = Send(1, 13, cmdOpen, 1);
  ASSERT_EQ(replies.size(), 3u);  // the copy of the request, the reply, the copy of the reply
  EXPECT_EQ(replies[1], "to 1: 13/1/1 err 0 []");
  EXPECT_EQ(replies[2], "to 2: 13/1/1 err 0 [HARBENDIX]");
}

TEST_F(RequestEngineTest, CloseRequestOfASecondStart) {
  int closes = 0;
  engine.SetCloseMainWindow([&] {
    ++closes;
    engine.ResetServerState();  // the close stops the service, which needs the engine
  });
  settings.AdminPassword = "admin";
  struct Case {
    int id;
    const char* text;
    bool loopBack;
    bool confirmed;
    int closes;
  };
  const Case cases[] = {
      {2, "Admin", false, false, 0}, {2, "admin", true, false, 0}, {1, "admin", false, false, 0},
      {2, "admin", false, true, 1},  {2, "", false, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.id << " '" << c.text << "' " << c.loopBack);
    engine.OnSelfMessage(c.id, c.text, c.loopBack);
    EXPECT_EQ(engine.QuitConfirmed(), c.confirmed);
    EXPECT_EQ(closes, c.closes);
  }
  settings.AdminPassword = "";
  engine.OnSelfMessage(2, "", false);
  EXPECT_TRUE(engine.QuitConfirmed());
  EXPECT_EQ(closes, 2);
}

// The main thread's requests and the polling thread's callbacks meet in the engine.
TEST_F(RequestEngineTest, MainAndPollingThreadsShareTheEngine) {
  std::atomic<bool> stop{false};
  std::thread polling([&] {
    while (!stop) {
      engine.WithContext([&](ExchangeContext& context) {
        context.SetCurrentExchange(2, 1);
        context.SetExchange(5, 9, 2, "answer", {});
        context.AnswerCurrentExchange(sender, 0);
        context.NextEcrSequence(2);
      });
      engine.ClearCurrentExchange();
    }
  });
  for (int round = 0; round < 300; ++round) {
    Send(1, 1, cmdOpen, 2);
    Send(5, 5, cmdOpen, 2);
    Send(5, 5, 9, 2, "ABC");
    Send(1, 1, cmdAnswer, 2, "1;");
    Send(5, 5, cmdState, 2);
    engine.ClientDisconnected(sender, &poller, 1);
    engine.ClientDisconnected(sender, &poller, 5);
  }
  stop = true;
  polling.join();
  EXPECT_EQ(engine.EcrSnapshot(2).UseCount, 0);
}

}  // namespace
}  // namespace ecr
