#include "netcontroller/requests/controller_events.h"

#include <cstdio>
#include <optional>

#include "netcontroller/link/nc_error.h"
#include "netcontroller/link/net_controller.h"
#include "netcontroller/requests/block_fields.h"
#include "netcontroller/requests/request_tables.h"
#include "server/client_message.h"

namespace ecr::nc {

namespace {

constexpr std::uint8_t kKeepAliveTicks = 15;
constexpr int kLetterSet = ReplyContext::kInLineSet;

// The kind of write whose delivery report raised the event being handled, if any.
std::optional<WriteKind> KindInHand(NcExchangeContext& context) {
  switch (context.Controller().ReportInHand()) {
    case kOnLineReportCode: return WriteKind::OnLine;
    case kInLineReportCode: return WriteKind::InLine;
    default: return std::nullopt;
  }
}

// The report of register ecr's write of this kind (its delivery, its refusal, or its giving
// up) answers the reply owed for it with errorCode. The register's exchange ends, unless the
// register has begun its next one since: that one goes on.
void ReportAnswers(NcExchangeContext& context, int ecr, WriteKind kind, std::uint8_t errorCode) {
  const bool exchangeOver = context.OwesReplyFor(ecr, kind) && context.OwedReply(ecr, kind).ExchangeOver;
  context.AnswerOwedReply(ecr, kind, errorCode);
  if (exchangeOver) return;
  context.ClearPendingExchangeOf(ecr);
  context.EndExchange(ecr);
}

// The reply owed in the register's current exchange, if any (a reply still owed for an
// exchange before is not this exchange's: its own report or answer settles it).
std::optional<WriteKind> CurrentOwedKind(const NcExchangeContext& context, int ecr) {
  for (const WriteKind kind : {WriteKind::OnLine, WriteKind::InLine}) {
    if (context.OwesReplyFor(ecr, kind) && !context.Session(ecr).Owed(kind).ExchangeOver) return kind;
  }
  return std::nullopt;
}

// An InLine exchange of the register is over.
void LeaveInLineState(EcrSession& session) {
  if (session.ExchangeState >= esInlRx && session.ExchangeState <= esInlExec) session.ExchangeState = esNone;
}

// The controller refused a block of the register, which ends its exchange, an offer
// included. Its InLine answer, if its data was delivered, cannot come any more: the client
// hears that no answer followed, and the command is not sent again.
void BlockRefused(NcExchangeContext& context, int ecr) {
  LeaveInLineState(context.Session(ecr));
  if (context.OwesReplyFor(ecr, WriteKind::InLine) && context.OwedReply(ecr, WriteKind::InLine).Delivered) {
    context.AnswerOwedReply(ecr, WriteKind::InLine, erNoBegAfterNak);
  }
  context.ClearPendingExchangeOf(ecr);
  context.EndExchange(ecr);
}

void LogUnsent(NcExchangeContext& context, int ecr, const char* suffix) {
  context.Log("Неизпратен блок към каса " + std::to_string(ecr) + suffix);
}

void LogUnknown(NcExchangeContext& context, std::uint8_t errC, int extErr) {
  char text[64];
  std::snprintf(text, sizeof text, "Unknown Error: %d Ext: %d", static_cast<int>(errC), extErr);
  context.Log(text);
}

// The controller refused the register's InLine data: the SET 5 request stays queued for the
// next announcement (the register never got it). The data's exchange ends; one the register
// has begun since goes on.
void KeepInLineRequest(NcExchangeContext& context, int ecr) {
  EcrSession& session = context.Session(ecr);
  const bool exchangeOver =
      context.OwesReplyFor(ecr, WriteKind::InLine) && session.Owed(WriteKind::InLine).ExchangeOver;
  context.DropInLineReplyOf(ecr);
  if (exchangeOver) return;
  context.EndExchange(ecr);
  LeaveInLineState(session);
}

void ActOnControllerError(NcExchangeContext& context, int ecr, std::uint8_t errC, int extErr) {
  if (!IsSessionEcr(ecr)) {
    context.EndExchange(ecr);
    return;
  }
  EcrSession& session = context.Session(ecr);
  const std::optional<WriteKind> inHand = KindInHand(context);
  switch (errC) {
    case 150: return ReportAnswers(context, ecr, WriteKind::OnLine, erBadLine);
    case 151: return ReportAnswers(context, ecr, WriteKind::OnLine, erNoAckNak);
    case 152:
      LogUnsent(context, ecr, " - препълване RxBuff на NC");
      return ReportAnswers(context, ecr, WriteKind::OnLine, erOverrun);
    case 157:
      LogUnsent(context, ecr, " - препълване RxBuff на NC");
      return ReportAnswers(context, ecr, WriteKind::InLine, erOverrun);
    case 153:
      LogUnsent(context, ecr, " - няма текуща");
      return ReportAnswers(context, ecr, WriteKind::OnLine, erEcrInSession);
    case 158:
      LogUnsent(context, ecr, " - няма текуща");
      return ReportAnswers(context, ecr, WriteKind::InLine, erEcrInSession);
    case 154:
      LogUnsent(context, ecr, " - Работа само с PC");
      return ReportAnswers(context, ecr, WriteKind::OnLine, erEcrInSession);
    case 159:
      LogUnsent(context, ecr, " - Работа само с PC");
      return ReportAnswers(context, ecr, WriteKind::InLine, erEcrInSession);
    case 155:
    case 156: return KeepInLineRequest(context, ecr);
    case 160:
      LogUnsent(context, ecr, " - неполучен END_x от PC");
      return ReportAnswers(context, ecr, WriteKind::OnLine, erBadLine);
    case 165:
      if (session.ExchangeState != esNone) {
        char text[96];
        std::snprintf(text, sizeof text, "No block after NAK. Ecr: %d State: %s ", ecr,
                      ExchangeStateName(session.ExchangeState).c_str());
        context.Log(text);
        // The client whose request was under way hears that no block followed; also once
        // the InLine data's delivery was reported: the register has its command, and sending
        // it again could run it twice.
        if (const auto kind = CurrentOwedKind(context, ecr)) context.FailOwedReply(ecr, *kind, erNoBegAfterNak);
      }
      return BlockRefused(context, ecr);
    case 169:
      session.ExchangeState = esNone;
      return context.EndExchange(ecr);
    case 161:
    case 162:
    case 163:
    case 164: return BlockRefused(context, ecr);
    case 166:
    case 168: return context.EndExchange(ecr);
    case kNcErrorUnknownStatus:
      LogUnknown(context, errC, extErr);
      // A refused report answers its own write's client: the line failed.
      if (inHand) return ReportAnswers(context, ecr, *inHand, erOther);
      return BlockRefused(context, ecr);
    case kNcErrorUnexpectedReport:
      if (extErr == kNcExtErrReportGivenUp && inHand) {
        // Nobody knows whether the register got the text: its client hears that the
        // controller confirmed nothing.
        context.Log("No delivery report. Ecr: " + std::to_string(ecr));
        return ReportAnswers(context, ecr, *inHand, erNoAckNak);
      }
      [[fallthrough]];
    default: LogUnknown(context, errC, extErr); return context.EndExchange(ecr);
  }
}

// The SET 5 request goes to the announcing register as InLine data, once. While the
// register's earlier InLine data is out the announcement cannot be served: until that data's
// report it waits (a refusal puts that request back in its queue), and once the data was
// delivered the register's next block is its answer. While the link awaits other InLine
// data's report the announcement waits, open, for the link.
void ServeAnnouncement(NcExchangeContext& context, int ecr);

void ServeWaitingAnnouncement(NcExchangeContext& context, const WaitingWrite& waiting) {
  ServeAnnouncement(context, waiting.Ecr);
}

void ServeAnnouncement(NcExchangeContext& context, int ecr) {
  EcrSession& session = context.Session(ecr);
  SetSlot& slot = session.Slot(kLetterSet);
  const WaitingWrite waiting{static_cast<std::uint8_t>(ecr), kLetterSet, {}, ServeWaitingAnnouncement};
  const bool earlierDataOut = context.OwesReplyFor(ecr, WriteKind::InLine);
  if (slot.Command == 0 || (earlierDataOut && session.Owed(WriteKind::InLine).Delivered)) {
    session.ExchangeState = esNone;
    context.EndExchange(ecr);
    return;
  }
  if (earlierDataOut) {
    context.Waiting = waiting;
    return;
  }
  const std::string data = std::string(1, InLineLetter(slot.Command)) + slot.Payload;
  switch (context.Controller().SendInlData(ecr, data)) {
    case TNetController::kDone:
      context.SetReplyContext(WriteKind::InLine, kLetterSet, slot.Command, ecr, slot.Payload, slot.RequestNo);
      return;
    case TNetController::kReportDue: context.Waiting = waiting; return;
    case TNetController::kTooLong:
      // The link refuses to send it, so no delivery report would ever answer the client.
      context.AnswerReply(context.MakeReplyContext(kLetterSet, slot.Command, ecr, slot.Payload, slot.RequestNo),
                          erBufferOverflow);
      break;
    default: break;  // the link no longer holds the announcement: the register asks again
  }
  session.ExchangeState = esNone;
  context.EndExchange(ecr);
}

}  // namespace

void HandleEcrInLine(NcExchangeContext& context, int ecr, const std::string& block) {
  if (!IsSessionEcr(ecr)) {
    context.EndExchange(ecr);
    return;
  }
  context.NewExchangeOf(ecr);
  EcrSession& session = context.Session(ecr);
  session.ExchangeState = esInlRx;
  NcEcrSettings& counters = context.Settings().Ecr(ecr);
  counters.SerialNumber = static_cast<std::int32_t>(FieldInteger(block, 1));
  counters.Mode = 1;
  counters.KeepAlive = kKeepAliveTicks;
  ServeAnnouncement(context, ecr);
}

void HandleInlSended(NcExchangeContext& context, int ecr) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnInlSended ECR:" + std::to_string(ecr));
    context.EndExchange(ecr);
  } else if (context.OwesReplyFor(ecr, WriteKind::InLine)) {
    ReplyContext& owed = context.OwedReply(ecr, WriteKind::InLine);
    owed.Delivered = true;
    // An exchange that the register has begun since keeps its own state.
    if (!owed.ExchangeOver) context.Session(ecr).ExchangeState = esInlDelivered;
  }
  // The data's reply now awaits the register's answer, not the link.
  context.ReportHandled();
}

