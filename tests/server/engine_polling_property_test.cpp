// The request engine with the real polling thread, on a line whose every exchange waits for
// the test (ScriptedLine): random sequences of opens, closes, commands, answers, finishes,
// cancels, disconnects, reconnections into the same slot, register messages and the
// register's pace (each take, ACK and answer comes when the sequence lets it), checked
// after each step against a small model of what every client is sent, what the engine asks
// of the polling thread and where the thread is on the line. Its invariants:
// - a reply goes to the connection that asked while it holds the SET, and otherwise only
//   to the SET's monitor;
// - every command the register acknowledged has its answer read once, and no command
//   reaches the register twice;
// - once the line has served everything, no client is owed a reply that never came.
//
// Clients 1 and 2 use SETs 1, 2, 5 and 6 of register 7 and SET 1 of register 8 (whose open
// restarts polling when nothing else is in use); register 99 stays on the thread's list
// and never answers, so the thread never sleeps.

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <rapidcheck/state.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "foundation/log_file.h"
#include "line/ecr_poll_list.h"
#include "line/pol_thread.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/request_engine.h"
#include "tests/server/engine_fakes.h"
#include "tests/server/scripted_line.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using testing_support::ScriptedLine;
using Lines = std::vector<std::string>;

constexpr int kEcr = ScriptedLine::kMessagingEcr;
constexpr int kOtherEcr = 8;
constexpr int kSilentEcr = ScriptedLine::kSilentEcr;
constexpr int kSlots = 2;
constexpr std::chrono::milliseconds kWaitLimit{10000};

// ---- the model --------------------------------------------------------------------------

// One connection: its slot and its number among the slot's connections (0: nobody).
struct Conn {
  int slot = 0;
  int generation = 0;
  bool operator==(const Conn&) const = default;
  auto operator<=>(const Conn&) const = default;
};

// Where the polling thread is.
struct At {
  enum class Kind { Take, SendCommand, GetAnswer, SendAnswer, OnLineWait } kind = Kind::Take;
  int ecr = 0;
  std::string block;  // the command or answer on the line
};

// What one step sends and asks.
struct Prediction {
  Lines sent;   // "to N: ..." in order
  Lines calls;  // of the polling thread, in order
};

// Register 7's message number k, which awaits SET 1's answer (code 1), and its fields as a
// notification carries them (without the code).
std::string Message(int k) { return "123456;" + std::to_string(k % 10) + ";1;M" + std::to_string(k) + ";"; }
std::string MessageFields(int k) { return "123456;" + std::to_string(k % 10) + ";M" + std::to_string(k) + ";"; }

std::string Reply(int set, int command, int logNo, int error, const std::string& payload = {}) {
  return std::to_string(set) + "/" + std::to_string(command) + "/" + std::to_string(logNo) + " err " +
         std::to_string(error) + " [" + payload + "]";
}

struct Model {
  std::array<bool, kSlots + 1> connected{false, true, true};
  std::array<int, kSlots + 1> generation{0, 1, 1};
  // SETs 1, 2, 5, 6 of register 7 and SET 1 of register 8.
  std::map<std::pair<int, int>, Conn> holders;
  std::map<int, int> useCount;  // of registers 7 and 8
  bool pollingActive = false;
  std::optional<std::string> pending;  // SET 5's queued command
  int pendingRequest = 0;
  std::optional<Conn> offeredTo;  // register 7's message waits for this connection's answer
  struct {
    int set = 0;
    int command = 0;
    std::string payload;
    std::string tag;  // the request it answers
    Conn asker;
    int request = 0;
  } waitRes;
  int sequence = 1;
  int tags = 0;
  int requests = 0;
  std::deque<int> messages;  // queued at register 7, by number
  TEcrList list;
  At at;
  int parks = 1;
  int offers = 0;
  // Replies owed: the connection, the request's text.
  std::set<std::pair<Conn, std::string>> owed;

  Prediction out;  // of the step being applied

  Model() {
    list.Add(kSilentEcr);
    at = {At::Kind::Take, list.Next(), {}};
  }

