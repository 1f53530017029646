// The dispatcher, the SET table and the use counts of the network-controller server.

#include <atomic>
#include <set>
#include <thread>

#include "tests/netcontroller/nc_request_fixture.h"

namespace ecr::test {
namespace {

struct DroppedCase {
  const char* what;
  int client;
  std::string message;
};

TEST_F(NcRequestTest, MalformedRequestsAndEmptyCellsGetNoAnswerAtAll) {
  Open(5, 1, 2);  // SET 1 held, so that a request that got through would be answered
  const DroppedCase cases[] = {
      {"register 0", 5, Request(1, 7, 0)},
      {"register 17", 5, Request(1, 7, 17)},
      {"a Block", 5, Request(1, 7, 2, "", 1)},
      {"SET 0", 5, Request(0, 7, 2)},
      {"SET 15", 5, Request(15, 1, 2)},
      {"subscriber SET", 5, Request(254, 1, 2)},
      {"server SET", 5, Request(255, 1, 2)},
      {"command 0", 5, Request(1, 0, 2)},
      {"command 13", 5, Request(1, 13, 2)},
      {"SET 1 command 9", 5, Request(1, 9, 2)},
      {"SET 7 command 3", 5, Request(7, 3, 2)},
      {"SET 2 command 7", 5, Request(2, 7, 2)},
      {"SET 3 command 8", 5, Request(3, 8, 2)},
      {"SET 5 command 11", 5, Request(5, 11, 2)},
      {"SET 11 command 8", 5, Request(11, 8, 2)},
      {"shorter than a header", 5, std::string("\x01\x07", 2)},
      {"client 0", 0, Request(3, 1, 2)},
  };
  for (const DroppedCase& c : cases) {
    engine.HandleClientMessage(static_cast<std::int16_t>(c.client), c.message);
    EXPECT_EQ(Replies(), Lines{}) << c.what;
    EXPECT_EQ(Commands(), Lines{}) << c.what;
  }
  EXPECT_EQ(Slot(2, 3).ClientId, 0);
  EXPECT_EQ(engine.SessionSnapshot(2).UseCount, 1);
}

TEST_F(NcRequestTest, SetExclusionOnOneRegister) {
  // The SETs that may not be held together with each working SET (the SET itself included);
  // a monitor SET excludes only itself.
  const std::vector<std::set<int>> excludes = {
      {}, {1, 3, 7}, {2}, {1, 3, 7, 9, 11, 13}, {4}, {5, 7}, {6}, {1, 3, 5, 7, 9, 11}, {8}, {3, 7, 9},
      {10}, {3, 7, 11}, {12}, {3, 13}, {14}};
  for (int held = 1; held <= 14; ++held) {
    for (int opened = 1; opened <= 14; ++opened) {
      const int ecr = 3;
      Send(5, held, 1, ecr);
      ASSERT_EQ(Replies().front(), "to 5: " + std::to_string(held) + "/1/3 err 0 []");
      // SET 3 brings slot 13 with it.
      std::set<int> heldSlots = {held};
      if (held == 3) heldSlots.insert(13);
      bool taken = false;
      for (int slot : heldSlots) taken = taken || excludes[static_cast<std::size_t>(opened)].count(slot) > 0;
      Send(6, opened, 1, ecr);
      const Lines replies = Replies();
      ASSERT_FALSE(replies.empty());
      EXPECT_EQ(replies.front(), "to 6: " + std::to_string(opened) + "/1/3 err " + (taken ? "2" : "0") + " []")
          << "SET " << opened << " while SET " << held << " is held";
      engine.ClientDisconnected(5);
      engine.ClientDisconnected(6);
      Clear();
    }
  }
}

TEST_F(NcRequestTest, OpenChecksTheSetPasswordAndASecondOpenOfTheSameSet) {
  engine.WithSettings([](nc::NcServerSettings& record) {
    record.SetPassword(1) = "secret";
    record.SetPassword(2) = "watch";
  });
  struct Case {
    int client;
    int setNo;
    std::string payload;
    std::string reply;
  };
  const Case cases[] = {
      {5, 1, "", "to 5: 1/1/2 err 8 []"},
      {5, 1, "secre", "to 5: 1/1/2 err 8 []"},
      {5, 1, "secret;extra;", "to 5: 1/1/2 err 0 []"},
      {5, 1, "secret", "to 5: 1/1/2 err 2 []"},  // the same client again
      {6, 1, "secret", "to 6: 1/1/2 err 2 []"},
      {7, 2, "watch", "to 7: 2/1/2 err 0 []"},
      {8, 2, "watch", "to 8: 2/1/2 err 2 []"},
      {8, 4, "x", "to 8: 4/1/2 err 8 []"},
      {8, 4, "", "to 8: 4/1/2 err 0 []"},  // an empty password matches an empty field
  };
  for (const Case& c : cases) {
    Send(c.client, c.setNo, 1, 2, c.payload);
    EXPECT_EQ(Replies(), Lines{c.reply}) << c.payload;
  }
}

TEST_F(NcRequestTest, WorkingSetRepliesAreCopiedToTheMonitorSetOnly) {
  Open(7, 2, 4);
  Send(5, 1, 1, 4);
  EXPECT_EQ(Replies(), (Lines{"to 5: 1/1/4 err 0 []", "to 7: 1/1/4 err 0 []"}));
  Send(5, 1, 7, 4);
  EXPECT_EQ(Replies(), (Lines{"to 5: 1/7/4 err 0 []", "to 7: 1/7/4 err 0 []"}));
  Send(5, 1, 2, 4);
  EXPECT_EQ(Replies(), (Lines{"to 5: 1/2/4 err 0 []", "to 7: 1/2/4 err 0 []"}));
  Send(7, 2, 2, 4);
  EXPECT_EQ(Replies(), Lines{"to 7: 2/2/4 err 0 []"});
  Send(7, 2, 2, 4);
  EXPECT_EQ(Replies(), Lines{"to 7: 2/2/4 err 4 []"});
}

TEST_F(NcRequestTest, Set3SharesSlot13) {
  Open(5, 3, 2);
  EXPECT_EQ(Slot(2, 13).ClientId, 5);
  Send(6, 13, 1, 2);
  EXPECT_EQ(Replies(), Lines{"to 6: 13/1/2 err 2 []"});

  Send(5, 3, 4, 2, "1;x;1;1;1;1;1;");
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Slot(2, 13).State, nc::kSlotQueued);
  EXPECT_EQ(Slot(2, 3).State, 0);
  Send(5, 3, 7, 2);
  EXPECT_EQ(Replies(), Lines{"to 5: 3/7/2 err 101 []"});

