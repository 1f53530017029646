// The dispatcher, the SET table and the use counts of the network-controller server.

#include <array>
#include <atomic>
#include <set>
#include <thread>

#include "tests/netcontroller/nc_request_fixture.h"

namespace ecr::test {
namespace {

// What the request of one cell (SetNo, Command) does, told from its behaviour alone, each
// probe in a set-up of its own on register 2: the name of the handler it behaves as
// ("QueueLetterCommand R" with the letter the register receives), "-" when it gets no answer
// at all, or "?" and what it did when it behaves as none of them.
class CellProbe {
 public:
  CellProbe(int setNo, int command) : set_(setNo), command_(command) {}

  std::string Handler() const {
    {
      // A client that holds nothing.
      NcRequestRig rig;
      Send(rig, "");
      const Lines replies = rig.Replies();
      const Lines commands = rig.Commands();
      if (replies.empty() && commands.empty()) return "-";
      if (replies == Lines{Line(kClient, command_, 0)}) return commands.empty() ? "OpenMonitorSet" : "OpenClientSet";
      if (replies != Lines{Line(kClient, command_, 4)} || !commands.empty()) {
        return "? to a client without the SET: " + Describe(replies, commands);
      }
    }
    NcRequestRig rig;
    if (!HoldTheSet(rig)) return "? the SET does not open";
    Send(rig, kPayload);
    const Lines replies = rig.Replies();
    const Lines commands = rig.Commands();
    if (replies == Answer(kClose, 0) && commands == Lines{"MASK- 2", "STOP"}) return "CloseClientSet";
    if (replies == Lines{Line(kClient, kClose, 0)} && commands.empty()) return "CloseMonitorSet";
    if (replies == Answer(command_, 12) && commands.empty()) return "HoldExchange";
    if (replies == Answer(command_, 0) && commands.empty()) return CancelOrState();
    if (replies.empty() && commands.empty()) return Queued(rig);
    return "? to the SET's owner: " + Describe(replies, commands);
  }

 private:
  static constexpr int kClient = 5;
  static constexpr int kOther = 6;
  static constexpr int kLogNo = 2;
  static constexpr int kClose = 2;
  // Field 1 below 0 and a field 8 show what the answer handlers make of a Payload.
  inline static const std::string kPayload = "-5;b;c;d;e;f;g;2.5;";

  void Send(NcRequestRig& rig, std::string_view payload) const {
    rig.Send(kClient, set_, command_, kLogNo, payload);
  }
  bool Working() const { return set_ % 2 == 1; }
  // SET 3 queues on slot 13, which it shares.
  int QueueSlot() const { return set_ == 3 ? 13 : set_; }

  std::string Line(int client, int command, int errorCode, const std::string& payload = "") const {
    return "to " + std::to_string(client) + ": " + std::to_string(set_) + "/" + std::to_string(command) + "/" +
           std::to_string(kLogNo) + " err " + std::to_string(errorCode) + " [" + payload + "]";
  }
  // The reply to the client and its copy to the other client, who holds the monitor SET of a
  // working SET.
  Lines Answer(int command, int errorCode, const std::string& payload = "") const {
    Lines lines = {Line(kClient, command, errorCode, payload)};
    if (Working()) lines.push_back(Line(kOther, command, errorCode, payload));
    return lines;
  }
  static std::string Describe(const Lines& replies, const Lines& commands) {
    std::string text;
    for (const std::string& line : replies) text += line + " | ";
    for (const std::string& line : commands) text += line + " | ";
    return text;
  }

  // The client holds the SET. The other client holds the monitor SET of a working SET, or the
  // working SET below a monitor SET, so that the register is in use.
  bool HoldTheSet(NcRequestRig& rig) const {
    rig.Send(kClient, set_, 1, kLogNo);
    rig.Send(kOther, Working() ? set_ + 1 : set_ - 1, 1, kLogNo);
    const Lines replies = rig.Replies();
    rig.Clear();
    return !replies.empty() && replies.front() == Line(kClient, 1, 0);
  }

  // Register 2 waits for the answer of this SET, where a block can make it wait.
  bool MakeTheRegisterWait(NcRequestRig& rig) const {
    const char* block = set_ == 1    ? "77;9;1;a;b;2;"
                        : set_ == 9  ? "77;9;9;a;b;2;"
                        : set_ == 11 ? "77;9;4;a;b;c;"
                        : set_ == 13 ? "77;9;5;x;"  // a sale block with nothing to sell
                                     : nullptr;
    if (block == nullptr) return false;
    rig.engine.HandleOnlineBlock(kLogNo, block);
    rig.Clear();
    return rig.engine.PendingExchangeSnapshot() == nc::PendingExchange{kLogNo, static_cast<std::uint8_t>(set_)};
  }

  // Answered 0 and nothing queued: a cancel or a state request, told apart by a queued request.
  std::string CancelOrState() const {
    NcRequestRig rig;
    HoldTheSet(rig);
    rig.Send(kClient, set_, 4, kLogNo, "q;");
    rig.Clear();
    if (rig.Slot(kLogNo, QueueSlot()).State != nc::kSlotQueued) return "CancelRequest or QueryRequestState";
    Send(rig, "");
    const Lines replies = rig.Replies();
    if (replies == Answer(command_, nc::kSlotQueued)) return "QueryRequestState";
    if (replies == Answer(command_, 0) && rig.Slot(kLogNo, QueueSlot()).Command == 0) return "CancelRequest";
    return "? with a request queued: " + Describe(replies, rig.Commands());
  }