  Conn ConnOf(int slot) const { return {slot, generation[static_cast<std::size_t>(slot)]}; }
  Conn Holder(int logNo, int set) const {
    const auto it = holders.find({logNo, set});
    return it == holders.end() ? Conn{} : it->second;
  }
  void To(const Conn& to, const std::string& message) {
    if (to.slot != 0) out.sent.push_back("to " + std::to_string(to.slot) + ": " + message);
  }
  void Call(std::string call) { out.calls.push_back(std::move(call)); }
  void NextPass() {
    at = {At::Kind::Take, list.Next(), {}};
    ++parks;
  }
  // The thread's exchange is cancelled: only a wait for an application's answer ends.
  void ThreadCancelled() {
    if (at.kind == At::Kind::OnLineWait) NextPass();
  }

  void UseInc(int logNo) {
    int& count = useCount[logNo];
    if (count == 0) {
      Call("AddEcr " + std::to_string(logNo));
      list.Add(logNo);
      if (!pollingActive) {
        Call("StartNoise");
        Call("CancelExchange");
        offeredTo.reset();
        pollingActive = true;
        ThreadCancelled();
      }
    }
    ++count;
  }
  void UseDec(int logNo) {
    int& count = useCount[logNo];
    if (count == 0) return;
    if (--count != 0) return;
    Call("RemoveEcr " + std::to_string(logNo));
    list.Remove(logNo);
    for (const auto& [number, uses] : useCount) {
      if (uses > 0) return;
    }
    pollingActive = false;
    Call("StopNoise");
  }

  // A client request: the copy to the next SET's holder comes first.
  void CopyToNext(int logNo, int set, const std::string& request) { To(Holder(logNo, set + 1), request); }
  void ReplyWithCopy(int slot, int logNo, int set, const std::string& reply) {
    To(ConnOf(slot), reply);
    To(Holder(logNo, set + 1), reply);
  }

  void Open(int slot, int logNo, int set) {
    CopyToNext(logNo, set, Reply(set, cmdOpen, logNo, 0));
    const bool taken = Holder(logNo, set).slot != 0;
    if (set % 2 == 0) {
      To(ConnOf(slot), Reply(set, cmdOpen, logNo, taken ? erSetTaken : 0));
      if (!taken) holders[{logNo, set}] = ConnOf(slot);
      return;
    }
    if (taken) {
      ReplyWithCopy(slot, logNo, set, Reply(set, cmdOpen, logNo, erSetTaken, "HARBENDIX"));
      return;
    }
    holders[{logNo, set}] = ConnOf(slot);
    UseInc(logNo);
    ReplyWithCopy(slot, logNo, set, Reply(set, cmdOpen, logNo, 0, "HARBENDIX"));
  }

  void Release(int logNo, int set) {
    holders.erase({logNo, set});
    if (logNo == kEcr && set == 5) pending.reset();
  }
  // The connection gives up what it asked on the SET.
  void GiveUp(const Conn& conn, int set) {
    for (auto it = owed.begin(); it != owed.end();) {
      const bool onSet = (it->second[0] == 'T') == (set == 5);
      it = it->first == conn && onSet ? owed.erase(it) : std::next(it);
    }
  }

  void Close(int slot, int logNo, int set) {
    CopyToNext(logNo, set, Reply(set, cmdClose, logNo, 0));
    const bool owner = Holder(logNo, set) == ConnOf(slot);
    if (set % 2 == 0) {
      if (owner) Release(logNo, set);
      To(ConnOf(slot), Reply(set, cmdClose, logNo, owner ? 0 : erSetNotYours));
      return;
    }
    if (!owner) {
      ReplyWithCopy(slot, logNo, set, Reply(set, cmdClose, logNo, erSetNotYours));
      return;
    }
    Release(logNo, set);
    if (logNo == kEcr) GiveUp(ConnOf(slot), set);
    UseDec(logNo);
    ReplyWithCopy(slot, logNo, set, Reply(set, cmdClose, logNo, 0));
  }

