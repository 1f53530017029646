#include "netcontroller/requests/controller_events.h"

#include <cstdio>

#include "netcontroller/link/nc_error.h"
#include "netcontroller/link/net_controller.h"
#include "netcontroller/requests/block_fields.h"
#include "netcontroller/requests/request_tables.h"
#include "server/client_message.h"

namespace ecr::nc {

namespace {

constexpr std::uint8_t kKeepAliveTicks = 15;
constexpr int kLetterSet = ReplyContext::kInLineSet;

// The report of what was last written for ecr (its delivery, its refusal, or its giving up)
// answers the reply owed for it with errorCode. The register's exchange ends, unless the
// register has begun its next one since: that one goes on.
void ReportAnswers(NcExchangeContext& context, int ecr, std::uint8_t errorCode) {
  const bool exchangeOver = context.OwesReplyFor(ecr) && context.OwedReply(ecr).ExchangeOver;
  context.AnswerOwedReply(ecr, errorCode);
  if (exchangeOver) return;
  context.ClearPendingExchangeOf(ecr);
  context.EndExchange(ecr);
}

// The register's exchange failed: the client whose request was under way in it hears
// errorCode, and the exchange ends. A reply still owed for an exchange before is not this
// exchange's: its own report answers it.
void FailExchange(NcExchangeContext& context, int ecr, std::uint8_t errorCode) {
  if (context.OwesReplyFor(ecr) && !context.OwedReply(ecr).ExchangeOver) context.AnswerOwedReply(ecr, errorCode);
  context.ClearPendingExchangeOf(ecr);
  context.EndExchange(ecr);
}

void LogUnsent(NcExchangeContext& context, int ecr, const char* suffix) {
  context.Log("Неизпратен блок към каса " + std::to_string(ecr) + suffix);
}

bool OwesInLineReplyOfEarlierExchange(const NcExchangeContext& context, int ecr) {
  return context.OwesInLineReplyFor(ecr) && context.Session(ecr).Owed.ExchangeOver;
}

// The register's InLine exchange ended before its answer: the SET 5 request stays queued
// for the next announcement. An exchange the register has begun since goes on.
void KeepInLineRequest(NcExchangeContext& context, int ecr) {
  const bool exchangeOver = OwesInLineReplyOfEarlierExchange(context, ecr);
  context.DropInLineReplyOf(ecr);
  if (exchangeOver) return;
  context.EndExchange(ecr);
  context.Session(ecr).ExchangeState = esNone;
}

void ActOnControllerError(NcExchangeContext& context, int ecr, std::uint8_t errC, int extErr) {
  if (!IsSessionEcr(ecr)) {
    context.EndExchange(ecr);
    return;
  }
  EcrSession& session = context.Session(ecr);
  switch (errC) {
    case 150: return ReportAnswers(context, ecr, erBadLine);
    case 151: return ReportAnswers(context, ecr, erNoAckNak);
    case 152:
    case 157:
      LogUnsent(context, ecr, " - препълване RxBuff на NC");
      return ReportAnswers(context, ecr, erOverrun);
    case 153:
    case 158:
      LogUnsent(context, ecr, " - няма текуща");
      return ReportAnswers(context, ecr, erEcrInSession);
    case 154:
    case 159:
      LogUnsent(context, ecr, " - Работа само с PC");
      return ReportAnswers(context, ecr, erEcrInSession);
    case 155:
    case 156:
      if (session.ExchangeState >= esBuffRx && !OwesInLineReplyOfEarlierExchange(context, ecr)) {
        return ReportAnswers(context, ecr, erBadLine);
      }
      return KeepInLineRequest(context, ecr);
    case 160:
      LogUnsent(context, ecr, " - неполучен END_x от PC");
      return ReportAnswers(context, ecr, erBadLine);
    case 165:
      if (session.ExchangeState == esNone) return context.EndExchange(ecr);
      if (session.ExchangeState == esInlDelivered) return KeepInLineRequest(context, ecr);
      {
        char text[96];
        std::snprintf(text, sizeof text, "No block after NAK. Ecr: %d State: %s ", ecr,
                      ExchangeStateName(session.ExchangeState).c_str());
        context.Log(text);
      }
      return FailExchange(context, ecr, erNoBegAfterNak);
    case 169:
      session.ExchangeState = esNone;
      return context.EndExchange(ecr);
    case 161:
    case 162:
    case 163:
    case 164:
      // The register's block was refused: the exchange it began, an offer included, is over.
      context.ClearPendingExchangeOf(ecr);
      return context.EndExchange(ecr);
    case 166:
    case 168: return context.EndExchange(ecr);
    case kNcErrorUnexpectedReport:
      if (extErr == kNcExtErrReportGivenUp) {
        // Nobody knows whether the register got the text: its client hears that the
        // controller confirmed nothing.
        context.Log("No delivery report. Ecr: " + std::to_string(ecr));
        return ReportAnswers(context, ecr, erNoAckNak);
      }
      [[fallthrough]];
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Unknown Error: %d Ext: %d", static_cast<int>(errC), extErr);
      context.Log(text);
      return context.EndExchange(ecr);
    }
  }
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

  SetSlot& slot = session.Slot(kLetterSet);
  if (slot.Command == 0) {
    session.ExchangeState = esNone;
    context.EndExchange(ecr);
    return;
  }
  const std::string data = std::string(1, InLineLetter(slot.Command)) + slot.Payload;
  const int sent = context.Controller().SendInlData(ecr, data);
  if (sent == 0) {
    context.SetReplyContext(kLetterSet, slot.Command, ecr, slot.Payload, slot.RequestNo);
    return;
  }
  session.ExchangeState = esNone;
  if (sent == TNetController::kTooLong) {
    // The link refuses to send it, so no delivery report would ever answer the client.
    context.AnswerReply(context.MakeReplyContext(kLetterSet, slot.Command, ecr, slot.Payload, slot.RequestNo),
                        erBufferOverflow);
  }
  // Otherwise the link still awaits the report of another register's answer: the request
  // waits for the next announcement.
  context.EndExchange(ecr);
}

void HandleInlSended(NcExchangeContext& context, int ecr) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnInlSended ECR:" + std::to_string(ecr));
    context.EndExchange(ecr);
  } else {
    context.Session(ecr).ExchangeState = esInlDelivered;
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
  // Only the reply owed for this register's InLine data takes the answer; the slot empties
  // only while it still holds the request that went out.
  if (context.OwesInLineReplyFor(ecr)) {
    context.OwedReply(ecr).Payload = answer;
    context.AnswerOwedReply(ecr, answer == "E" ? erEcrError : erNoError);
  }
  context.ClearPendingExchange();
  // The link has left every other exchange for this answer.
  context.AnswerWaiting = {};
  context.EndExchange(ecr);
}

void HandleOnlSended(NcExchangeContext& context, int ecr) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnOnlSended ECR:" + std::to_string(ecr));
    context.EndExchange(ecr);
  } else if (context.OwesOnLineReplyFor(ecr)) {
    ReportAnswers(context, ecr, erNoError);
  } else {
    context.ClearPendingExchangeOf(ecr);
    context.EndExchange(ecr);
  }
  context.ReportHandled();
}

void HandleControllerError(NcExchangeContext& context, int ecr, std::uint8_t errC, int extErr) {
  ActOnControllerError(context, ecr, errC, extErr);
  // Refusals and the giving up are reports too; any other error leaves the report due.
  context.ReportHandled();
}

}  // namespace ecr::nc
