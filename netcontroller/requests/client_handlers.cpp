#include "netcontroller/requests/client_handlers.h"

#include "netcontroller/nc_fields.h"
#include "netcontroller/nc_numbers.h"
#include "netcontroller/requests/block_fields.h"
#include "server/client_message.h"

namespace ecr::nc {

namespace {

constexpr std::uint8_t kCloseCommand = 2;

class Handlers {
 public:
  Handlers(NcExchangeContext& context, ClientRequest& request)
      : context_(context), request_(request), session_(context.Session(request.LogNo)) {}

  void Run(NcHandler handler) {
    switch (handler) {
      case NcHandler::IgnoreRequest: return;
      case NcHandler::OpenClientSet: return OpenClientSet();
      case NcHandler::OpenMonitorSet: return OpenMonitorSet();
      case NcHandler::CloseClientSet: return CloseClientSet();
      case NcHandler::CloseMonitorSet: return CloseMonitorSet();
      case NcHandler::CancelRequest: return CancelRequest();
      case NcHandler::QueryRequestState: return QueryRequestState();
      case NcHandler::HoldExchange: return HoldExchange();
      case NcHandler::FinishExchange: return FinishExchange();
      case NcHandler::QueueRequest: return QueueRequest();
      case NcHandler::AnswerWithQuantity: return AnswerWithQuantity();
      case NcHandler::AnswerC: return AnswerC(false);
      case NcHandler::AnswerCSigned: return AnswerC(true);
      case NcHandler::QueueLetterCommand: return QueueLetterCommand();
      case NcHandler::QueueCop: return QueueCop();
    }
  }

 private:
  // The answer rule of working SETs: the requester, then the monitor SET SetNo + 1.
  void Answer(std::uint8_t errorCode, std::string_view payload = {}) {
    context_.ReplyWithMonitorCopy(request_.ClientId, request_.SetNo, request_.Command, request_.LogNo, errorCode,
                                  payload);
  }
  // Monitor SETs answer the requester only.
  void ReplyToRequester(std::uint8_t errorCode, std::uint8_t command) {
    context_.Reply(request_.ClientId, request_.SetNo, command, request_.LogNo, errorCode);
  }

  SetSlot& OwnSlot() { return session_.Slot(request_.SetNo); }
  // SET 3 queues, cancels and reports on slot 13, which it shares.
  SetSlot& CopSlot() { return session_.Slot(request_.SetNo == 3 ? 13 : request_.SetNo); }
  bool Owns(const SetSlot& slot) const { return slot.ClientId == request_.ClientId; }
  // A held register takes the next answer or finish.
  static bool BusyForAnswer(const SetSlot& slot) { return slot.Command != 0 && slot.Command != kSlotHeld; }
  bool Waiting() const { return context_.IsPendingExchange(request_.LogNo, request_.SetNo); }

  void Queue(SetSlot& slot) {
    slot.Command = request_.Command;
    slot.State = kSlotQueued;
    slot.Payload = request_.Payload;
    slot.RequestNo = context_.NewRequestNo();
  }

  // erSetTaken while a SET that excludes this one has an owner, erWrongSetPassword when
  // field 1 is not the SET's password, else 0.
  std::uint8_t OpenRefusal() {
    request_.Payload += ';';
    for (int other = 1; other <= kSessionSetCount; ++other) {
      if (SetsExclude(request_.SetNo, other) && session_.Slot(other).ClientId != 0) return erSetTaken;
    }
    if (GetField(request_.Payload, 1) != context_.Settings().SetPassword(request_.SetNo).Get()) {
      return erWrongSetPassword;
    }
    return erNoError;
  }

  void TakeSlot(SetSlot& slot) {
    slot.ClientId = request_.ClientId;
    slot.Dequeue();
  }
  static void FreeSlot(SetSlot& slot) {
    slot.ClientId = 0;
    slot.Dequeue();
  }

  void OpenClientSet() {
    if (const std::uint8_t refusal = OpenRefusal(); refusal != erNoError) return Answer(refusal);
    TakeSlot(OwnSlot());
    if (request_.SetNo == 3) TakeSlot(session_.Slot(13));
    context_.EcrUseInc(request_.LogNo);
    Answer(erNoError);
  }

  void OpenMonitorSet() {
    if (const std::uint8_t refusal = OpenRefusal(); refusal != erNoError) {
      return ReplyToRequester(refusal, request_.Command);
    }
    ReplyToRequester(erNoError, request_.Command);
    TakeSlot(OwnSlot());
  }

  void CloseClientSet() {
    // Slot 13 of a client that holds SET 3 comes with SET 3 and goes with it: SET 13 is not
    // the client's to close (closing it would give the register's use back twice).
    const bool comesWithSet3 = request_.SetNo == 13 && Owns(session_.Slot(3));
    if (!Owns(OwnSlot()) || comesWithSet3) return Answer(erSetNotYours);
    FreeSlot(OwnSlot());
    context_.SetOwnerLeft(request_.LogNo, request_.SetNo);
    if (request_.SetNo == 3) {
      FreeSlot(session_.Slot(13));
      context_.SetOwnerLeft(request_.LogNo, 13);
    }
    context_.EcrUseDec(request_.LogNo);
    context_.ReplyWithMonitorCopy(request_.ClientId, request_.SetNo, kCloseCommand, request_.LogNo, erNoError);
  }