  void Queue(int slot) {
    const std::string command = "T" + std::to_string(++tags) + ";";
    CopyToNext(kEcr, 5, Reply(5, 9, kEcr, 0, command));
    if (Holder(kEcr, 5) != ConnOf(slot)) {
      ReplyWithCopy(slot, kEcr, 5, Reply(5, 9, kEcr, erSetNotYours));
    } else if (pending) {
      ReplyWithCopy(slot, kEcr, 5, Reply(5, 9, kEcr, erEcrBusy));
    } else {
      pending = command;
      pendingRequest = ++requests;
      owed.insert({ConnOf(slot), command});
    }
  }

  void Cancel(int slot) {
    CopyToNext(kEcr, 5, Reply(5, cmdCancel, kEcr, 0));
    if (Holder(kEcr, 5) != ConnOf(slot)) {
      ReplyWithCopy(slot, kEcr, 5, Reply(5, cmdCancel, kEcr, erSetNotYours));
      return;
    }
    pending.reset();
    GiveUp(ConnOf(slot), 5);
    ReplyWithCopy(slot, kEcr, 5, Reply(5, cmdCancel, kEcr, 0));
  }

  // cmdAnswer (finish: cmdFinish) on SET 1.
  void Answer(int slot, bool finish) {
    const int command = finish ? cmdFinish : cmdAnswer;
    const std::string answer = finish ? std::string() : "A" + std::to_string(++tags) + ";";
    CopyToNext(kEcr, 1, Reply(1, command, kEcr, 0, answer));
    const Conn asker = ConnOf(slot);
    if (Holder(kEcr, 1) != asker) {
      ReplyWithCopy(slot, kEcr, 1, Reply(1, command, kEcr, erSetNotYours));
      return;
    }
    if (offeredTo != asker) {
      ReplyWithCopy(slot, kEcr, 1, Reply(1, command, kEcr, erTooLate));
      return;
    }
    offeredTo.reset();
    if (finish) {
      Call("CancelExchange");
      ReplyWithCopy(slot, kEcr, 1, Reply(1, command, kEcr, 0));
      ThreadCancelled();
      return;
    }
    Call("SetOnLineAnswer " + answer);
    waitRes = {1, cmdAnswer, answer, answer, asker, 0};
    owed.insert({asker, answer});
    at = {At::Kind::SendAnswer, kEcr, answer};
    ++parks;
  }

  void Disconnect(int slot) {
    const Conn conn = ConnOf(slot);
    for (const auto& [logNo, set] : {std::pair{kEcr, 1}, {kEcr, 2}, {kEcr, 5}, {kEcr, 6}, {kOtherEcr, 1}}) {
      if (Holder(logNo, set) != conn) continue;
      Release(logNo, set);
      if (set % 2 == 1) UseDec(logNo);
    }
    GiveUp(conn, 1);
    GiveUp(conn, 5);
    connected[static_cast<std::size_t>(slot)] = false;
  }

  void Reconnect(int slot) {
    connected[static_cast<std::size_t>(slot)] = true;
    ++generation[static_cast<std::size_t>(slot)];
  }

  void QueueMessage() { messages.push_back(++tags); }

  // The reply owed in WaitRes goes out: to the SET's holder while it is the connection that
  // asked, and to the monitor.
  void AnswerCurrentExchange(int error) {
    if (waitRes.set == 5 && pending && pendingRequest == waitRes.request) pending.reset();
    const std::string message = Reply(waitRes.set, waitRes.command, kEcr, error, waitRes.payload);
    const Conn holder = Holder(kEcr, waitRes.set);
    if (holder == waitRes.asker) {
      To(holder, message);
      owed.erase({holder, waitRes.tag});
    }
    To(Holder(kEcr, waitRes.set + 1), message);
  }

