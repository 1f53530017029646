// The controller link and the request processing together, played with random sequences of
// client requests (opens, answers, holds, finishes, cancels, SET 5 commands, sale lines,
// closes and disconnects on two registers) and controller traffic (InLine announcements,
// OnLine offers, sale requests and notifications, delivery reports that come at once, late or never, with ACK or NAK,
// reports that no write awaits, identify answers lost, refused blocks, noise and frames of
// no meaning, time passing, with the keep-alive after five silent seconds) against a model
// of the controller: it answers the PC's commands in order (a report before the answer to
// any command written after its write), lets the registers' blocks overtake them, and a
// register whose InLine data was delivered answers with its next block.
//
// Invariants, checked at every step:
// - a client is told 0 for an answer or a SET 5 command only when its own write's report was
//   an ACK (and, for a SET 5 command, the register's answer to it came);
// - no request's text is written to the controller twice, unless the controller refused the
//   InLine data before (it never reached the register);
// - what belongs to a request (its text, the register's answer to it) reaches only the client
//   that made it, on its SET, and at most once;
// - a write waits (102) only for the report of an earlier write of its own kind that is due
//   and younger than the give-up time, and a write waiting for the link waits only while the
//   link awaits a report of its kind;
// - the link never holds an open offer or announcement of a register that nobody is asked to
//   serve: the offer's SET has an owner, or the write for it waits for the link.
// At the end every report still outstanding comes (or is given up), every register answers,
// and every request that was written is answered exactly once, unless its client left or the
// controller refused it back into its queue.

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <rapidcheck/state.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/log_file.h"
#include "netcontroller/link/com_reader.h"
#include "netcontroller/link/nc_link.h"
#include "netcontroller/nc_message_header.h"
#include "netcontroller/requests/nc_request_engine.h"
#include "netcontroller/server/nc_server_settings.h"
#include "server/client_sender.h"
#include "tests/netcontroller/nc_request_fixture.h"
#include "tests/support/printable_bytes.h"
#include "tests/support/temp_dir.h"

namespace ecr::test {
namespace {

constexpr int kRegisters = 2;
constexpr int kClients = 3;
constexpr std::uint8_t kOnl = nc::kOnLineReportCode;
constexpr std::uint8_t kInl = nc::kInLineReportCode;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint32_t kKeepAliveMs = TComReader::kKeepAliveMs;

// "T<N>;" (a request's text) or "A<N>;" (a register's answer to request N) inside `text`: N,
// else -1. (Upper case: the code table keeps it as it is both ways.)
int TagIn(const std::string& text, char mark) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text[i] != mark) continue;
    std::size_t j = i + 1;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    if (j > i + 1 && j < text.size() && text[j] == ';') return std::stoi(text.substr(i + 1, j - i - 1));
  }
  return -1;
}

std::string Frame(std::uint8_t code, std::uint8_t status, std::uint8_t ack, const std::string& prefix = {}) {
  return prefix + static_cast<char>(code) + static_cast<char>(status) + static_cast<char>(ack) + '\0';
}

class Rig;

// The request processing's commands carried out by the link, as the server's are; a refusal
// for a report due is checked against what the controller has reported.
class LinkCommands : public nc::ControllerCommands {
 public:
  LinkCommands(nc::NcLink& link, Rig& rig) : link_(link), rig_(rig) {}
  bool AddEcr(int ecr) override { return link_.AddEcr(ecr); }
  bool RemoveEcr(int ecr) override { return link_.RemoveEcr(ecr); }
  void SendStart() override { link_.SendStart(); }
  void SendStop() override { link_.SendStop(); }
  int SendReset() override {
    link_.SendReset();
    return 0;
  }
  bool ResetExchangeOf(int ecr) override { return link_.ResetExchangeOf(ecr); }
  int SendOnlAnswer(int ecr, std::string_view text) override;
  int SendInlData(int ecr, std::string_view text) override;
  void ReportHandled() override { link_.ReportHandled(); }
  std::uint8_t ReportInHand() override { return link_.ReportInHand(); }
  void ForgetReport(int ecr, std::uint8_t code) override { link_.ForgetReport(ecr, code); }

 private:
  nc::NcLink& link_;
  Rig& rig_;
};