  Send(5, 3, 2, 2);
  EXPECT_EQ(Replies(), Lines{"to 5: 3/2/2 err 0 []"});
  EXPECT_EQ(Commands(), (Lines{"MASK- 2", "STOP"}));
  EXPECT_EQ(Slot(2, 13).ClientId, 0);
  EXPECT_EQ(engine.SessionSnapshot(2).UseCount, 0);
  Send(6, 13, 1, 2);
  EXPECT_EQ(Replies(), Lines{"to 6: 13/1/2 err 0 []"});
}

TEST_F(NcRequestTest, UseCountsDriveTheMaskAndTheControllerStart) {
  EXPECT_FALSE(engine.ControllerStarted());
  Send(5, 1, 1, 2);
  EXPECT_EQ(Commands(), (Lines{"MASK+ 2", "START", "RESET"}));
  EXPECT_TRUE(engine.ControllerStarted());
  Send(5, 5, 1, 2);
  Send(6, 2, 1, 2);  // a monitor SET counts no use
  Send(6, 1, 1, 3);
  EXPECT_EQ(Commands(), Lines{"MASK+ 3"});
  EXPECT_EQ(engine.SessionSnapshot(2).UseCount, 2);

  Send(5, 1, 2, 2);
  EXPECT_EQ(Commands(), Lines{});
  Send(5, 5, 2, 2);
  EXPECT_EQ(Commands(), Lines{"MASK- 2"});
  EXPECT_TRUE(engine.ControllerStarted());
  engine.ClientDisconnected(6);
  EXPECT_EQ(Commands(), (Lines{"MASK- 3", "STOP"}));
  EXPECT_FALSE(engine.ControllerStarted());
  EXPECT_EQ(Slot(2, 2).ClientId, 0);

  Send(5, 9, 1, 2);
  EXPECT_EQ(Commands(), (Lines{"MASK+ 2", "START", "RESET"}));
}

TEST_F(NcRequestTest, ADisconnectGivesBackEachWorkingSetOnce) {
  Open(5, 3, 1);
  Open(6, 5, 1);
  Open(5, 4, 1);
  EXPECT_EQ(engine.SessionSnapshot(1).UseCount, 2);
  engine.ClientDisconnected(5);
  EXPECT_EQ(engine.SessionSnapshot(1).UseCount, 1);
  EXPECT_EQ(Commands(), Lines{});
  EXPECT_EQ(Slot(1, 13).ClientId, 0);
  EXPECT_EQ(Slot(1, 4).ClientId, 0);
  EXPECT_EQ(Replies(), Lines{});
  engine.ClientDisconnected(6);
  EXPECT_EQ(Commands(), (Lines{"MASK- 1", "STOP"}));

  // SET 13 held on its own is a working SET of its own.
  Open(7, 13, 1);
  engine.ClientDisconnected(7);
  EXPECT_EQ(Commands(), (Lines{"MASK- 1", "STOP"}));
}

TEST_F(NcRequestTest, OnlyACloseRequestWithTheServerPasswordConfirmsTheQuit) {
  engine.WithSettings([](nc::NcServerSettings& record) { record.ServerPassword = "admin"; });
  struct Case {
    int id;
    std::string text;
    bool loopBack;
    bool confirmed;
  };
  const Case cases[] = {
      {2, "admin", false, true}, {2, "wrong", false, false}, {2, "admin", false, true},
      {2, "admin", true, false}, {3, "admin", false, false},
  };
  for (const Case& c : cases) {
    engine.OnSelfMessage(2, "wrong", false);  // start from "not confirmed"
    EXPECT_EQ(engine.OnSelfMessage(c.id, c.text, c.loopBack), c.confirmed) << c.id << " " << c.text;
    EXPECT_EQ(engine.QuitConfirmed(), c.confirmed);
  }
}

TEST_F(NcRequestTest, MonitorRowsCountTheKeepAliveDown) {
  EXPECT_TRUE(engine.RefreshMonitor().empty());
  Open(5, 1, 4);
  Open(7, 2, 4);
  engine.WithSettings([](nc::NcServerSettings& record) {
    record.Ecr(4).SerialNumber = 1234;
    record.Ecr(4).Mode = 2;
    record.Ecr(4).KeepAlive = 3;
  });
  for (int tick = 1; tick <= 4; ++tick) {
    const std::vector<nc::MonitorRow> rows = engine.RefreshMonitor();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Ecr, 4);
    EXPECT_EQ(rows[0].SerialNumber, 1234);
    EXPECT_EQ(rows[0].Mode, tick <= 3 ? 2 : 0) << "tick " << tick;
    EXPECT_EQ(rows[0].Sets, "1:5;2:7;");
  }
  for (int setNo = 3; setNo <= 14; ++setNo) Open(30000 + setNo, setNo, 4);  // as many as the exclusions let in
  const std::vector<nc::MonitorRow> rows = engine.RefreshMonitor();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Sets.size(), 80u);
}

// The reader thread's events and the main thread's requests meet on one lock; a sanitizer
// build checks that no state is touched outside it.
TEST_F(NcRequestTest, EventsAndRequestsFromTwoThreadsRunOneAtATime) {
  std::atomic<bool> inside{false};
  std::atomic<bool> overlapped{false};
  commands.onReset = [&] {
    if (inside.exchange(true)) overlapped = true;
    std::this_thread::yield();
    inside = false;
  };
  std::thread reader([&] {
    for (int i = 0; i < 300; ++i) {
      engine.HandleOnlineBlock(1 + i % 3, "77;" + std::to_string(i) + ";1;x;y;5;");
      engine.HandleOnlSended(1 + i % 3, 0);
    }
  });
  for (int i = 0; i < 300; ++i) {
    const int client = 10 + i % 4;
    Send(client, 1, 1, 1 + i % 3);
    Send(client, 1, 4, 1 + i % 3, "a;b;c;d;");
    Send(client, 1, 5, 1 + i % 3);
    engine.RefreshMonitor();
    if (i % 7 == 0) engine.ClientDisconnected(static_cast<std::int16_t>(client));
  }
  reader.join();
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace ecr::test
