// The register's fiscal questions (a sale, a print, a receipt line): the request that the
// application queued on SET 13 becomes the register's OnLine answer, or the register is
// released, or the request is refused; the application's reply comes in two steps (see
// the course below).

#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

#include "foundation/fields.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/decimal_integer.h"
#include "server/payload_checks.h"
#include "server/receipt_ref.h"
#include "server/request_engine.h"

namespace ecr {

namespace {

constexpr std::uint8_t kFiscalSet = 13;

// Which counters a reply names, in the order they are taken (the order matters where the
// id closes: the sequence is taken before, so the reply carries the closing id's last one).
enum class Counting {
  SeqId,     // sequence taken, id in force
  CurId,     // sequence read, id in force
  SeqClose,  // sequence taken, then the id closed
  IdSeq,     // id in force, then the sequence taken
  IdCur,     // id in force, sequence read
};

struct Counters {
  std::int32_t id = 0;
  std::uint16_t sequence = 0;
};

Counters Take(ExchangeContext& context, int logNo, Counting counting) {
  Counters c;
  switch (counting) {
    case Counting::SeqId:
      c.sequence = context.NextEcrSequence(logNo);
      c.id = context.EcrNotifyId(logNo);
      break;
    case Counting::CurId:
      c.sequence = context.CurrentEcrSequence(logNo);
      c.id = context.EcrNotifyId(logNo);
      break;
    case Counting::SeqClose:
      c.sequence = context.NextEcrSequence(logNo);
      c.id = context.NewEcrNotifyId(logNo);
      break;
    case Counting::IdSeq:
      c.id = context.EcrNotifyId(logNo);
      c.sequence = context.NextEcrSequence(logNo);
      break;
    case Counting::IdCur:
      c.id = context.EcrNotifyId(logNo);
      c.sequence = context.CurrentEcrSequence(logNo);
      break;
  }
  return c;
}

std::string CountersText(const Counters& c) {
  char text[32];
  std::snprintf(text, sizeof text, "%d;%d;", static_cast<int>(c.sequence), static_cast<int>(c.id));
  return text;
}

void CutToShortString(std::string& text) {
  if (text.size() > kMaxMessageLength) text.resize(kMaxMessageLength);
}

// The register message that asked, named in the reply's ReceiptRef. A serial number or
// message number that is no integer (or does not fit) is named as 0, and logged.
ReceiptRef ReferenceOf(const ExchangeContext& context, int logNo, const std::string& block, const Counters& c) {
  ReceiptRef ref;
  ref.NotifyId = c.id;
  ref.Sequence = c.sequence;
  const auto serial = DecimalIntegerIn(GetField(block, 1), std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max());
  const auto number = DecimalIntegerIn(GetField(block, 2), 0, 255);
  if (!serial || !number) {
    context.Log("Receipt reference filled with 0 for ECR " + std::to_string(logNo) + "  Block:" + block);
  }
  ref.SerialNumber = static_cast<std::int32_t>(serial.value_or(0));
  ref.MessageNumber = static_cast<std::uint8_t>(number.value_or(0));
  return ref;
}

std::string HexByte(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

// What an Ask exchange does with the pending request.
struct AskStep {
  enum class Action { Release, Reject, Answer } action = Action::Release;
  std::uint8_t rejectCode = 0;
  std::string answer;          // the OnLine answer text
  Counting counting = Counting::SeqId;
  // With the old fiscal-printer option the reply's Payload starts with the request as it
  // was queued (before a check rewrote it); otherwise with nothing.
  bool headIsQueued = false;
};

AskStep Release() { return {}; }
AskStep Reject(std::uint8_t code) {
  AskStep step;
  step.action = AskStep::Action::Reject;
  step.rejectCode = code;
  step.counting = Counting::CurId;
  return step;
}
AskStep Answer(std::string text, Counting counting, bool headIsQueued = false) {
  AskStep step;
  step.action = AskStep::Action::Answer;
  step.answer = std::move(text);
  step.counting = counting;
  step.headIsQueued = headIsQueued;
  return step;
}

// Hands the answer for the register to the polling thread, with the reply context stored.
// When the thread takes no answer any more (its wait ended an instant ago), the request
// goes unserved: its owner hears so at once, and the exchange is over.
bool HandOver(ExchangeContext& context, ClientSender& server, PollingControl* poller, std::string_view answer) {
  if (poller != nullptr && poller->SetOnLineAnswer(answer)) return true;
  context.ClearCurrentExchange();
  context.AnswerCurrentExchange(server, erTooLate);
  return false;
}

bool IsCop(std::uint8_t cop, std::initializer_list<int> cops) {
  for (int one : cops) {
    if (cop == one) return true;
  }
  return false;
}

}  // namespace

namespace {

// The common course. `plan` looks at the pending request (and may rewrite the SET's
// pending Payload); `name` is the exchange's name for the log. True when the request was
// answered (handed to the line), false when it was released or refused.
template <typename Plan>
bool RunAsk(ExchangeContext& context, ClientSender& server, PollingControl* poller, int logNo,
            const std::string& block, const char* name, bool printHead, Plan plan) {
  TSetDescr& set = context.EcrTable.At(logNo).Set(kFiscalSet);
  const std::uint8_t cop = set.Command;
  const std::string queued = set.Payload;
  if (cop != 0 && !IsCop(cop, {4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15})) {
    context.Log(std::string(name) + ": Unknown COP: $" + HexByte(cop));
  }
  AskStep step = cop == 0 ? Release() : plan(cop, set.Payload);
  // An answer that the line would cut never goes to the register.
  if (step.action == AskStep::Action::Answer && !ExchangeContext::FitsTheLine(poller, step.answer.size())) {
    step = Reject(erBufferOverflow);
  }
  if (step.action == AskStep::Action::Release) {
    if (poller != nullptr) poller->CancelExchange();
    return false;
  }
  if (step.action == AskStep::Action::Reject && poller != nullptr) poller->CancelExchange();
  const Counters counters = Take(context, logNo, step.counting);
  if (context.OldFPMode) {
    const std::string head = printHead || step.headIsQueued ? queued : std::string();
    std::string payload =
        head + GetField(block, 1) + ";" + GetField(block, 2) + ";" + CountersText(counters);
    CutToShortString(payload);
    context.SetExchange(kFiscalSet, cop, static_cast<std::uint8_t>(logNo), payload, {});
  } else {
    context.SetExchange(kFiscalSet, cop, static_cast<std::uint8_t>(logNo), set.Payload,
                        ReferenceOf(context, logNo, block, counters).Encode());
  }
  if (step.action == AskStep::Action::Reject) {
    context.AnswerCurrentExchange(server, step.rejectCode);
    return false;
  }
  CutToShortString(step.answer);
  if (!HandOver(context, server, poller, step.answer)) return false;
  context.WaitRes.Deferred = 1;
  context.WaitRes.NextCommand = cmdAnswerSent;
  set.State = kStateSent;
  return true;
}

}  // namespace

void RequestEngine::AskFPSell(ClientSender& server, PollingControl* poller, int LogNo, const std::string& block) {
  const auto plan = [&](std::uint8_t cop, std::string& P) {
    switch (cop) {
      case 4: {
        if (context_.OldFPMode) CheckSell(P, context_.Logger());
        return Answer(P, Counting::SeqId, true);
      }
      case 5: return Release();
      case 6:
        P = "0;;;;;;2;0;0;";
        return Answer(P, Counting::SeqClose);
      case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 15: return Reject(erSyntax);
      default: return Reject(erUnknownCommand);
    }
  };
  RunAsk(context_, server, poller, LogNo, block, "AskFPSell", false, plan);
}

void RequestEngine::AskFPPrint(ClientSender& server, PollingControl* poller, int LogNo, const std::string& block) {
  const auto plan = [&](std::uint8_t cop, std::string& P) {
    switch (cop) {
      case 4: return Release();
      case 5: return Answer(P, Counting::SeqId);
      case 6: return Release();
      case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 15: return Reject(erSyntax);
      default: return Reject(erUnknownCommand);
    }
  };
  RunAsk(context_, server, poller, LogNo, block, "AskFPPrint", true, plan);
}

void RequestEngine::AskRec(ClientSender& server, PollingControl* poller, int LogNo, const std::string& block) {
  TSetDescr& set = context_.EcrTable.At(LogNo).Set(kFiscalSet);
  if (set.Command == 12) {
    // The register reports a value in field 3 and is answered by it; the reply names the
    // register's own fields, and nothing is held back.
    std::string fields = block;
    const std::string reported = CutField(fields, 3);
    const std::optional<std::int64_t> value = reported.empty() ? std::optional<std::int64_t>(0)
                                                               : DecimalInteger(reported);
    const Counters counters = Take(context_, LogNo, Counting::IdCur);
    if (value && (*value < 0 || *value > 255)) {
      context_.Log("AskRec: Bad field 3 for COP 12: " + reported + "  Block:" + block);
      if (poller != nullptr) poller->CancelExchange();
      context_.SetExchange(kFiscalSet, 12, static_cast<std::uint8_t>(LogNo), set.Payload,
                           context_.OldFPMode ? std::string() : ReferenceOf(context_, LogNo, block, counters).Encode());
      context_.AnswerCurrentExchange(server, erSyntax);
      return;
    }
    const std::int64_t number = value.value_or(0);
    InsertField(fields, std::to_string(number), 3);
    if (context_.OldFPMode) {
      std::string payload = fields + CountersText(counters);
      CutToShortString(payload);
      context_.SetExchange(kFiscalSet, 12, static_cast<std::uint8_t>(LogNo), payload, {});
    } else {
      context_.SetExchange(kFiscalSet, 12, static_cast<std::uint8_t>(LogNo), fields,
                           ReferenceOf(context_, LogNo, block, counters).Encode());
    }
    if (!HandOver(context_, server, poller, number == 0 ? "F;;;;;;" : "H;;;;;;")) return;
    set.State = kStateSent;
    return;
  }

  const bool old = context_.OldFPMode;
  const auto plan = [&](std::uint8_t cop, std::string& P) {
    switch (cop) {
      case 4:
        if (old) CheckSell(P, context_.Logger());
        return Answer("L;" + P, Counting::SeqId, true);
      case 5: return Answer("X;" + P, Counting::SeqId);
      case 6:
        if (old) CheckPay(P, context_.Logger());
        if (P.empty()) return Answer("E;0;;;;;", Counting::SeqClose, true);
        return Answer("E;" + P, Counting::IdSeq, true);
      case 8:
        if (old) CheckPercRopo(P, context_.Logger());
        return Answer("C;" + P, Counting::IdSeq, true);
      case 9:
        if (old) CheckPercRopo(P, context_.Logger());
        return Answer("I;" + P, Counting::IdSeq, true);
      case 10: return Answer("H;;;;;;", Counting::CurId);
      case 11: return Answer("F;;;;;;", Counting::CurId);
      case 13: return Answer("Z;" + P, Counting::SeqId);
      case 14: return Answer("A;" + P, Counting::SeqId);
      case 15: return Answer("Y;" + P, Counting::SeqId);
      default: return Reject(erUnknownCommand);
    }
  };
  RunAsk(context_, server, poller, LogNo, block, "AskRec", false, plan);
  if (set.Command == 11 && context_.WaitRes.SetNo == kFiscalSet && context_.WaitRes.Command == 11 &&
      context_.WaitRes.Deferred == 1) {
    // The owner hears at once that the answer is on its way; only the send result follows.
    context_.WaitRes.Deferred = 0;
    context_.WaitRes.Command = cmdAnswerSent;
    context_.AnswerCurrentExchange(server, erNoError);
    context_.WaitRes.Command = 11;
  }
}

}  // namespace ecr