class Rig : public ClientSender {
 public:
  Rig() {
    log_.Open();
    link_.SetPortOpen(true);
    engine_.ClearPendingExchangeAndStart();
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // ---- the clients ----------------------------------------------------------------------
  void Open(int client, int ecr, int setNo) { Send(client, setNo, 1, ecr, {}); }
  void Close(int client, int ecr, int setNo) {
    if (engine_.SessionSnapshot(ecr).Slot(setNo).ClientId == client) LeaveRequests(client, ecr, setNo);
    Send(client, setNo, 2, ecr, {});
  }
  void Disconnect(int client) {
    LeaveRequests(client, 0, 0);
    ++epoch_[client];
    engine_.ClientDisconnected(static_cast<std::int16_t>(client));
  }
  // A request with a text of its own ("T<N>;"): an answer to an offer, a SET 5 command, or
  // the name of a sale line on SET 13.
  void Tagged(int client, int ecr, int setNo, int command) {
    const int tag = ++last_tag_;
    requests_[tag] = {client, epoch_[client], ecr, setNo, command};
    const std::string text = "T" + std::to_string(tag) + ";";
    Send(client, setNo, command, ecr, setNo == 13 ? "1;" + text + "1;1;1;1;1;" : text);
  }
  void Plain(int client, int ecr, int setNo, int command) { Send(client, setNo, command, ecr, {}); }

  // ---- the registers behind the controller ------------------------------------------------
  // Register ecr's block, with ACK or refused; a register whose InLine data was delivered
  // sends its answer instead. Only registers in the controller's mask are heard.
  void Block(int ecr, const std::string& block, std::uint8_t status = 1) {
    if (!InMask(ecr)) return;
    std::string text = block;
    if (const auto due = answer_due_.find(ecr); due != answer_due_.end()) {
      text = "A" + std::to_string(due->second) + ";";
      answered_.insert(due->second);
      answer_due_.erase(due);
    }
    current_ = ecr;
    Feed(Frame(static_cast<std::uint8_t>(0x80 + ecr), status, status == 1 ? kAck : kNak, "\x0A" + text));
  }
  void Announce(int ecr) { Block(ecr, "1234567"); }
  void Offer(int ecr, int setNo, bool repeat) {
    int& exchange = exchange_no_[ecr];
    if (!repeat) ++exchange;
    const std::string head = std::to_string(ecr) + ";" + std::to_string(exchange) + ";";
    Block(ecr, setNo == 9 ? head + "9;a;b;5;" : head + "4;a;b;c;d;");
  }
  void AskForSale(int ecr) { Block(ecr, std::to_string(ecr) + ";" + std::to_string(++exchange_no_[ecr]) + ";5;s;"); }
  void Notify(int ecr) { Block(ecr, std::to_string(ecr) + ";" + std::to_string(++exchange_no_[ecr]) + ";0;n;"); }
  void Raw(const std::string& frame) { Feed(frame); }

  // The controller decides the oldest undecided report of this kind (status 1 with ACK, or
  // the status refused), or loses it; then it sends what is due, in order.
  void Report(std::uint8_t code, std::uint8_t status, bool lost) {
    // See IdentifyAnswerLost: while the link counts an identify answer that never came, a
    // lost report would leave it no way to tell the next report from the lost one.
    if (lost && identify_answer_lost_) return;
    for (Write& write : writes_) {
      if (write.code != code || write.fate != Fate::Undecided) continue;
      write.fate = lost ? Fate::Lost : status == 1 ? Fate::Ack : Fate::Nak;
      write.status = status;
      break;
    }
    Flush();
  }
  // As the reader: after five seconds without a byte the keep-alive, then the reports
  // given up meanwhile.
  void AdvanceClock(std::uint32_t ms) {
    trace_ += "  " + std::to_string(ms) + " ms\n";
    now_ += ms;
    if (now_ - last_byte_ > kKeepAliveMs) {
      // The link takes the identify answers still owed as lost; this controller has lost
      // them (one that sent them after five silent seconds would end a later fence early).
      trace_ += "  keep-alive\n";
      last_byte_ = now_;
      std::erase_if(replies_, [](const Reply& reply) { return reply.write == kIdentifyReply; });
      identify_answer_lost_ = false;
      ++keep_alives_;
      link_.SendKeepAlive();
    }
    RaiseGivenUp();
  }
  // The controller loses the next identify answer it sends.
  void LoseIdentifyAnswer() { lose_identify_answer_ = true; }
  // A report of `code` that no write awaits: only while every write of that code has had its
  // report (else it would be that write's, as far as anyone on the line can tell).
  bool StrayReportPossible(std::uint8_t code) const {
    return std::none_of(writes_.begin(), writes_.end(), [&](const Write& write) { return write.code == code && !write.reached; });
  }
  void StrayReport(std::uint8_t code, std::uint8_t status) {
    if (!StrayReportPossible(code)) return;
    ++stray_reports_;
    Feed(Frame(code, status, status == 1 ? kAck : kNak));
  }

  // Every report comes and every register answers, until nothing more moves; the reports
  // that will never come are given up meanwhile (a write waiting for one goes out then).
  void Drain() {
    for (int round = 0; round < 8; ++round) {
      for (Write& write : writes_) {
        if (write.fate == Fate::Undecided) {
          write.fate = Fate::Ack;
          write.status = 1;
        }
      }
      Flush();
      const auto due = answer_due_;
      for (const auto& [ecr, tag] : due) Block(ecr, {});
      AdvanceClock(nc::DeliveryReport::kReportWaitMs);
      Flush();
    }
  }

  // ---- invariants -------------------------------------------------------------------------
  // Each written request whose client stayed is answered exactly once, unless the controller
  // refused it back into its queue.
  void CheckEveryWrittenRequestAnswered() {
    for (const auto& [tag, request] : requests_) {
      const Write* last = LastWriteOf(tag);
      if (last == nullptr || request.left) continue;
      const bool requeued = last->code == kInl && last->fate == Fate::Nak && RefusedIntoQueue(last->status);
      if (requeued) continue;
      if (request.replies != 1) {
        Violation("request " + std::to_string(tag) + " was written and answered " + std::to_string(request.replies) +
                  " times");
      }
    }
  }

  void CheckState() {
    for (const std::uint8_t code : {kOnl, kInl}) {
      if (link_.ReportDue(code) && !AwaitsReport(code, true)) {
        Violation(std::string(code == kOnl ? "an answer's" : "InLine data's") +
                  " report is due that has come or whose time is up");
      }
    }
    const nc::PendingExchange waiting = engine_.WaitingWriteSnapshot();
    if (waiting.Ecr != 0) {
      const std::uint8_t code = waiting.Set == 5 ? kInl : kOnl;
      if (!link_.ReportDue(code)) {
        Violation("register " + std::to_string(waiting.Ecr) + "'s write waits while the link is free");
      }
      if (engine_.SessionSnapshot(waiting.Ecr).Slot(waiting.Set).ClientId == 0) {
        Violation("register " + std::to_string(waiting.Ecr) + "'s write waits for a SET nobody holds");
      }
    }
    const nc::PendingExchange pending = engine_.PendingExchangeSnapshot();
    // A sale exchange marks SET 13 as its own whoever holds it; it waits for no answer.
    if (pending.Ecr != 0 && pending.Set != 13 && engine_.SessionSnapshot(pending.Ecr).Slot(pending.Set).ClientId == 0) {
      Violation("register " + std::to_string(pending.Ecr) + " waits for an answer on a SET nobody holds");
    }
    const int current = link_.CurrentEcr();
    const std::uint8_t state = link_.NcState();
    if ((state == 1 || state == 4) && pending.Ecr != current && waiting.Ecr != current) {
      Violation("the link holds register " + std::to_string(current) + "'s open exchange (state " +
                std::to_string(state) + ") that nobody serves");
    }
  }

  // The controller sends what is due: the replies it owes, as far as the next undecided
  // report.
  void SendDue() { Flush(); }

  void Violation(const std::string& what) {
    if (violations_.empty()) violations_ = what + "\nafter:\n" + trace_;
  }
  const std::string& Violations() const { return violations_; }

  // What a sequence got to, for the distribution RapidCheck shows.
  void Classify() const {
    int answers = 0, commands = 0, sales = 0, successes = 0, replies = 0;
    for (const Write& write : writes_) {
      if (write.tag < 0) continue;
      const bool sale = requests_.at(write.tag).setNo == 13;
      ++(write.code == kInl ? commands : sale ? sales : answers);
    }
    for (const auto& [tag, request] : requests_) replies += request.replies;
    successes = successes_;
    RC_CLASSIFY(answers > 0, "an answer written");
    RC_CLASSIFY(commands > 0, "a SET 5 command written");
    RC_CLASSIFY(sales > 0, "a sale line written");
    RC_CLASSIFY(successes > 0, "a write answered 0");
    RC_CLASSIFY(replies > successes, "a write answered with a failure");
    RC_CLASSIFY(refused_for_report_ > 0, "a write waited for a report");
    RC_CLASSIFY(given_up_ > 0, "a report given up");
    RC_CLASSIFY(identify_answers_lost_ > 0, "an identify answer lost");
    RC_CLASSIFY(keep_alives_ > 0 && given_up_ > 0, "a keep-alive after a give-up");
    RC_CLASSIFY(stray_reports_ > 0, "a report no write awaited");
  }

  // ---- what the request processing sends ------------------------------------------------
  void SendData(std::uint16_t ID, std::string_view Data) override {
    const nc::RequestHeader header = nc::UnpackRequestHeader(Data);
    const std::string who = "to " + std::to_string(ID) + ": " + std::to_string(header.SetNo) + "/" +
                            std::to_string(header.Command) + "/" + std::to_string(header.LogNo) + " err " +
                            std::to_string(header.Fifth) + " [" + header.Body + "]";
    trace_ += "  " + who + "\n";
    for (const char mark : {'T', 'A'}) {
      const int tag = TagIn(header.Body, mark);
      if (tag < 0) continue;
      const auto found = requests_.find(tag);
      if (found == requests_.end()) {
        Violation(who + " carries an unknown request");
        continue;
      }
      Request& request = found->second;
      ++request.replies;
      if (ID != request.client || epoch_[request.client] != request.epoch || header.SetNo != request.setNo ||
          header.LogNo != request.ecr || header.Command != request.command) {
        Violation(who + " belongs to request " + std::to_string(tag) + " of client " + std::to_string(request.client));
      }
      if (request.replies > 1) Violation(who + ": request " + std::to_string(tag) + " answered twice");
      if (header.Fifth == 0) {
        ++successes_;
        const Write* write = LastWriteOf(tag);
        const bool inLine = request.setNo == 5;
        if (write == nullptr || write->fate != Fate::Ack || !write->reached) {
          Violation(who + ": 0 without an ACK for its own write");
        } else if (inLine && (mark != 'A' || answered_.count(tag) == 0)) {
          Violation(who + ": 0 without the register's answer to it");
        }
      }
    }
  }

  // ---- what the link writes to the controller -------------------------------------------
  void Written(std::string_view bytes) {
    if (bytes.empty()) return;
    trace_ += "  PC: " + support::Printable(bytes) + "\n";
    switch (static_cast<std::uint8_t>(bytes[0])) {
      case 0x07:
        mask_ = static_cast<std::uint16_t>((static_cast<std::uint8_t>(bytes[1]) << 8) | static_cast<std::uint8_t>(bytes[2]));
        // A register taken out of the mask ends its exchange: it will not answer InLine data
        // written to it before (the link forgets such an answer too).
        for (Write& write : writes_) {
          if (!InMask(write.ecr)) write.answerForgotten = true;
        }
        std::erase_if(answer_due_, [&](const auto& due) { return !InMask(due.first); });
        return;
      case 0x0B: current_ = 0; return;
      case 0x0C: replies_.push_back({kIdentifyReply, now_}); return;
      case 0x0A: break;
      default: return;
    }
    Write write;
    write.code = static_cast<std::uint8_t>(bytes.back());
    write.ecr = current_;
    write.text = std::string(bytes.substr(1, bytes.size() - 2));
    write.tag = TagIn(write.text, 'T');
    write.at = now_;
    if (write.ecr == 0 || write.ecr != link_.CurrentEcr()) {
      Violation("text written without the register's exchange: " + write.text);
    }
    if (write.tag >= 0) {
      for (const Write& earlier : writes_) {
        if (earlier.tag != write.tag) continue;
        const bool refused = earlier.code == kInl && earlier.fate == Fate::Nak && earlier.reached &&
                             RefusedIntoQueue(earlier.status);
        if (!refused) Violation("request " + std::to_string(write.tag) + " written twice: " + write.text);
      }
    }
    writes_.push_back(write);
    replies_.push_back({writes_.size() - 1, now_});
  }

  // A refusal of a report due: there is an earlier write of this kind whose report has not
  // come (that it is not older than its give-up, CheckState tells).
  void CheckRefusedForReport(std::uint8_t code, int ecr) {
    ++refused_for_report_;
    if (!AwaitsReport(code, false)) {
      Violation("register " + std::to_string(ecr) + "'s write refused for a report that is not due");
    }
  }

 private:
  enum class Fate { Undecided, Ack, Nak, Lost };
  struct Write {
    std::uint8_t code = 0;
    int ecr = 0;
    std::string text;
    int tag = -1;
    std::uint32_t at = 0;
    Fate fate = Fate::Undecided;
    std::uint8_t status = 1;
    bool reached = false;  // the report came to the link
    bool answerForgotten = false;  // its register left the mask after it was written
    bool fenceAnswered = false;    // an identify command written after its give-up was answered
  };
  struct Request {
    int client = 0;
    int epoch = 0;
    int ecr = 0;
    int setNo = 0;
    int command = 0;
    bool left = false;  // its client closed the SET or went since
    int replies = 0;
  };
  // A reply owed by the controller, in order: the report of write i, or kIdentifyReply for
  // the answer to the identify command written at `at`.
  static constexpr std::size_t kIdentifyReply = static_cast<std::size_t>(-1);
  struct Reply {
    std::size_t write = kIdentifyReply;
    std::uint32_t at = 0;
  };

  bool InMask(int ecr) const { return ecr >= 1 && (mask_ & (1u << (ecr - 1))) != 0; }
  static bool RefusedIntoQueue(std::uint8_t status) { return status == 8 || (status >= 17 && status <= 24); }

  // A write of this kind whose report has not come (and, `inTime`, younger than its give-up).
  bool AwaitsReport(std::uint8_t code, bool inTime) const {
    return std::any_of(writes_.begin(), writes_.end(), [&](const Write& write) {
      return write.code == code && !write.reached && (!inTime || now_ - write.at < nc::DeliveryReport::kReportWaitMs);
    });
  }

  const Write* LastWriteOf(int tag) const {
    for (auto it = writes_.rbegin(); it != writes_.rend(); ++it) {
      if (it->tag == tag) return &*it;
    }
    return nullptr;
  }

  void LeaveRequests(int client, int ecr, int setNo) {
    for (auto& [tag, request] : requests_) {
      if (request.client == client && (ecr == 0 || (request.ecr == ecr && request.setNo == setNo))) request.left = true;
    }
  }

  void Send(int client, int setNo, int command, int ecr, const std::string& payload) {
    trace_ += "  client " + std::to_string(client) + ": " + std::to_string(setNo) + "/" + std::to_string(command) +
              "/" + std::to_string(ecr) + " [" + payload + "]\n";
    engine_.HandleClientMessage(static_cast<std::int16_t>(client), test::Request(setNo, command, ecr, payload));
  }

  // The controller's replies, in order, as far as the next undecided report.
  void Flush() {
    while (!replies_.empty()) {
      const std::size_t next = replies_.front().write;
      if (next == kIdentifyReply) {
        const std::uint32_t at = replies_.front().at;
        replies_.pop_front();
        if (IdentifyAnswerLost()) continue;
        // A write given up by `at` (at its give-up time at the latest) had its fence
        // written by then: answered, once no identify command of that time is still owed.
        const bool earlierOwed = std::any_of(replies_.begin(), replies_.end(), [&](const Reply& reply) {
          return reply.write == kIdentifyReply && reply.at <= at;
        });
        for (Write& write : writes_) {
          if (!earlierOwed && at >= write.at + nc::DeliveryReport::kReportWaitMs) write.fenceAnswered = true;
        }
        Feed("NC0001\x01\x01" + Frame(0x0C, 1, kAck));
        continue;
      }
      Write& write = writes_[next];
      if (write.fate == Fate::Undecided) return;
      replies_.pop_front();
      if (write.fate == Fate::Lost) continue;
      write.reached = true;
      if (write.code == kInl && write.fate == Fate::Ack && write.tag >= 0 && !write.answerForgotten) {
        answer_due_[write.ecr] = write.tag;
      }
      Feed(Frame(write.code, write.status, write.fate == Fate::Ack ? kAck : kNak));
    }
  }

  // An identify answer is lost only where the link can still tell the reports apart: not
  // while a write whose report was lost may still be fenced (with both its report and its
  // fence's answer lost, the next write's report is, on the line, that write's late report,
  // as reports name no register); and no report is lost afterwards until the keep-alive has
  // set the link's count right.
  bool IdentifyAnswerLost() {
    if (!lose_identify_answer_) return false;
    const bool lostReportFenced =
        std::any_of(writes_.begin(), writes_.end(), [](const Write& write) { return write.fate == Fate::Lost && !write.fenceAnswered; });
    if (lostReportFenced) return false;
    trace_ += "  an identify answer lost\n";
    lose_identify_answer_ = false;
    identify_answer_lost_ = true;
    ++identify_answers_lost_;
    return true;
  }

  void RaiseGivenUp() {
    for (;;) {
      const nc::NcNotice notice = link_.TakeGivenUpReport();
      if (notice.kind == nc::NcNotice::Kind::None) return;
      ++given_up_;
      Raise(notice);
    }
  }

  // As the reader: reports given up first, then the frame.
  void Feed(const std::string& frame) {
    trace_ += "  controller: " + support::Printable(frame) + "\n";
    last_byte_ = now_;
    RaiseGivenUp();
    Raise(link_.HandleFrame(frame));
  }

  void Raise(const nc::NcNotice& notice) {
    using Kind = nc::NcNotice::Kind;
    switch (notice.kind) {
      case Kind::None: break;
      case Kind::EcrInLine: engine_.HandleEcrInLine(notice.ecr, notice.block); break;
      case Kind::InlSended: engine_.HandleInlSended(notice.ecr, notice.errC); break;
      case Kind::OnlSended: engine_.HandleOnlSended(notice.ecr, notice.errC); break;
      case Kind::InlReceived: engine_.HandleInlReceived(notice.ecr, notice.block); break;
      case Kind::OnlReceived: engine_.HandleOnlineBlock(notice.ecr, notice.block); break;
      case Kind::Error: engine_.HandleControllerError(notice.ecr, notice.errC, notice.extErr); break;
    }
    if (notice.report != 0) link_.EndRaisedReport(notice.report);
  }

  TempDir dir_;
  LogFile log_{dir_.File("lontaros.log")};
  nc::NcServerSettings settings_;
  std::uint32_t now_ = 1'000'000;
  std::uint32_t last_byte_ = now_;  // when the controller's last frame came
  nc::NcLink link_{[this](std::string_view bytes) { Written(bytes); }, [this] { return now_; },
                   [](const std::string&) {}};
  LinkCommands commands_{link_, *this};
  nc::NcRequestEngine engine_{
      nc::NcRequestEngineParts{*this, commands_, settings_, [] {}, log_, [this] { return now_; }}};

  // The controller.
  std::uint16_t mask_ = 0;
  int current_ = 0;
  std::vector<Write> writes_;
  std::deque<Reply> replies_;
  bool lose_identify_answer_ = false;  // the next one it sends
  bool identify_answer_lost_ = false;  // and the keep-alive has not come since
  std::map<int, int> answer_due_;  // register -> the request its next block answers
  std::set<int> answered_;         // requests whose register's answer was sent
  std::map<int, int> exchange_no_;

  // The clients.
  std::map<int, Request> requests_;
  std::map<int, int> epoch_;
  int last_tag_ = 0;

  int successes_ = 0;
  int refused_for_report_ = 0;
  int given_up_ = 0;
  int identify_answers_lost_ = 0;
  int keep_alives_ = 0;
  int stray_reports_ = 0;
  std::string violations_;
  std::string trace_;  // what passed the line, for a failure's message
};

int LinkCommands::SendOnlAnswer(int ecr, std::string_view text) {
  const int result = link_.SendOnlAnswer(ecr, text);
  if (result == nc::kLinkReportDue) rig_.CheckRefusedForReport(kOnl, ecr);
  return result;
}

int LinkCommands::SendInlData(int ecr, std::string_view text) {
  const int result = link_.SendInlData(ecr, text);
  if (result == nc::kLinkReportDue) rig_.CheckRefusedForReport(kInl, ecr);
  return result;
}

// ---- the commands of the sequences ---------------------------------------------------------

// Who holds which SET (the SETs played, 1, 5, 9, 11 and 13, can all be held at once on a
// register, each by one client), so that requests and blocks are drawn where they take effect.
struct Model {
  std::map<std::pair<int, int>, int> owners;  // (register, SET) -> client

