#include "netcontroller/requests/nc_request_engine.h"

#include <mutex>

#include "netcontroller/nc_message_header.h"
#include "netcontroller/requests/client_handlers.h"
#include "netcontroller/requests/controller_events.h"
#include "netcontroller/requests/request_tables.h"

namespace ecr::nc {

namespace {

// The instance message by which a second start asks the running one to close.
constexpr int kQuitMessageId = 2;
constexpr std::size_t kMonitorSetsWidth = 80;

}  // namespace

struct NcRequestEngine::State {
  explicit State(NcRequestEngineParts& parts)
      : context(parts.Server, parts.Controller, parts.Settings, std::move(parts.SaveSettings), parts.Log,
                std::move(parts.TickCount)) {}

  mutable std::mutex lock;
  NcExchangeContext context;
};

NcRequestEngine::NcRequestEngine(NcRequestEngineParts parts) : state_(std::make_unique<State>(parts)) {}

NcRequestEngine::~NcRequestEngine() = default;

void NcRequestEngine::HandleClientMessage(std::int16_t ClientId, std::string_view Message) {
  // Client 0 stands for a free slot: a SET taken for it would belong to nobody.
  if (ClientId <= 0) return;
  const RequestHeader header = UnpackRequestHeader(Message);
  if (!IsSessionEcr(header.LogNo)) return;
  if (header.BlockLen != 0) return;
  if (!IsSessionSet(header.SetNo)) return;
  if (header.Command < 1 || header.Command > kDispatchCommandCount) return;
  const NcHandler handler = DispatchHandler(header.SetNo, header.Command);
  if (handler == NcHandler::IgnoreRequest) return;
  ClientRequest request{ClientId, header.Body, header.LogNo, header.Command, header.SetNo};
  const std::lock_guard guard(state_->lock);
  RunClientHandler(handler, state_->context, request);
}

void NcRequestEngine::ClientDisconnected(std::int16_t ClientId) {
  const std::lock_guard guard(state_->lock);
  FreeClientSlots(state_->context, ClientId);
}

bool NcRequestEngine::OnSelfMessage(int MessageId, std::string_view Text, bool LoopBack) {
  if (LoopBack || MessageId != kQuitMessageId) return false;
  const std::lock_guard guard(state_->lock);
  NcExchangeContext& context = state_->context;
  context.QuitConfirmed = context.Settings().ServerPassword.Get() == Text;
  return context.QuitConfirmed;
}

bool NcRequestEngine::QuitConfirmed() const {
  const std::lock_guard guard(state_->lock);
  return state_->context.QuitConfirmed;
}

void NcRequestEngine::HandleEcrInLine(int Ecr, const std::string& Block) {
  const std::lock_guard guard(state_->lock);
  nc::HandleEcrInLine(state_->context, Ecr, Block);
}

void NcRequestEngine::HandleInlSended(int Ecr, std::uint8_t /*Status*/) {
  const std::lock_guard guard(state_->lock);
  nc::HandleInlSended(state_->context, Ecr);
}

void NcRequestEngine::HandleInlReceived(int Ecr, const std::string& Answer) {
  const std::lock_guard guard(state_->lock);
  nc::HandleInlReceived(state_->context, Ecr, Answer);
}

void NcRequestEngine::HandleOnlineBlock(int Ecr, const std::string& Block) {
  const std::lock_guard guard(state_->lock);
  nc::HandleOnlineBlock(state_->context, Ecr, Block);
}

void NcRequestEngine::HandleOnlSended(int Ecr, std::uint8_t /*Status*/) {
  const std::lock_guard guard(state_->lock);
  nc::HandleOnlSended(state_->context, Ecr);
}

void NcRequestEngine::HandleControllerError(int Ecr, std::uint8_t ErrC, int ExtErr) {
  const std::lock_guard guard(state_->lock);
  nc::HandleControllerError(state_->context, Ecr, ErrC, ExtErr);
}

void NcRequestEngine::ClearPendingExchangeAndStart() {
  const std::lock_guard guard(state_->lock);
  state_->context.ClearPendingExchange();
  state_->context.ControllerStarted = false;
}

bool NcRequestEngine::ControllerStarted() const {
  const std::lock_guard guard(state_->lock);
  return state_->context.ControllerStarted;
}

std::vector<MonitorRow> NcRequestEngine::RefreshMonitor() {
  const std::lock_guard guard(state_->lock);
  NcExchangeContext& context = state_->context;
  std::vector<MonitorRow> rows;
  for (int ecr = 1; ecr <= kSessionEcrCount; ++ecr) {
    const EcrSession& session = context.Session(ecr);
    if (session.UseCount == 0) continue;
    NcEcrSettings& counters = context.Settings().Ecr(ecr);
    if (counters.KeepAlive > 0) {
      counters.KeepAlive = static_cast<std::uint8_t>(counters.KeepAlive - 1);
    } else {
      counters.Mode = 0;
    }
    MonitorRow row;
    row.Ecr = ecr;
    row.SerialNumber = counters.SerialNumber;
    row.Mode = counters.Mode;
    for (int setNo = 1; setNo <= kSessionSetCount; ++setNo) {
      const std::int16_t owner = session.Slot(setNo).ClientId;
      if (owner != 0) row.Sets += std::to_string(setNo) + ":" + std::to_string(owner) + ";";
    }
    if (row.Sets.size() > kMonitorSetsWidth) row.Sets.resize(kMonitorSetsWidth);
    rows.push_back(std::move(row));
  }
  return rows;
}

void NcRequestEngine::WithSettings(const std::function<void(NcServerSettings&)>& change) {
  const std::lock_guard guard(state_->lock);
  change(state_->context.Settings());
}

void NcRequestEngine::SaveSettings() {
  const std::lock_guard guard(state_->lock);
  state_->context.SaveSettings();
}

EcrSession NcRequestEngine::SessionSnapshot(int ecr) const {
  const std::lock_guard guard(state_->lock);
  if (!IsSessionEcr(ecr)) return {};
  return state_->context.Session(ecr);
}

PendingExchange NcRequestEngine::PendingExchangeSnapshot() const {
  const std::lock_guard guard(state_->lock);
  return state_->context.Pending;
}

PendingExchange NcRequestEngine::WaitingWriteSnapshot() const {
  const std::lock_guard guard(state_->lock);
  const WaitingWrite& waiting = state_->context.Waiting;
  return PendingExchange{waiting.Ecr, waiting.Set};
}

ReplyContext NcRequestEngine::ReplyContextSnapshot(int ecr, WriteKind kind) const {
  const std::lock_guard guard(state_->lock);
  if (!IsSessionEcr(ecr)) return {};
  return state_->context.Session(ecr).Owed(kind);
}

std::string NcRequestEngine::ExchangeStateName(int ecr) const {
  const std::lock_guard guard(state_->lock);
  if (!IsSessionEcr(ecr)) return nc::ExchangeStateName(0xFF);
  return nc::ExchangeStateName(state_->context.Session(ecr).ExchangeState);
}

}  // namespace ecr::nc
