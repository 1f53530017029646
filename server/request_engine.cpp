#include "server/request_engine.h"

#include "foundation/fields.h"
#include "server/client_message.h"
#include "server/commands.h"

namespace ecr {

namespace {

// The instance message by which a second start asks the running one to close.
constexpr int kQuitMessageId = 2;

constexpr std::string_view kServerName = "HARBENDIX";

// A SET given back keeps the reply fields it holds; a new open clears them.
void ReleaseSet(TSetDescr& set) {
  set.ClientId = 0;
  set.Connection = 0;
  set.Command = 0;
  set.State = kStateNone;
}

}  // namespace

RequestEngine::RequestEngine(ServerSettings& settings, SettingsSaver& saver,
                             std::string versionText, EngineLog log)
    : context_(settings, saver, std::move(log)), versionText_(std::move(versionText)) {}

// ---- entry points --------------------------------------------------------------------

void RequestEngine::DispatchRequest(ClientSender& server, PollingControl* poller,
                                    std::uint16_t clientId, std::string_view message) {
  if (message.size() > kMaxMessageLength) message = message.substr(0, kMaxMessageLength);
  // Client 0 stands for a free SET: taking a SET for it would count a use nobody holds.
  if (clientId == 0) return;
  const ClientMessage parsed = ParseClientRequest(message);
  Request request{server, poller, clientId, parsed.Payload, parsed.LogNo, parsed.Command, parsed.SetNo};

  std::lock_guard<std::mutex> guard(mutex_);
  if (request.SetNo == ServerSet) {
    HandleServerRequest(request);
    return;
  }
  if (request.SetNo == SubscriberSet) {
    if (!IsLogNo(request.LogNo)) {
      Reply(request, erWrongEcrNumber);
      return;
    }
    HandleSubscription(request);
    return;
  }
  if (request.SetNo < 1 || request.SetNo > kSetCount) {
    Reply(request, erUnknownSet);
    return;
  }
  if (request.Command < 1 || request.Command > kMaxRequestCommand) {
    Reply(request, erUnknownCommand);
    return;
  }
  if (!IsLogNo(request.LogNo)) {
    Reply(request, erWrongEcrNumber);
    return;
  }
  const Handler handler = HandlerFor(request.SetNo, request.Command);
  if (handler == Handler::None) {
    ReplyWithCopy(request, erUnknownCommand);
    return;
  }
  // A monitor sees the request before its reply, and even SETs pass theirs on as well.
  CopyToNextSet(request, message);
  RunHandler(handler, request);
}

void RequestEngine::ClientConnected() {}

void RequestEngine::ClientDisconnected(ClientSender& /*server*/, PollingControl* poller,
                                       std::uint16_t clientId) {
  if (clientId == 0) return;
  std::lock_guard<std::mutex> guard(mutex_);
  for (int logNo = 1; logNo <= kMaxLogNo; ++logNo) {
    TEcr& ecr = context_.EcrTable.At(logNo);
    for (int setNo = 1; setNo <= kSetCount; ++setNo) {
      TSetDescr& set = ecr.Set(setNo);
      if (set.ClientId != clientId) continue;
      set = TSetDescr{};
      if (IsWorkingSet(setNo)) context_.EcrUseDec(poller, logNo);
    }
    ExchangeContext::LeaveQueueWholly(ecr, clientId);
  }
  // What is owed to this connection is not the next one's in the slot.
  context_.EndConnection(clientId);
}

void RequestEngine::OnSelfMessage(int messageId, std::string_view text, bool loopBack) {
  if (loopBack || messageId != kQuitMessageId) return;
  std::function<void()> close;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (context_.Settings().AdminPassword.Get() == text) {
      quitConfirmed_ = true;
      close = closeMainWindow_;
    } else {
      quitConfirmed_ = false;
    }
  }
  // The close runs the stop of the service, which takes the lock again.
  if (close) close();
}

void RequestEngine::SetCloseMainWindow(std::function<void()> closeMainWindow) {
  std::lock_guard<std::mutex> guard(mutex_);
  closeMainWindow_ = std::move(closeMainWindow);
}

void RequestEngine::SetOldFPMode(bool on) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.OldFPMode = on;
}

void RequestEngine::ResetServerState() {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.Reset();
}

void RequestEngine::ClearCurrentExchange() {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
}

bool RequestEngine::PollingActive() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return context_.PollingActive != 0;
}

TEcr RequestEngine::EcrSnapshot(int logNo) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return IsLogNo(logNo) ? context_.EcrTable.At(logNo) : TEcr{};
}

TCurrentExchange RequestEngine::CurrentExchangeSnapshot() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return context_.CurrentExchange;
}