  bool InUse(int ecr) const {
    return std::any_of(owners.begin(), owners.end(), [&](const auto& held) { return held.first.first == ecr; });
  }
  int Owner(int ecr, int setNo) const {
    const auto held = owners.find({ecr, setNo});
    return held == owners.end() ? 0 : held->second;
  }
  // The held SETs among `sets`, as (register, SET).
  std::vector<std::pair<int, int>> Held(std::initializer_list<int> sets) const {
    std::vector<std::pair<int, int>> found;
    for (const auto& [at, client] : owners) {
      if (std::find(sets.begin(), sets.end(), at.second) != sets.end()) found.push_back(at);
    }
    return found;
  }
  std::vector<int> RegistersInUse() const {
    std::vector<int> found;
    for (int ecr = 1; ecr <= kRegisters; ++ecr) {
      if (InUse(ecr)) found.push_back(ecr);
    }
    return found;
  }
};
using Step = rc::state::Command<Model, Rig>;

// Each sequence starts with SETs held on both registers (and is free to close them).
Model Holdings() {
  Model model;
  model.owners = {{{1, 9}, 1}, {{1, 13}, 1}, {{1, 5}, 2}, {{2, 11}, 2}, {{2, 5}, 3}, {{2, 1}, 3}};
  return model;
}

template <typename T>
T AnyOf(const std::vector<T>& choices) {
  if (choices.empty()) RC_DISCARD("nothing to choose from");
  return *rc::gen::elementOf(choices);
}

// One step; `run` plays it, then the controller sends what is due and the state invariants
// are checked.
struct Played : Step {
  void run(const Model&, Rig& rig) const override {
    Play(rig);
    rig.SendDue();
    rig.CheckState();
    RC_ASSERT(rig.Violations() == std::string());
  }
  virtual void Play(Rig& rig) const = 0;
};

// A request of the client that holds the SET.
struct OwnersStep : Played {
  OwnersStep(const Model& model, std::initializer_list<int> sets) {
    std::tie(ecr, setNo) = AnyOf(model.Held(sets));
    client = model.Owner(ecr, setNo);
  }
  void checkPreconditions(const Model& model) const override { RC_PRE(model.Owner(ecr, setNo) == client); }
  int ecr = 0, setNo = 0, client = 0;
};

// A register's block: only registers that a client uses are in the controller's mask.
struct RegisterStep : Played {
  explicit RegisterStep(const Model& model) : ecr(AnyOf(model.RegistersInUse())) {}
  void checkPreconditions(const Model& model) const override { RC_PRE(model.InUse(ecr)); }
  int ecr = 0;
};

struct OpenSet : Played {
  explicit OpenSet(const Model& model) {
    ecr = *rc::gen::inRange(1, kRegisters + 1);
    setNo = *rc::gen::element(1, 5, 9, 11, 13);
    if (model.Owner(ecr, setNo) != 0) RC_DISCARD("held");
  }
  void checkPreconditions(const Model& model) const override { RC_PRE(model.Owner(ecr, setNo) == 0); }
  void apply(Model& model) const override { model.owners[{ecr, setNo}] = client; }
  void Play(Rig& rig) const override { rig.Open(client, ecr, setNo); }
  void show(std::ostream& os) const override { os << "client " << client << " opens SET " << setNo << " of " << ecr; }
  int client = *rc::gen::inRange(1, kClients + 1), ecr = 0, setNo = 0;
};

struct CloseSet : OwnersStep {
  explicit CloseSet(const Model& model) : OwnersStep(model, {1, 5, 9, 11, 13}) {}
  void apply(Model& model) const override { model.owners.erase({ecr, setNo}); }
  void Play(Rig& rig) const override { rig.Close(client, ecr, setNo); }
  void show(std::ostream& os) const override { os << "client " << client << " closes SET " << setNo << " of " << ecr; }
};

struct Disconnect : Played {
  void apply(Model& model) const override {
    std::erase_if(model.owners, [&](const auto& held) { return held.second == client; });
  }
  void Play(Rig& rig) const override { rig.Disconnect(client); }
  void show(std::ostream& os) const override { os << "client " << client << " goes"; }
  int client = *rc::gen::inRange(1, kClients + 1);
};

struct AnswerOffer : OwnersStep {
  explicit AnswerOffer(const Model& model) : OwnersStep(model, {9, 11}) {}
  void Play(Rig& rig) const override { rig.Tagged(client, ecr, setNo, 4); }
  void show(std::ostream& os) const override { os << "client " << client << " answers on SET " << setNo << " of " << ecr; }
};

struct QueueCommand : OwnersStep {
  explicit QueueCommand(const Model& model) : OwnersStep(model, {5}) {}
  void Play(Rig& rig) const override { rig.Tagged(client, ecr, 5, command); }
  void show(std::ostream& os) const override {
    os << "client " << client << " queues SET 5 command " << command << " for " << ecr;
  }
  int command = *rc::gen::element(4, 9);
};

// A hold (6), a finish (5) or a cancel (3) on a SET that offers take answers on, or a cancel
// on SET 5.
struct PlainRequest : OwnersStep {
  explicit PlainRequest(const Model& model) : OwnersStep(model, {5, 9, 11}) {
    command = setNo == 5 ? 3 : *rc::gen::element(3, 5, 6);
  }
  void Play(Rig& rig) const override { rig.Plain(client, ecr, setNo, command); }
  void show(std::ostream& os) const override {
    os << "client " << client << " sends " << command << " on SET " << setNo << " of " << ecr;
  }
  int command = 0;
};

struct QueueSale : OwnersStep {
  explicit QueueSale(const Model& model) : OwnersStep(model, {13}) {}
  void Play(Rig& rig) const override { rig.Tagged(client, ecr, 13, 4); }
  void show(std::ostream& os) const override { os << "client " << client << " queues a sale line for " << ecr; }
};

struct SaleBlock : RegisterStep {
  using RegisterStep::RegisterStep;
  void Play(Rig& rig) const override { rig.AskForSale(ecr); }
  void show(std::ostream& os) const override { os << ecr << " asks for its next sale line"; }
};

struct Announce : RegisterStep {
  using RegisterStep::RegisterStep;
  void Play(Rig& rig) const override { rig.Announce(ecr); }
  void show(std::ostream& os) const override { os << ecr << " announces InLine"; }
};

// Mostly to a SET that a client holds.
struct OfferBlock : RegisterStep {
  explicit OfferBlock(const Model& model) : RegisterStep(model) {
    const bool held9 = model.Owner(ecr, 9) != 0, held11 = model.Owner(ecr, 11) != 0;
    setNo = held9 != held11 && *rc::gen::inRange(0, 4) != 0 ? (held9 ? 9 : 11) : *rc::gen::element(9, 11);
  }
  void Play(Rig& rig) const override { rig.Offer(ecr, setNo, repeat); }
  void show(std::ostream& os) const override {
    os << ecr << (repeat ? " repeats its offer" : " offers") << " to SET " << setNo;
  }
  int setNo = 0;
  bool repeat = *rc::gen::arbitrary<bool>();
};

struct NotifyBlock : RegisterStep {
  using RegisterStep::RegisterStep;
  void Play(Rig& rig) const override { rig.Notify(ecr); }
  void show(std::ostream& os) const override { os << ecr << " sends a notification"; }
};

struct RefusedBlock : RegisterStep {
  using RegisterStep::RegisterStep;
  void Play(Rig& rig) const override { rig.Block(ecr, "9;9;0;r;", status); }
  void show(std::ostream& os) const override { os << ecr << "'s block refused with " << int{status}; }
  std::uint8_t status = *rc::gen::element<std::uint8_t>(252, 8, 99);
};

// The oldest undecided report of a kind: ACK, or a refusal (8, 20 and 245 of the table, 99 of
// none).
struct ReportStep : Played {
  void Play(Rig& rig) const override {
    static constexpr std::uint8_t kStatus[] = {1, 1, 8, 20, 245, 99};
    rig.Report(code, kStatus[outcome], false);
  }
  void show(std::ostream& os) const override {
    static constexpr const char* kText[] = {"ACK", "ACK", "NAK 8", "NAK 20", "NAK 245", "NAK 99"};
    os << (code == kOnl ? "answer" : "InLine") << " report " << kText[outcome];
  }
  std::uint8_t code = *rc::gen::element(kOnl, kInl);
  int outcome = *rc::gen::inRange(0, 6);
};

struct LoseReport : Played {
  void Play(Rig& rig) const override { rig.Report(code, 1, true); }
  void show(std::ostream& os) const override { os << (code == kOnl ? "answer" : "InLine") << " report lost"; }
  std::uint8_t code = *rc::gen::element(kOnl, kInl);
};

struct LoseIdentifyAnswer : Played {
  void Play(Rig& rig) const override { rig.LoseIdentifyAnswer(); }
  void show(std::ostream& os) const override { os << "an identify answer lost"; }
};

// A report that no write awaits: ACK or a refusal.
struct StrayReport : Played {
  void Play(Rig& rig) const override { rig.StrayReport(code, status); }
  void show(std::ostream& os) const override {
    os << (code == kOnl ? "answer" : "InLine") << " report " << int{status} << " that no write awaits";
  }
  std::uint8_t code = *rc::gen::element(kOnl, kInl);
  std::uint8_t status = *rc::gen::element<std::uint8_t>(1, 8, 20);
};

// Noise (an end byte alone) or a frame of no meaning.
struct Noise : Played {
  void Play(Rig& rig) const override { rig.Raw(unknownCode ? Frame(0x55, 1, kAck) : std::string(1, '\0')); }
  void show(std::ostream& os) const override { os << (unknownCode ? "a frame of no meaning" : "noise"); }
  bool unknownCode = *rc::gen::arbitrary<bool>();
};

struct Time : Played {
  void Play(Rig& rig) const override { rig.AdvanceClock(ms); }
  void show(std::ostream& os) const override { os << ms << " ms pass"; }
  std::uint32_t ms = *rc::gen::element<std::uint32_t>(200, 2000, nc::DeliveryReport::kReportWaitMs);
};

RC_GTEST_PROP(NcExchangeProperty, EveryReplyIsItsOwnWritesAndNothingIsWrittenTwice, ()) {
  Rig rig;
  const Model start = Holdings();
  for (const auto& [at, client] : start.owners) rig.Open(client, at.first, at.second);
  rc::state::check(start, rig,
                   rc::state::gen::execOneOfWithArgs<OpenSet, OpenSet, CloseSet, Disconnect, AnswerOffer, AnswerOffer,
                                                     QueueCommand, QueueCommand, QueueSale, PlainRequest, Announce,
                                                     Announce, SaleBlock,
                                                     OfferBlock, OfferBlock, OfferBlock, NotifyBlock, ReportStep,
                                                     ReportStep, ReportStep, LoseReport, LoseIdentifyAnswer,
                                                     StrayReport, RefusedBlock, Noise, Time>());
  rig.Drain();
  rig.CheckState();
  rig.CheckEveryWrittenRequestAnswered();
  rig.Classify();
  RC_ASSERT(rig.Violations() == std::string());
}

}  // namespace
}  // namespace ecr::test
