#include "server/exchange_context.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "server/client_message.h"

namespace ecr {

ExchangeContext::ExchangeContext(ServerSettings& settings, SettingsSaver& saver, EngineLog log)
    : settings_(settings), saver_(saver), log_(std::move(log)) {}

void ExchangeContext::Reset() {
  EcrTable = TEcrs{};
  CurrentExchange = TCurrentExchange{};
  PollingActive = 0;
  connections_.clear();
}

std::uint64_t ExchangeContext::ConnectionOf(int clientId) {
  std::uint64_t& connection = connections_[clientId];
  if (connection == 0) connection = NewSerial();
  return connection;
}

void ExchangeContext::EndConnection(int clientId) { connections_.erase(clientId); }

void ExchangeContext::SetCurrentExchange(int ecr, int set) {
  CurrentExchange.Ecr = static_cast<std::uint8_t>(ecr);
  CurrentExchange.Set = static_cast<std::uint8_t>(set);
  CurrentExchange.Connection = 0;
  if (ecr >= 1 && ecr <= kMaxLogNo && set >= 1 && set <= kSetCount) {
    CurrentExchange.Connection = EcrTable.At(ecr).Set(set).Connection;
  }
}

void ExchangeContext::ClearCurrentExchange() { CurrentExchange = TCurrentExchange{}; }

bool ExchangeContext::IsCurrentExchange(int ecr, int set) const {
  return CurrentExchange.Ecr == ecr && CurrentExchange.Set == set;
}

bool ExchangeContext::IsExchangeOfferedTo(int ecr, int set, std::uint64_t connection) const {
  return IsCurrentExchange(ecr, set) && CurrentExchange.Connection == connection;
}

void ExchangeContext::SetExchange(std::uint8_t SetNo, std::uint8_t Command, std::uint8_t LogNo,
                                  std::string_view Payload, std::string_view Block) {
  WaitRes.SetNo = SetNo;
  WaitRes.Command = Command;
  WaitRes.LogNo = LogNo;
  WaitRes.Payload.assign(Payload);
  WaitRes.Block.assign(Block);
  WaitRes.Deferred = 0;
  WaitRes.Connection = 0;
  WaitRes.Request = 0;
  if (SetNo >= 1 && SetNo <= kSetCount && LogNo >= 1 && LogNo <= kMaxLogNo) {
    const TSetDescr& asker = EcrTable.At(LogNo).Set(SetNo);
    WaitRes.Connection = asker.Connection;
    WaitRes.Request = asker.Request;
  }
}

TSetDescr* ExchangeContext::PendingOwedRequest() {
  if (WaitRes.SetNo < 1 || WaitRes.SetNo > kSetCount || WaitRes.LogNo < 1 || WaitRes.LogNo > kMaxLogNo) {
    return nullptr;
  }
  // Every queued command has a number of its own, and a SET given back drops its command.
  TSetDescr& set = EcrTable.At(WaitRes.LogNo).Set(WaitRes.SetNo);
  if (set.Command == 0 || set.Request != WaitRes.Request) return nullptr;
  return &set;
}

bool ExchangeContext::FitsTheLine(const PollingControl* poller, std::size_t length) {
  return poller == nullptr || length <= poller->BlockCapacity();
}

void ExchangeContext::AnswerCurrentExchange(ClientSender& server, std::uint8_t ErrorCode) {
  if (WaitRes.SetNo == 0) return;
  // A reply context naming no register or SET of the table has nowhere to go.
  if (WaitRes.SetNo > kSetCount || WaitRes.LogNo < 1 || WaitRes.LogNo > kMaxLogNo) return;
  TSetDescr& set = EcrTable.At(WaitRes.LogNo).Set(WaitRes.SetNo);
  if (WaitRes.Deferred == 1) {
    set.Saved = 1;
    set.SavedPayload = WaitRes.Payload;
    set.SavedCommand = WaitRes.Command;
    set.SavedBlock = WaitRes.Block;
    set.SavedConnection = WaitRes.Connection;
    WaitRes.Deferred = 0;
    WaitRes.Command = WaitRes.NextCommand;
  }
  // A command cancelled and queued again, or queued by the SET's next owner, waits for the
  // next exchange.
  if (TSetDescr* done = PendingOwedRequest()) {
    done->Command = 0;
    done->State = kStateNone;
  }
  if (set.Saved == 1 && OldFPMode) return;
  const std::string message = BuildClientMessage(WaitRes.SetNo, WaitRes.Command, WaitRes.LogNo,
                                                 ErrorCode, WaitRes.Block, WaitRes.Payload);
  if (set.Connection == WaitRes.Connection) SendToClient(server, set.ClientId, message);
  if (WaitRes.SetNo % 2 == 1) SendToSetOwner(server, WaitRes.LogNo, WaitRes.SetNo + 1, message);
}

void ExchangeContext::SendToClient(ClientSender& server, int clientId, std::string_view message) {
  if (clientId <= 0) return;
  try {
    server.SendData(static_cast<std::uint16_t>(clientId), message);
  } catch (const std::exception&) {
    // The engine does not look at the outcome of a send.
  }
}

void ExchangeContext::SendToSubscribers(ClientSender& server, const TEcr& ecr,
                                        std::string_view message) {
  const std::size_t count = std::min<std::size_t>(ecr.QueueCount, kSubscriberQueueLength);
  for (std::size_t i = 0; i < count; ++i) SendToClient(server, ecr.Queue[i], message);
}

bool ExchangeContext::LeaveQueue(TEcr& ecr, int clientId) {
  const std::size_t count = std::min<std::size_t>(ecr.QueueCount, kSubscriberQueueLength);
  for (std::size_t i = 0; i < count; ++i) {
    if (ecr.Queue[i] != clientId) continue;
    for (std::size_t j = i; j + 1 < count; ++j) ecr.Queue[j] = ecr.Queue[j + 1];
    ecr.Queue[count - 1] = 0;
    ecr.QueueCount = static_cast<std::uint8_t>(count - 1);
    return true;
  }
  return false;
}

void ExchangeContext::LeaveQueueWholly(TEcr& ecr, int clientId) {
  while (LeaveQueue(ecr, clientId)) {
  }
}

void ExchangeContext::SendToSetOwner(ClientSender& server, int logNo, int setNo,
                                     std::string_view message) {
  if (setNo < 1 || setNo > kSetCount || logNo < 1 || logNo > kMaxLogNo) return;
  SendToClient(server, EcrTable.At(logNo).Set(setNo).ClientId, message);
}

void ExchangeContext::EcrUseInc(PollingControl* poller, int ecr) {
  TEcr& record = EcrTable.At(ecr);
  if (record.UseCount == 0 && poller != nullptr) {
    try {
      poller->AddEcr(ecr);
    } catch (const std::exception& error) {
      if (log_) log_(error.what());
    }
  }
  if (record.UseCount == 0 && PollingActive == 0) {
    if (poller != nullptr) {
      poller->StartNoise();
      poller->CancelExchange();
    }
    // The exchange that the cancel ended takes no answer any more.
    ClearCurrentExchange();
    PollingActive = 1;
  }
  ++record.UseCount;
}

void ExchangeContext::EcrUseDec(PollingControl* poller, int ecr) {
  TEcr& record = EcrTable.At(ecr);
  if (record.UseCount == 0) return;
  --record.UseCount;
  if (record.UseCount != 0) return;
  if (poller != nullptr) {
    try {
      poller->RemoveEcr(ecr);
    } catch (const std::exception& error) {
      if (log_) log_(error.what());
    }
  }
  for (const TEcr& other : EcrTable.Ecrs) {
    if (other.UseCount > 0) return;
  }
  PollingActive = 0;
  if (poller != nullptr) poller->StopNoise();
}

bool ExchangeContext::IsRepeatedBlock(int ecr, std::string_view block) {
  TEcr& record = EcrTable.At(ecr);
  if (record.LastBlock == block) {
    if (log_) log_("Repeated block: " + std::string(block));
    return true;
  }
  record.LastBlock.assign(block);
  return false;
}

std::int32_t ExchangeContext::TakeNextNotifyId() {
  const std::int32_t id = settings_.NextNotifyId;
  // Wraps instead of overflowing a signed integer.
  settings_.NextNotifyId = static_cast<std::int32_t>(static_cast<std::uint32_t>(id) + 1u);
  return id;
}

std::int32_t ExchangeContext::EcrNotifyId(int ecr) {
  EcrSettings& counters = settings_.Ecr(ecr);
  if (counters.NotifyId == 0) counters.NotifyId = TakeNextNotifyId();
  return counters.NotifyId;
}

std::int32_t ExchangeContext::NewEcrNotifyId(int ecr) {
  const std::int32_t inForce = EcrNotifyId(ecr);
  EcrSettings& counters = settings_.Ecr(ecr);
  counters.NotifyId = TakeNextNotifyId();
  counters.Sequence = 1;
  saver_.Save();
  return inForce;
}

std::uint16_t ExchangeContext::NextEcrSequence(int ecr) {
  EcrSettings& counters = settings_.Ecr(ecr);
  const std::uint16_t sequence = counters.Sequence;
  counters.Sequence = sequence == 0xFFFF ? std::uint16_t{1} : static_cast<std::uint16_t>(sequence + 1);
  return sequence;
}

std::uint16_t ExchangeContext::CurrentEcrSequence(int ecr) const { return settings_.Ecr(ecr).Sequence; }

}  // namespace ecr