TWaitRes RequestEngine::WaitResSnapshot() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return context_.WaitRes;
}

void RequestEngine::UpdateSettings(const std::function<void(ServerSettings&)>& change) {
  std::lock_guard<std::mutex> guard(mutex_);
  change(context_.Settings());
}

// ---- replies -------------------------------------------------------------------------

void RequestEngine::Reply(const Request& request, std::uint8_t errorCode, std::string_view payload) {
  ExchangeContext::SendToClient(
      request.server, request.clientId,
      BuildClientMessage(request.SetNo, request.Command, request.LogNo, errorCode, {}, payload));
}

void RequestEngine::ReplyWithCopy(const Request& request, std::uint8_t errorCode,
                                  std::string_view payload) {
  const std::string message =
      BuildClientMessage(request.SetNo, request.Command, request.LogNo, errorCode, {}, payload);
  ExchangeContext::SendToClient(request.server, request.clientId, message);
  CopyToNextSet(request, message);
}

void RequestEngine::CopyToNextSet(const Request& request, std::string_view message) {
  if (request.SetNo < kSetCount) {
    context_.SendToSetOwner(request.server, request.LogNo, request.SetNo + 1, message);
  }
}

bool RequestEngine::IsOwner(const Request& request) const {
  return context_.EcrTable.At(request.LogNo).Set(request.SetNo).ClientId == request.clientId;
}

TSetDescr& RequestEngine::SetOf(const Request& request) {
  return context_.EcrTable.At(request.LogNo).Set(request.SetNo);
}

// ---- handlers ------------------------------------------------------------------------

void RequestEngine::RunHandler(Handler handler, Request& request) {
  switch (handler) {
    case Handler::None: break;
    case Handler::OpenChannel: OpenChannel(request); break;
    case Handler::OpenMonitor: OpenMonitor(request); break;
    case Handler::CloseChannel: CloseChannel(request); break;
    case Handler::CloseMonitor: CloseMonitor(request); break;
    case Handler::CancelCommand: CancelCommand(request); break;
    case Handler::SendDataToEcr: SendDataToEcr(request); break;
    case Handler::SendDataToEcrC: SendDataToEcrC(request); break;
    case Handler::FinishExchange: FinishExchange(request); break;
    case Handler::QueryChannelState: QueryChannelState(request); break;
    case Handler::QueueCommand: QueueCommand(request); break;
  }
}

void RequestEngine::HandleServerRequest(Request& request) {
  if (request.Command != cmdIdentify) return;
  Reply(request, erNoError, std::string(kServerName) + ";" + versionText_ + ";");
}

void RequestEngine::HandleSubscription(Request& request) {
  TEcr& ecr = context_.EcrTable.At(request.LogNo);
  if (request.Command == cmdOpen) {
    request.Payload += ';';
    if (ecr.QueueCount >= kSubscriberQueueLength) {
      Reply(request, erSetTaken);
      return;
    }
    if (GetField(request.Payload, 1) != context_.Settings().SubscriberPassword.Get()) {
      Reply(request, erWrongSetPassword);
      return;
    }
    Reply(request, erNoError);
    ecr.Queue[ecr.QueueCount] = static_cast<std::int16_t>(request.clientId);
    ++ecr.QueueCount;
    return;
  }
  if (request.Command == cmdClose) {
    Reply(request, ExchangeContext::LeaveQueue(ecr, request.clientId) ? erNoError : erSetNotYours);
  }
}

std::uint8_t RequestEngine::OpenRefusal(Request& request) {
  request.Payload += ';';
  const TEcr& ecr = context_.EcrTable.At(request.LogNo);
  for (int other = 1; other <= kSetCount; ++other) {
    if (SetsConflict(request.SetNo, other) && ecr.Set(other).ClientId != 0) return erSetTaken;
  }
  if (GetField(request.Payload, 1) != context_.Settings().SetPassword(request.SetNo).Get()) {
    return erWrongSetPassword;
  }
  return erNoError;
}

void RequestEngine::OpenChannel(Request& request) {
  if (const std::uint8_t refusal = OpenRefusal(request); refusal != erNoError) {
    ReplyWithCopy(request, refusal, kServerName);
    return;
  }
  TakeSet(request);
  DropHeldBackReply(SetOf(request));
  context_.EcrUseInc(request.poller, request.LogNo);
  // With the old fiscal-printer option the owner of SET 13 gets the open confirmed without
  // the server's name; its monitor still sees the name.
  const bool bareReply = request.SetNo == 13 && context_.OldFPMode;
  Reply(request, erNoError, bareReply ? std::string_view{} : kServerName);
  CopyToNextSet(request, BuildClientMessage(request.SetNo, request.Command, request.LogNo,
                                            erNoError, {}, kServerName));
}

