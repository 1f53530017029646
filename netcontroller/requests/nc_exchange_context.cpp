#include "netcontroller/requests/nc_exchange_context.h"

#include <exception>
#include <utility>

#include "foundation/log_file.h"
#include "netcontroller/link/net_controller.h"
#include "netcontroller/nc_message_header.h"
#include "server/client_message.h"

namespace ecr::nc {

NcExchangeContext::NcExchangeContext(ClientSender& server, ControllerCommands& controller,
                                     NcServerSettings& settings, std::function<void()> saveSettings,
                                     LogFile& log, std::function<std::uint32_t()> tickCount)
    : server_(server),
      controller_(controller),
      settings_(settings),
      save_settings_(std::move(saveSettings)),
      log_(log),
      tick_count_(std::move(tickCount)) {}

void NcExchangeContext::SendToClient(std::int16_t clientId, std::string_view message) {
  if (clientId <= 0) return;
  try {
    server_.SendData(static_cast<std::uint16_t>(clientId), message);
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

void NcExchangeContext::Reply(std::int16_t clientId, std::uint8_t setNo, std::uint8_t command, std::uint8_t logNo,
                              std::uint8_t errorCode, std::string_view payload) {
  SendToClient(clientId, PackReplyHeader(setNo, command, 0, logNo, errorCode, payload));
}

void NcExchangeContext::ReplyWithMonitorCopy(std::int16_t clientId, std::uint8_t setNo, std::uint8_t command,
                                             std::uint8_t logNo, std::uint8_t errorCode, std::string_view payload) {
  const std::string message = PackReplyHeader(setNo, command, 0, logNo, errorCode, payload);
  SendToClient(clientId, message);
  if (setNo % 2 == 1 && setNo < kSessionSetCount && IsSessionEcr(logNo)) {
    SendToClient(Slot(logNo, setNo + 1).ClientId, message);
  }
}

void NcExchangeContext::SendNotification(std::uint8_t setNo, std::uint8_t command, std::string_view payload,
                                         int ecr) {
  if (!IsSessionEcr(ecr) || !IsSessionSet(setNo)) return;
  const std::string message = PackReplyHeader(setNo, command, 0, static_cast<std::uint8_t>(ecr), 0, payload);
  SendToClient(Slot(ecr, setNo).ClientId, message);
  if (setNo < kSessionSetCount) SendToClient(Slot(ecr, setNo + 1).ClientId, message);
}

void NcExchangeContext::SetPendingExchange(int ecr, int setNo) {
  Pending.Ecr = static_cast<std::uint8_t>(ecr);
  Pending.Set = static_cast<std::uint8_t>(setNo);
}

void NcExchangeContext::ClearPendingExchangeOf(int ecr) {
  if (Pending.Ecr == ecr) ClearPendingExchange();
}

void NcExchangeContext::NewExchangeOf(int ecr) {
  if (Pending.Ecr != 0 && Pending.Ecr != ecr) ClearPendingExchange();
  Waiting = {};
  for (const WriteKind kind : {WriteKind::OnLine, WriteKind::InLine}) {
    if (OwesReplyFor(ecr, kind)) OwedReply(ecr, kind).ExchangeOver = true;
  }
}

ReplyContext NcExchangeContext::MakeReplyContext(std::uint8_t setNo, std::uint8_t command, int ecr,
                                                 std::string payload, std::uint32_t requestNo) const {
  ReplyContext context;
  context.Set = setNo;
  context.Command = command;
  context.Ecr = static_cast<std::uint8_t>(ecr);
  context.Payload = std::move(payload);
  context.ClientId = IsSessionEcr(ecr) && IsSessionSet(setNo) ? Session(ecr).Slot(setNo).ClientId : std::int16_t{0};
  context.RequestNo = requestNo;
  return context;
}

void NcExchangeContext::SetReplyContext(WriteKind kind, std::uint8_t setNo, std::uint8_t command, int ecr,
                                        std::string payload, std::uint32_t requestNo) {
  OwedReply(ecr, kind) = MakeReplyContext(setNo, command, ecr, std::move(payload), requestNo);
}

std::uint8_t NcExchangeContext::CopReplySet(int ecr) const { return Session(ecr).Slot(3).ClientId != 0 ? 3 : 13; }

void NcExchangeContext::AnswerOwedReply(int ecr, WriteKind kind, std::uint8_t errorCode) {
  if (!OwesReplyFor(ecr, kind)) return;
  AnswerReply(std::exchange(OwedReply(ecr, kind), ReplyContext{}), errorCode);
}

void NcExchangeContext::FailOwedReply(int ecr, WriteKind kind, std::uint8_t errorCode) {
  if (!OwesReplyFor(ecr, kind)) return;
  // Delivered InLine data has had its report; anything else still awaits it.
  if (!OwedReply(ecr, kind).Delivered) controller_.ForgetReport(ecr, ReportCode(kind));
  AnswerOwedReply(ecr, kind, errorCode);
}

void NcExchangeContext::AnswerReply(const ReplyContext& owed, std::uint8_t errorCode) {
  if (!IsSessionEcr(owed.Ecr) || !IsSessionSet(owed.Set)) return;
  SetSlot& slot = Slot(owed.Ecr, owed.Set);
  std::uint8_t setNo = owed.Set;
  if (setNo == 13) setNo = CopReplySet(owed.Ecr);
  const std::string message = PackReplyHeader(setNo, owed.Command, 0, owed.Ecr, errorCode, owed.Payload);
  // A request queued after a cancel or a close is another request and stays.
  if (owed.RequestNo != 0 && slot.RequestNo == owed.RequestNo) slot.Dequeue();
  // A SET that changed hands meanwhile belongs to a client who did not make the request.
  if (!owed.OwnerLeft && slot.ClientId == owed.ClientId) SendToClient(slot.ClientId, message);
  // The copy goes to the monitor of the slot that held the request: SET 14 for an
  // operation on the shared SET 3/13 slot, whichever SetNo the reply carries.
  if (owed.Set % 2 == 1) SendToClient(Slot(owed.Ecr, owed.Set + 1).ClientId, message);
}

void NcExchangeContext::DropInLineReplyOf(int ecr) {
  if (OwesReplyFor(ecr, WriteKind::InLine)) OwedReply(ecr, WriteKind::InLine) = ReplyContext{};
}

void NcExchangeContext::ForgetReplyOwner(std::int16_t clientId) {
  for (int ecr = 1; ecr <= kSessionEcrCount; ++ecr) {
    for (const WriteKind kind : {WriteKind::OnLine, WriteKind::InLine}) {
      ReplyContext& owed = OwedReply(ecr, kind);
      if (owed.Owed() && owed.ClientId == clientId) owed.OwnerLeft = true;
    }
  }
}

void NcExchangeContext::EndExchange(int ecr) {
  if (Waiting.Ecr == ecr) Waiting = {};
  controller_.ResetExchangeOf(ecr);
}

bool NcExchangeContext::SendOnlineAnswer(int ecr, std::string_view answer, const WaitingWrite& ifBusy) {
  switch (controller_.SendOnlAnswer(ecr, answer)) {
    case TNetController::kDone: return true;
    case TNetController::kReportDue: Waiting = ifBusy; return false;
    default: EndExchange(ecr); return false;
  }
}

namespace {

void ServeWaitingAnswer(NcExchangeContext& context, const WaitingWrite& waiting) {
  context.ServeQueuedAnswer(waiting.Ecr, waiting.Set);
}

}  // namespace

void NcExchangeContext::ServeQueuedAnswer(int ecr, int setNo) {
  SetSlot& slot = Slot(ecr, setNo);
  // Cancelled, or its client gone: nobody answers the offer, and the register asks again.
  if (slot.Command == 0) return EndExchange(ecr);
  if (slot.HoldsFinish()) {
    ReplyWithMonitorCopy(slot.ClientId, static_cast<std::uint8_t>(setNo), slot.Command, static_cast<std::uint8_t>(ecr),
                         erNoError, slot.Payload);
    EndExchange(ecr);
    return slot.Dequeue();
  }
  const bool hold = slot.Command == kSlotHeld;
  const WaitingWrite waiting{static_cast<std::uint8_t>(ecr), static_cast<std::uint8_t>(setNo), {}, ServeWaitingAnswer};
  if (!SendOnlineAnswer(ecr, hold ? kHoldAnswer : slot.Payload, waiting)) return;
  if (hold) return SetReplyContext(WriteKind::OnLine, 0, 0, ecr, slot.Payload, 0);
  SetReplyContext(WriteKind::OnLine, static_cast<std::uint8_t>(setNo), slot.Command, ecr, slot.Payload, 0);
  slot.Dequeue();
}

void NcExchangeContext::ReportHandled() {
  controller_.ReportHandled();
  const WaitingWrite waiting = std::exchange(Waiting, WaitingWrite{});
  if (waiting.Ecr != 0) waiting.Serve(*this, waiting);
}

void NcExchangeContext::SetOwnerLeft(int ecr, int setNo) {
  // The sale, print and receipt exchanges (SET 13) wait for no client's answer.
  const bool offered = setNo != 13 && IsPendingExchange(ecr, setNo);
  const bool waiting = Waiting.Ecr == ecr && Waiting.Set == setNo;
  if (!offered && !waiting) return;
  ClearPendingExchange();
  EndExchange(ecr);
}

std::uint32_t NcExchangeContext::NewRequestNo() {
  if (++last_request_no_ == 0) ++last_request_no_;
  return last_request_no_;
}

void NcExchangeContext::EcrUseInc(int ecr) {
  EcrSession& session = Session(ecr);
  if (session.UseCount == 0) controller_.AddEcr(ecr);
  if (!ControllerStarted) {
    controller_.SendStart();
    controller_.SendReset();
    ControllerStarted = true;
  }
  ++session.UseCount;
}

void NcExchangeContext::EcrUseDec(int ecr) {
  EcrSession& session = Session(ecr);
  if (session.UseCount == 0) return;
  --session.UseCount;
  if (session.UseCount != 0) return;
  controller_.RemoveEcr(ecr);
  for (int other = 1; other <= kSessionEcrCount; ++other) {
    if (Session(other).UseCount > 0) return;
  }
  ControllerStarted = false;
  controller_.SendStop();
}

void NcExchangeContext::SaveSettings() {
  if (save_settings_) save_settings_();
}

void NcExchangeContext::Log(const std::string& text) { log_.Write(text); }

}  // namespace ecr::nc
