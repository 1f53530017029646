#include "netcontroller/requests/controller_events.h"

#include <cstdio>

#include "netcontroller/link/net_controller.h"
#include "netcontroller/requests/block_fields.h"
#include "netcontroller/requests/request_tables.h"
#include "server/client_message.h"

namespace ecr::nc {

namespace {

constexpr std::uint8_t kKeepAliveTicks = 15;
constexpr int kLetterSet = 5;

// A failed delivery: the client under way hears errorCode and the exchange ends.
void Fail(NcExchangeContext& context, std::uint8_t errorCode) {
  context.SendPendingReply(errorCode);
  context.ClearPendingExchange();
  context.Controller().SendReset();
}

void LogUnsent(NcExchangeContext& context, int ecr, const char* suffix) {
  context.Log("Неизпратен блок към каса " + std::to_string(ecr) + suffix);
}

}  // namespace

void HandleEcrInLine(NcExchangeContext& context, int ecr, const std::string& block) {
  if (!IsSessionEcr(ecr)) {
    context.Controller().SendReset();
    return;
  }
  EcrSession& session = context.Session(ecr);
  session.ExchangeState = esInlRx;
  NcEcrSettings& counters = context.Settings().Ecr(ecr);
  counters.SerialNumber = static_cast<std::int32_t>(FieldInteger(block, 1));
  counters.Mode = 1;
  counters.KeepAlive = kKeepAliveTicks;

  SetSlot& slot = session.Slot(kLetterSet);
  if (slot.Command == 0) {
    session.ExchangeState = esNone;
    context.Controller().SendReset();
    return;
  }
  context.SetReplyContext(kLetterSet, slot.Command, ecr, slot.Payload, true);
  const std::string data = std::string(1, InLineLetter(slot.Command)) + slot.Payload;
  if (context.Controller().SendInlData(data) == TNetController::kTooLong) {
    // The link refuses to send it, so no delivery report would ever answer the client.
    session.ExchangeState = esNone;
    Fail(context, erBufferOverflow);
  }
}

void HandleInlSended(NcExchangeContext& context, int ecr) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnInlSended ECR:" + std::to_string(ecr));
    context.Controller().SendReset();
    return;
  }
  context.Session(ecr).ExchangeState = esInlDelivered;
}

void HandleInlReceived(NcExchangeContext& context, int ecr, const std::string& answer) {
  if (!IsSessionEcr(ecr)) {
    context.Controller().SendReset();
    return;
  }
  EcrSession& session = context.Session(ecr);
  SetSlot& slot = session.Slot(kLetterSet);
  const bool owedToAnother =
      context.Deferred.Set == kLetterSet && context.Deferred.Ecr == ecr && !context.ReplyOwedTo(ecr, kLetterSet);
  // A SET 5 that changed hands keeps what its new owner queued.
  if (!owedToAnother) {
    slot.Command = 0;
    slot.State = 0;
  }
  session.ExchangeState = esNone;
  context.Deferred.Payload = answer;
  context.SendPendingReply(answer == "E" ? erEcrError : erNoError);
  context.ClearPendingExchange();
  context.Controller().SendReset();
}

void HandleOnlSended(NcExchangeContext& context, int ecr) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnOnlSended ECR:" + std::to_string(ecr));
    context.Controller().SendReset();
    return;
  }
  context.ClearPendingExchange();
  context.SendPendingReply(erNoError);
  context.Controller().SendReset();
}

void HandleControllerError(NcExchangeContext& context, int ecr, std::uint8_t errC, int extErr) {
  if (!IsSessionEcr(ecr)) {
    context.Controller().SendReset();
    return;
  }
  EcrSession& session = context.Session(ecr);
  switch (errC) {
    case 150: return Fail(context, erBadLine);
    case 151: return Fail(context, erNoAckNak);
    case 152:
    case 157:
      LogUnsent(context, ecr, " - препълване RxBuff на NC");
      return Fail(context, erOverrun);
    case 153:
    case 158:
      LogUnsent(context, ecr, " - няма текуща");
      return Fail(context, erEcrInSession);
    case 154:
    case 159:
      LogUnsent(context, ecr, " - Работа само с PC");
      return Fail(context, erEcrInSession);
    case 155:
    case 156:
      if (session.ExchangeState >= esBuffRx) return Fail(context, erBadLine);
      // An InLine exchange: the SET 5 request stays queued for the next announcement.
      context.Controller().SendReset();
      session.ExchangeState = esNone;
      return;
    case 160:
      LogUnsent(context, ecr, " - неполучен END_x от PC");
      return Fail(context, erBadLine);
    case 165:
      if (session.ExchangeState == esNone) {
        context.Controller().SendReset();
        return;
      }
      if (session.ExchangeState == esInlDelivered) {
        session.ExchangeState = esNone;
        context.Controller().SendReset();
        return;
      }
      {
        char text[96];
        std::snprintf(text, sizeof text, "No block after NAK. Ecr: %d State: %s ", ecr,
                      ExchangeStateName(session.ExchangeState).c_str());
        context.Log(text);
      }
      context.ClearPendingExchange();
      context.SendPendingReply(erNoBegAfterNak);
      context.Controller().SendReset();
      return;
    case 169:
      session.ExchangeState = esNone;
      context.Controller().SendReset();
      return;
    case 161:
    case 162:
    case 163:
    case 164:
    case 166:
    case 168: context.Controller().SendReset(); return;
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Unknown Error: %d Ext: %d", static_cast<int>(errC), extErr);
      context.Log(text);
      context.Controller().SendReset();
      return;
    }
  }
}

}  // namespace ecr::nc