void HandleInlReceived(NcExchangeContext& context, int ecr, const std::string& answer) {
  if (!IsSessionEcr(ecr)) {
    context.EndExchange(ecr);
    return;
  }
  context.Session(ecr).ExchangeState = esNone;
  // Only the reply owed for this register's InLine data, once its delivery was reported,
  // takes the answer (an answer before that is of data given up before); the slot empties
  // only while it still holds the request that went out.
  if (context.OwesReplyFor(ecr, WriteKind::InLine) && context.OwedReply(ecr, WriteKind::InLine).Delivered) {
    context.OwedReply(ecr, WriteKind::InLine).Payload = answer;
    context.AnswerOwedReply(ecr, WriteKind::InLine, answer == "E" ? erEcrError : erNoError);
  }
  context.ClearPendingExchange();
  // The link has left every other exchange for this answer.
  context.Waiting = {};
  context.EndExchange(ecr);
}

void HandleOnlSended(NcExchangeContext& context, int ecr) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnOnlSended ECR:" + std::to_string(ecr));
    context.EndExchange(ecr);
  } else {
    ReportAnswers(context, ecr, WriteKind::OnLine, erNoError);
  }
  context.ReportHandled();
}

void HandleControllerError(NcExchangeContext& context, int ecr, std::uint8_t errC, int extErr) {
  ActOnControllerError(context, ecr, errC, extErr);
  // Refusals and the giving up are reports too; any other error leaves the reports due.
  context.ReportHandled();
}

}  // namespace ecr::nc