  // The register's side of the exchange the thread is parked in ends; `acknowledged`: the
  // register takes the block the thread sends.
  void LineStep(bool acknowledged) {
    switch (at.kind) {
      case At::Kind::Take: {
        if (at.ecr == kSilentEcr) return NextPass();
        offeredTo.reset();
        if (at.ecr == kEcr && !messages.empty()) {
          const int k = messages.front();
          messages.pop_front();
          const Conn owner = Holder(kEcr, 1);
          if (owner.slot == 0) return NextPass();  // refused, and the register drops it
          offeredTo = owner;
          // The message without its code field, then the sequence and the notification id.
          const std::string payload = MessageFields(k) + std::to_string(sequence++) + ";1;";
          To(owner, Reply(1, 129, kEcr, 0, payload));
          To(Holder(kEcr, 2), Reply(1, 129, kEcr, 0, payload));
          at = {At::Kind::OnLineWait, kEcr, {}};
          ++offers;
          return;
        }
        if (at.ecr == kEcr && pending) {
          waitRes = {5, 9, *pending, *pending, Holder(kEcr, 5), pendingRequest};
          Call("SetInLineCommand I" + *pending);
          at = {At::Kind::SendCommand, kEcr, "I" + *pending};
          ++parks;
          return;
        }
        Call("CancelExchange");
        return NextPass();
      }
      case At::Kind::SendCommand:
        offeredTo.reset();
        if (acknowledged) {
          at.kind = At::Kind::GetAnswer;
          ++parks;
          return;
        }
        AnswerCurrentExchange(erBadLine);
        Call("CancelExchange");
        return NextPass();
      case At::Kind::GetAnswer:
        offeredTo.reset();
        waitRes.payload = "R" + at.block;
        AnswerCurrentExchange(0);
        Call("CancelExchange");
        return NextPass();
      case At::Kind::SendAnswer:
        offeredTo.reset();
        AnswerCurrentExchange(acknowledged ? 0 : erBadLine);
        Call("CancelExchange");
        return NextPass();
      case At::Kind::OnLineWait: return;
    }
  }

  // The register waited for an answer long enough: the thread's no-answer event.
  void OfferExpires() {
    offeredTo.reset();
    NextPass();
  }

  // Nothing waits that the line would serve.
  bool Idle() const {
    return at.kind == At::Kind::Take && !pending && (messages.empty() || !list.Contains(kEcr));
  }
};

// ---- the system -------------------------------------------------------------------------

// The engine's view of the polling thread, recording what it is asked.
class RecordingControl : public PollingControl {
 public:
  explicit RecordingControl(TPolThread& thread) : thread_(thread) {}
  void AddEcr(int logNo) override {
    Record("AddEcr " + std::to_string(logNo));
    thread_.AddEcr(logNo);
  }
  void RemoveEcr(int logNo) override {
    Record("RemoveEcr " + std::to_string(logNo));
    thread_.RemoveEcr(logNo);
  }
  void StartNoise() override { Record("StartNoise"); }
  void StopNoise() override { Record("StopNoise"); }
  void CancelExchange() override {
    Record("CancelExchange");
    thread_.CancelExchange();
  }
  void SetInLineCommand(std::string_view text) override {
    Record("SetInLineCommand " + std::string(text));
    thread_.SetInLineCommand(text);
  }
  bool SetOnLineAnswer(std::string_view text) override {
    Record("SetOnLineAnswer " + std::string(text));
    return thread_.SetOnLineAnswer(text);
  }
  std::size_t BlockCapacity() const override { return thread_.BlockCapacity(); }

  Lines Take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(calls_, {});
  }

 private:
  void Record(std::string call) {
    const std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  TPolThread& thread_;
  std::mutex mutex_;
  Lines calls_;
};

struct Sut {
  TempDir dir;
  LogFile log{dir.File("poll.log")};
  ScriptedLine line;
  ServerSettings settings;
  testing_support::CountingSaver saver;
  testing_support::RecordingSender sender;
  RequestEngine engine{settings, saver, "v1.0.0.1"};
  std::mutex offersMutex;
  std::condition_variable offered;
  int offers = 0;
  std::atomic<bool> unexpectedNoAnswer{false};
  Model model;  // as the steps so far have left it
  // Declared last: it ends before what it uses goes.
  TPolThread thread;
  RecordingControl control{thread};