  void CloseMonitorSet() {
    if (!Owns(OwnSlot())) return ReplyToRequester(erSetNotYours, request_.Command);
    FreeSlot(OwnSlot());
    ReplyToRequester(erNoError, kCloseCommand);
  }

  void CancelRequest() {
    SetSlot& slot = CopSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    slot.Dequeue();
    Answer(erNoError);
  }

  void QueryRequestState() {
    const SetSlot& slot = CopSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    Answer(slot.State);
  }

  void HoldExchange() {
    SetSlot& slot = OwnSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    if (slot.Command != 0) return Answer(erEcrBusy);
    if (!Waiting()) return Answer(erEcrInSession);
    slot.Command = kSlotHeld;
    session_.ExchangeState = esWaitTx;
    context_.ClearPendingExchange();
    // The hold's delivery report owes nobody a reply, and must not answer a reply left over
    // from an earlier answer. Should the link not take the hold now, the register hears it
    // once the link is free, or when it asks again.
    context_.ServeQueuedAnswer(request_.LogNo, request_.SetNo);
    Answer(erNoError);
  }

  void QueueRequest() {
    SetSlot& slot = OwnSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    if (request_.Payload.size() > kMaxAnswerLength) return Answer(erBufferOverflow, request_.Payload);
    if (BusyForAnswer(slot)) return Answer(erEcrBusy);
    Queue(slot);
    // The register waits for exactly this answer: it goes out now, or as soon as the link can
    // take it, or at the register's repeat.
    if (Waiting()) {
      context_.ClearPendingExchange();
      context_.ServeQueuedAnswer(request_.LogNo, request_.SetNo);
    }
  }

  void FinishExchange() {
    SetSlot& slot = OwnSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    if (Waiting()) {
      context_.ClearPendingExchange();
      if (context_.Controller().ResetExchangeOf(request_.LogNo)) return Answer(erNoError);
      // Another register's exchange runs at the link, which has left this one: the finish
      // is queued, and the register's repeat takes it.
    }
    if (BusyForAnswer(slot)) return Answer(erEcrBusy);
    Queue(slot);
  }

  void AnswerWithQuantity() {
    // A request refused to another client leaves the owner's quantity alone.
    if (!Owns(OwnSlot())) return Answer(erSetNotYours);
    const std::string quantity = CutField(request_.Payload, 8);
    if (!quantity.empty()) session_.Quantity = static_cast<double>(StrToAmountDef(quantity, 1));
    InsertField(request_.Payload, FormatFixed(session_.Quantity, 3), 4);
    request_.Payload += ';';
    QueueRequest();
  }

  void AnswerC(bool signedValue) {
    long double x = StrToAmountDef(GetField(request_.Payload, 1), 0);
    const bool inRange = signedValue ? (x >= -99.99L && x <= 99.99L) : (x >= 0 && x <= 99.99L);
    if (!inRange) x = 0;
    request_.Payload = "C;;" + FormatFixed(x, 2) + ";;;;";
    QueueRequest();
  }

  void QueueCop() {
    SetSlot& slot = CopSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    if (slot.Command != 0) return Answer(erEcrBusy);
    if (request_.Payload.size() > kMaxAnswerLength) return Answer(erBufferOverflow, request_.Payload);
    if (request_.Command == 6 && (request_.SetNo == 3 || request_.Payload.empty())) request_.Payload = "0;;";
    Queue(slot);
  }

  void QueueLetterCommand() {
    SetSlot& slot = OwnSlot();
    if (!Owns(slot)) return Answer(erSetNotYours);
    if (slot.Command != 0) return Answer(erEcrBusy);
    Queue(slot);
  }

  NcExchangeContext& context_;
  ClientRequest& request_;
  EcrSession& session_;
};

}  // namespace

void RunClientHandler(NcHandler handler, NcExchangeContext& context, ClientRequest& request) {
  Handlers(context, request).Run(handler);
}

void FreeClientSlots(NcExchangeContext& context, std::int16_t clientId) {
  if (clientId <= 0) return;
  context.ForgetReplyOwner(clientId);
  for (int ecr = 1; ecr <= kSessionEcrCount; ++ecr) {
    EcrSession& session = context.Session(ecr);
    bool heldSet3 = false;
    for (int setNo = 1; setNo <= kSessionSetCount; ++setNo) {
      SetSlot& slot = session.Slot(setNo);
      if (slot.ClientId != clientId) continue;
      slot = SetSlot{};
      if (setNo == 3) heldSet3 = true;
      if (setNo % 2 == 0) continue;
      context.SetOwnerLeft(ecr, setNo);
      const bool comesWithSet3 = setNo == 13 && heldSet3;
      if (!comesWithSet3) context.EcrUseDec(ecr);
    }
  }
}

}  // namespace ecr::nc