void RequestEngine::OpenMonitor(Request& request) {
  if (const std::uint8_t refusal = OpenRefusal(request); refusal != erNoError) {
    Reply(request, refusal);
    return;
  }
  Reply(request, erNoError);
  TakeSet(request);
}

void RequestEngine::TakeSet(const Request& request) {
  TSetDescr& set = SetOf(request);
  set.ClientId = static_cast<std::int16_t>(request.clientId);
  set.Connection = context_.ConnectionOf(request.clientId);
  set.Command = 0;
  set.State = kStateNone;
}

void RequestEngine::CloseChannel(Request& request) {
  if (!IsOwner(request)) {
    ReplyWithCopy(request, erSetNotYours);
    return;
  }
  ReleaseSet(SetOf(request));
  context_.EcrUseDec(request.poller, request.LogNo);
  ReplyWithCopy(request, erNoError);
}

void RequestEngine::CloseMonitor(Request& request) {
  if (!IsOwner(request)) {
    Reply(request, erSetNotYours);
    return;
  }
  ReleaseSet(SetOf(request));
  Reply(request, erNoError);
}

void RequestEngine::CancelCommand(Request& request) {
  if (!IsOwner(request)) {
    ReplyWithCopy(request, erSetNotYours);
    return;
  }
  TSetDescr& set = SetOf(request);
  set.State = kStateNone;
  set.Command = 0;
  DropHeldBackReply(set);
  ReplyWithCopy(request, erNoError);
}

void RequestEngine::QueryChannelState(Request& request) {
  if (!IsOwner(request)) {
    ReplyWithCopy(request, erSetNotYours);
    return;
  }
  ReplyWithCopy(request, SetOf(request).State);
}

void RequestEngine::QueueCommand(Request& request) {
  if (!IsOwner(request)) {
    ReplyWithCopy(request, erSetNotYours);
    return;
  }
  TSetDescr& set = SetOf(request);
  if (set.Command != 0) {
    ReplyWithCopy(request, erEcrBusy);
    return;
  }
  if (!QueuedCommandFits(request)) {
    ReplyWithCopy(request, erBufferOverflow);
    return;
  }
  set.Command = request.Command;
  set.State = kStateQueued;
  set.Payload = request.Payload;
  set.Request = context_.NewSerial();
}

bool RequestEngine::QueuedCommandFits(const Request& request) const {
  // A SET 5 command goes to the register as its letter followed by the Payload.
  constexpr int kCommandSet = 5;
  return request.SetNo != kCommandSet || ExchangeContext::FitsTheLine(request.poller, 1 + request.Payload.size());
}

std::uint8_t RequestEngine::AnswerRefusal(const Request& request) const {
  if (!IsOwner(request)) return erSetNotYours;
  // A connection that took the SET after the message went out never saw it.
  const std::uint64_t connection = context_.EcrTable.At(request.LogNo).Set(request.SetNo).Connection;
  if (!context_.IsExchangeOfferedTo(request.LogNo, request.SetNo, connection)) return erTooLate;
  return erNoError;
}

void RequestEngine::SendDataToEcr(Request& request) {
  if (const std::uint8_t refusal = AnswerRefusal(request); refusal != erNoError) {
    ReplyWithCopy(request, refusal);
    return;
  }
  // An answer the line would cut is refused; the register still waits for one that fits.
  if (!ExchangeContext::FitsTheLine(request.poller, request.Payload.size())) {
    ReplyWithCopy(request, erBufferOverflow);
    return;
  }
  // The polling thread may have stopped waiting a moment ago (its no-answer event is still
  // on its way): then the answer goes nowhere, and the holder hears so at once.
  const bool taken = request.poller != nullptr && request.poller->SetOnLineAnswer(request.Payload);
  context_.ClearCurrentExchange();
  if (!taken) {
    ReplyWithCopy(request, erTooLate);
    return;
  }
  context_.SetExchange(request.SetNo, request.Command, request.LogNo, request.Payload, {});
}

void RequestEngine::SendDataToEcrC(Request& request) {
  request.Payload.insert(0, "C;");
  if (request.Payload.size() > kMaxMessageLength) request.Payload.resize(kMaxMessageLength);
  SendDataToEcr(request);
}

void RequestEngine::FinishExchange(Request& request) {
  if (const std::uint8_t refusal = AnswerRefusal(request); refusal != erNoError) {
    ReplyWithCopy(request, refusal);
    return;
  }
  if (request.poller != nullptr) request.poller->CancelExchange();
  context_.ClearCurrentExchange();
  ReplyWithCopy(request, erNoError);
}

}  // namespace ecr