  Sut() {
    log.Open();
    line.SetBaudRate(9600);
    line.OnTakeBlock = [this](TBasicCommunicationObject& from, std::uint8_t n, const std::string& block,
                              bool& accept) { engine.AcceptEcrMessage(from, n, block, accept); };
    thread.Com = &line;
    thread.SetLog(log);
    thread.OnEcrInLine = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine.OnEcrStatus(sender, &control, n, block, r);
    };
    thread.OnInlSended = [this](TPolThread&, int n, std::uint8_t r) { engine.OnCommandSent(sender, &control, n, r); };
    thread.OnInlReceived = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine.OnCommandAnswer(sender, &control, n, block, r);
    };
    thread.OnOnlReceived = [this](TPolThread&, int n, const std::string& block, std::uint8_t r) {
      engine.OnEcrMessage(sender, &control, n, block, r);
      {
        const std::lock_guard lock(offersMutex);
        ++offers;
      }
      offered.notify_all();
    };
    thread.OnOnlSended = [this](TPolThread&, int n, std::uint8_t r) {
      engine.OnOnlineAnswerSent(sender, &control, n, r);
    };
    thread.OnNoAnswer = [this](TPolThread&, int, const std::string&, std::uint8_t) {
      unexpectedNoAnswer = true;
      engine.ClearCurrentExchange();
    };
    thread.AddEcr(kSilentEcr);
    thread.Resume();
  }
  ~Sut() {
    line.Shutdown();
    thread.CancelExchange();
  }
  Sut(const Sut&) = delete;
  Sut& operator=(const Sut&) = delete;

  void Request(int slot, int set, int command, const std::string& payload = {}, int logNo = kEcr) {
    engine.DispatchRequest(sender, &control, static_cast<std::uint16_t>(slot),
                           BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command),
                                              static_cast<std::uint8_t>(logNo), 0, {}, payload));
  }

  // Waits until the thread is where the model says, then compares what the step sent and
  // asked with the model's prediction.
  void Check(const Model& expected, const Prediction& prediction) {
    if (expected.at.kind == At::Kind::OnLineWait) {
      std::unique_lock lock(offersMutex);
      RC_ASSERT(offered.wait_for(lock, kWaitLimit, [&] { return offers >= expected.offers; }));
      RC_ASSERT(offers == expected.offers);
      RC_ASSERT(line.Parks() == expected.parks);
    } else {
      RC_ASSERT(line.WaitParked(expected.parks, kWaitLimit));
      RC_ASSERT(line.Parks() == expected.parks);
      const std::optional<ScriptedLine::Park> park = line.Parked();
      RC_ASSERT(park.has_value());
      const ScriptedLine::Op op = expected.at.kind == At::Kind::Take        ? ScriptedLine::Op::Take
                                  : expected.at.kind == At::Kind::GetAnswer ? ScriptedLine::Op::Get
                                                                            : ScriptedLine::Op::Send;
      RC_ASSERT(park->op == op);
      RC_ASSERT(park->ecr == expected.at.ecr);
      if (op == ScriptedLine::Op::Send) RC_ASSERT(park->block == expected.at.block);
    }
    RC_ASSERT(testing_support::Describe(sender.Take()) == prediction.sent);
    RC_ASSERT(control.Take() == prediction.calls);
    RC_ASSERT(!unexpectedNoAnswer.load());
  }
};

// ---- the steps --------------------------------------------------------------------------

using Step = rc::state::Command<Model, Sut>;

// A step changes the model and plays the same on the system; run() checks the system
// against the model's prediction.
template <typename Derived>
struct ModelStep : Step {
  void apply(Model& model) const override {
    static_cast<const Derived&>(*this).Play(model);
    model.out = {};
  }
  void run(const Model& before, Sut& sut) const override {
    Model expected = before;
    expected.out = {};
    static_cast<const Derived&>(*this).Play(expected);
    static_cast<const Derived&>(*this).Do(sut, before);
    sut.Check(expected, expected.out);
    sut.model = expected;
    sut.model.out = {};
  }
};

int AnyConnectedSlot(const Model& model) {
  const int slot = *rc::gen::inRange(1, kSlots + 1);
  RC_PRE(model.connected[static_cast<std::size_t>(slot)]);
  return slot;
}

struct Open : ModelStep<Open> {
  int slot;
  int set;
  explicit Open(const Model& model) : slot(AnyConnectedSlot(model)), set(*rc::gen::element(1, 2, 5, 6)) {}
  void Play(Model& m) const { m.Open(slot, kEcr, set); }
  void Do(Sut& sut, const Model&) const { sut.Request(slot, set, cmdOpen); }
  void show(std::ostream& os) const override { os << "client " << slot << " opens SET " << set; }
};