  // Nothing answered: the request waits in a slot, with the Payload its handler made.
  std::string Queued(NcRequestRig& rig) const {
    const nc::SetSlot own = rig.Slot(kLogNo, set_);
    const nc::SetSlot shared = rig.Slot(kLogNo, 13);
    if (set_ == 3 && shared.State == nc::kSlotQueued && shared.Command == command_) return "QueueCop";
    if (own.State != nc::kSlotQueued || own.Command != command_) return "? nothing answered, nothing queued";
    if (own.Payload == "C;;0.00;;;;") return "AnswerC";
    if (own.Payload == "C;;-5.00;;;;") return "AnswerCSigned";
    if (own.Payload == "-5;b;c;2.500;d;e;f;g;;") return "AnswerWithQuantity";
    if (own.Payload != kPayload) return "? queued as " + own.Payload;
    return LengthChecked() ? QueueOrCop() : FinishOrLetter();
  }

  // The answer handlers and the operation queue refuse a Payload the link would not send.
  bool LengthChecked() const {
    NcRequestRig rig;
    HoldTheSet(rig);
    const std::string tooLong(121, 'z');
    Send(rig, tooLong);
    return rig.Replies() == Answer(command_, 18, tooLong);
  }

  // An answer goes to a waiting register at once; an operation waits for its block.
  std::string QueueOrCop() const {
    NcRequestRig rig;
    HoldTheSet(rig);
    if (!MakeTheRegisterWait(rig)) return "QueueRequest or QueueCop";
    Send(rig, kPayload);
    const Lines commands = rig.Commands();
    if (commands == Lines{"ONL " + kPayload}) return "QueueRequest";
    if (commands.empty() && rig.Slot(kLogNo, set_).State == nc::kSlotQueued) return "QueueCop";
    return "? to a waiting register: " + Describe(rig.Replies(), commands);
  }

  // A finish ends a waiting register's exchange; a letter command goes out on the register's
  // InLine announcement, behind its letter.
  std::string FinishOrLetter() const {
    NcRequestRig rig;
    HoldTheSet(rig);
    if (MakeTheRegisterWait(rig)) {
      Send(rig, kPayload);
      if (rig.Replies() == Answer(command_, 0) && rig.Commands() == Lines{"RESET"}) return "FinishExchange";
      return "? a finish or a letter command to a waiting register";
    }
    Send(rig, kPayload);
    rig.engine.HandleEcrInLine(kLogNo, "1234567");
    const Lines commands = rig.Commands();
    const std::string sent = "INL " + kPayload;
    if (commands.size() != 1 || commands[0].size() != sent.size() + 1) return "QueueLetterCommand without a letter";
    return "QueueLetterCommand " + commands[0].substr(4, 1);
  }

  const int set_;
  const int command_;
};

// The dispatch table of the network-controller server: the handler of every SET and Command
// 1..12. Each row holds for the SETs listed with it.
struct DispatchRow {
  std::vector<int> sets;
  std::array<const char*, 12> handlers;
};

TEST(NcRequestDispatch, EveryCellOfTheTableBehavesAsItsHandler) {
  constexpr const char* No = "-";
  const DispatchRow table[] = {
      {{1},
       {"OpenClientSet", "CloseClientSet", "CancelRequest", "AnswerWithQuantity", "FinishExchange", "HoldExchange",
        "QueryRequestState", "AnswerC", No, No, No, No}},
      {{3},
       {"OpenClientSet", "CloseClientSet", "CancelRequest", "QueueCop", "QueueCop", "QueueCop", "QueryRequestState", No,
        No, No, No, No}},
      {{5},
       {"OpenClientSet", "CloseClientSet", "CancelRequest", "QueueLetterCommand R", "QueueLetterCommand P",
        "QueueLetterCommand W", "QueryRequestState", "QueueLetterCommand T", "QueueLetterCommand I",
        "QueueLetterCommand C", No, No}},
      {{7}, {"OpenClientSet", "CloseClientSet", No, No, No, No, No, No, No, No, No, No}},
      {{9},
       {"OpenClientSet", "CloseClientSet", "CancelRequest", "QueueRequest", "FinishExchange", "HoldExchange",
        "QueryRequestState", "AnswerCSigned", "FinishExchange", No, No, No}},
      {{11},
       {"OpenClientSet", "CloseClientSet", "CancelRequest", "QueueRequest", "FinishExchange", "HoldExchange",
        "QueryRequestState", No, No, No, No, No}},
      {{13},
       {"OpenClientSet", "CloseClientSet", "CancelRequest", "QueueCop", "QueueCop", "QueueCop", "QueryRequestState",
        "QueueCop", "QueueCop", "QueueCop", "QueueCop", "QueueCop"}},
      {{2, 4, 6, 8, 10, 12, 14}, {"OpenMonitorSet", "CloseMonitorSet", No, No, No, No, No, No, No, No, No, No}},
  };
  std::set<int> covered;
  for (const DispatchRow& row : table) {
    for (const int setNo : row.sets) {
      covered.insert(setNo);
      for (int command = 1; command <= 12; ++command) {
        EXPECT_EQ(CellProbe(setNo, command).Handler(), row.handlers[static_cast<std::size_t>(command - 1)])
            << "SET " << setNo << " command " << command;
      }
    }
  }
  EXPECT_EQ(covered.size(), 14u);
}

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