struct Close : ModelStep<Close> {
  int slot;
  int set;
  explicit Close(const Model& model) : slot(AnyConnectedSlot(model)), set(*rc::gen::element(1, 2, 5, 6)) {}
  void Play(Model& m) const { m.Close(slot, kEcr, set); }
  void Do(Sut& sut, const Model&) const { sut.Request(slot, set, cmdClose); }
  void show(std::ostream& os) const override { os << "client " << slot << " closes SET " << set; }
};

// Another register's SET 1: opened while nothing else is in use, it restarts polling.
struct OpenOther : ModelStep<OpenOther> {
  int slot;
  explicit OpenOther(const Model& model) : slot(AnyConnectedSlot(model)) {}
  void Play(Model& m) const { m.Open(slot, kOtherEcr, 1); }
  void Do(Sut& sut, const Model&) const { sut.Request(slot, 1, cmdOpen, {}, kOtherEcr); }
  void show(std::ostream& os) const override { os << "client " << slot << " opens SET 1 of register 8"; }
};

struct CloseOther : ModelStep<CloseOther> {
  int slot;
  explicit CloseOther(const Model& model) : slot(AnyConnectedSlot(model)) {}
  void Play(Model& m) const { m.Close(slot, kOtherEcr, 1); }
  void Do(Sut& sut, const Model&) const { sut.Request(slot, 1, cmdClose, {}, kOtherEcr); }
  void show(std::ostream& os) const override { os << "client " << slot << " closes SET 1 of register 8"; }
};

struct Queue : ModelStep<Queue> {
  int slot;
  explicit Queue(const Model& model) : slot(AnyConnectedSlot(model)) {}
  void Play(Model& m) const { m.Queue(slot); }
  void Do(Sut& sut, const Model& before) const {
    sut.Request(slot, 5, 9, "T" + std::to_string(before.tags + 1) + ";");
  }
  void show(std::ostream& os) const override { os << "client " << slot << " queues a SET 5 command"; }
};

struct Cancel : ModelStep<Cancel> {
  int slot;
  explicit Cancel(const Model& model) : slot(AnyConnectedSlot(model)) {}
  void Play(Model& m) const { m.Cancel(slot); }
  void Do(Sut& sut, const Model&) const { sut.Request(slot, 5, cmdCancel); }
  void show(std::ostream& os) const override { os << "client " << slot << " cancels on SET 5"; }
};

struct Answer : ModelStep<Answer> {
  int slot;
  bool finish;
  explicit Answer(const Model& model) : slot(AnyConnectedSlot(model)), finish(*rc::gen::inRange(0, 4) == 0) {}
  void Play(Model& m) const { m.Answer(slot, finish); }
  void Do(Sut& sut, const Model& before) const {
    if (finish) {
      sut.Request(slot, 1, cmdFinish);
    } else {
      sut.Request(slot, 1, cmdAnswer, "A" + std::to_string(before.tags + 1) + ";");
    }
  }
  void show(std::ostream& os) const override {
    os << "client " << slot << (finish ? " finishes" : " answers") << " on SET 1";
  }
};

struct Disconnect : ModelStep<Disconnect> {
  int slot;
  explicit Disconnect(const Model& model) : slot(AnyConnectedSlot(model)) {}
  void Play(Model& m) const { m.Disconnect(slot); }
  void Do(Sut& sut, const Model&) const {
    sut.engine.ClientDisconnected(sut.sender, &sut.control, static_cast<std::uint16_t>(slot));
  }
  void show(std::ostream& os) const override { os << "client " << slot << " disconnects"; }
};

// The next connection takes a free slot.
struct Reconnect : ModelStep<Reconnect> {
  int slot;
  explicit Reconnect(const Model& model) : slot(*rc::gen::inRange(1, kSlots + 1)) {
    RC_PRE(!model.connected[static_cast<std::size_t>(slot)]);
  }
  void Play(Model& m) const { m.Reconnect(slot); }
  void Do(Sut& sut, const Model&) const { sut.engine.ClientConnected(); }
  void show(std::ostream& os) const override { os << "a new connection takes slot " << slot; }
};

// Register 7 has a message that awaits SET 1's answer.
struct RegisterMessage : ModelStep<RegisterMessage> {
  explicit RegisterMessage(const Model& model) { RC_PRE(model.messages.size() < 2); }
  void Play(Model& m) const { m.QueueMessage(); }
  void Do(Sut& sut, const Model& before) const {
    sut.line.QueueMessage(Message(before.tags + 1));
  }
  void show(std::ostream& os) const override { os << "register 7 has a message"; }
};

// The register's side of the exchange under way comes: its block, its ACK (or, now and
// then, its refusal of the block) or its answer. A register is slow to acknowledge and to
// answer: while a block or an answer is on its way, clients' events come more often.
struct LineStep : ModelStep<LineStep> {
  bool acknowledged;
  explicit LineStep(const Model& model) : acknowledged(*rc::gen::inRange(0, 5) != 0) {
    RC_PRE(model.at.kind != At::Kind::OnLineWait);
    if (model.at.kind != At::Kind::Take) RC_PRE(*rc::gen::inRange(0, 3) == 0);
  }
  void Play(Model& m) const { m.LineStep(acknowledged); }
  void Do(Sut& sut, const Model&) const { sut.line.Release(acknowledged ? LinkResult::Ok : LinkResult::Nak); }
  void show(std::ostream& os) const override { os << "the register goes on" << (acknowledged ? "" : ", refusing"); }
};

// Nobody answers the message within the register's wait: the thread's no-answer event.
struct OfferExpires : ModelStep<OfferExpires> {
  explicit OfferExpires(const Model& model) { RC_PRE(model.at.kind == At::Kind::OnLineWait); }
  void Play(Model& m) const { m.OfferExpires(); }
  void Do(Sut& sut, const Model&) const {
    sut.thread.CancelExchange();
    sut.engine.ClearCurrentExchange();
  }
  void show(std::ostream& os) const override { os << "the message's wait for an answer ends"; }
};

// The line serves everything that is waiting; then nobody is owed anything.
void Settle(Sut& sut) {
  for (int step = 0; step < 200 && !sut.model.Idle(); ++step) {
    Model expected = sut.model;
    expected.out = {};
    if (expected.at.kind == At::Kind::OnLineWait) {
      expected.OfferExpires();
      sut.thread.CancelExchange();
      sut.engine.ClearCurrentExchange();
    } else {
      expected.LineStep(true);
      sut.line.Release(LinkResult::Ok);
    }
    sut.Check(expected, expected.out);
    sut.model = expected;
    sut.model.out = {};
  }
  RC_ASSERT(sut.model.Idle());
  RC_ASSERT(sut.model.owed.empty());
  // The register's view: every command it took had its answer read once, none came twice.
  std::map<std::string, int> acknowledged;
  for (const std::string& block : sut.line.Acknowledged()) {
    if (block.front() == 'I') RC_ASSERT(++acknowledged[block] == 1);
  }
  std::map<std::string, int> answered;
  for (const std::string& command : sut.line.Answered()) RC_ASSERT(++answered[command] == 1);
  RC_ASSERT(acknowledged == answered);
}

RC_GTEST_PROP(EnginePollingProperty, RepliesFollowTheirConnectionAndEveryCommandRunsOnce, ()) {
  Sut sut;
  const Model initial;
  sut.model = initial;
  RC_ASSERT(sut.line.WaitParked(1, kWaitLimit));
  // A step listed more than once comes that much more often.
  rc::state::check(initial, sut,
                   rc::state::gen::execOneOfWithArgs<Open, Open, Open, Close, Close, OpenOther, OpenOther, CloseOther,
                                                     Queue, Queue, Queue, Cancel, Answer, Answer, Disconnect,
                                                     Disconnect, Reconnect, Reconnect, RegisterMessage, LineStep,
                                                     LineStep, LineStep, LineStep, LineStep, LineStep, OfferExpires>());
  Settle(sut);
}

}  // namespace
}  // namespace ecr
