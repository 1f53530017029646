#pragma once
// The request engine of the register server: it owns the register table and the record of
// the exchange in progress, answers every client request, and frees what a client held
// when it goes away. It reaches the socket server through ClientSender and the polling
// thread through PollingControl, both passed to each entry point by the caller (the
// polling thread exists only while the service runs: pass null while it does not).
//
// Threads: every public operation takes the engine's one lock for its whole run and may be
// called from any thread; the client-side entry points (DispatchRequest, ClientConnected,
// ClientDisconnected, OnSelfMessage, ResetServerState) are called on the main thread by the
// socket server's and the instance messenger's events, the register-side ones on the
// polling thread inside its events. The lock is never held while the polling thread waits
// on the line or for an application's answer: the callbacks return first, and the engine's
// calls into PollingControl and ClientSender must not block or call back into the engine.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "server/client_sender.h"
#include "server/exchange_context.h"
#include "server/handler_table.h"
#include "server/polling_control.h"
#include "server/server_settings.h"
#include "server/settings_saver.h"

namespace ecr {

class TBasicCommunicationObject;

class RequestEngine {
 public:
  // versionText is the program's file version as "v" and four dot-separated numbers; the
  // identification reply carries it. settings and saver outlive the engine.
  RequestEngine(ServerSettings& settings, SettingsSaver& saver, std::string versionText,
                EngineLog log = {});
  RequestEngine(const RequestEngine&) = delete;
  RequestEngine& operator=(const RequestEngine&) = delete;

  // One message that the socket server cut from the stream of client clientId (1..500;
  // client 0 is nobody and is ignored here and in ClientDisconnected).
  void DispatchRequest(ClientSender& server, PollingControl* poller, std::uint16_t clientId,
                       std::string_view message);
  // A new connection; a client owns nothing until it opens a SET.
  void ClientConnected();
  // Frees every SET and subscriber-queue entry of the client; sends nothing.
  void ClientDisconnected(ClientSender& server, PollingControl* poller, std::uint16_t clientId);

  // An instance message. A close request (id 2) from another process whose text is the
  // administrator password sets QuitConfirmed and then, outside the lock, calls the close
  // of the main window; any other text clears QuitConfirmed.
  void OnSelfMessage(int messageId, std::string_view text, bool loopBack);
  bool QuitConfirmed() const { return quitConfirmed_.load(); }
  // Main thread, before events arrive.
  void SetCloseMainWindow(std::function<void()> closeMainWindow);

  // The old fiscal-printer option (the server's INI file), set before the service starts.
  void SetOldFPMode(bool on);

  // The stop of the service: register table, current exchange and polling flag zeroed.
  void ResetServerState();
  // The polling thread's no-answer event.
  void ClearCurrentExchange();

  // ---- the register side -------------------------------------------------------------
  // Polling thread, each inside the event of the polling thread named; poller is that
  // polling thread, server the socket server. logNo is the register's number (1..99; any
  // other number only frees the register), block a copy of what the event carries, result
  // its LinkResult byte.
  //
  // OnEcrInLine: the register's status. Records its serial number, mode and keep-alive and
  // hands over the command pending on its SET 5 (or frees the register).
  void OnEcrStatus(ClientSender& server, PollingControl* poller, int logNo, const std::string& block,
                   std::uint8_t result);
  // OnInlSended: the SET 5 command went out (result 0) or failed (the command is dropped
  // and its owner told).
  void OnCommandSent(ClientSender& server, PollingControl* poller, int logNo, std::uint8_t result);
  // OnInlReceived: the register's answer to the SET 5 command goes to its owner.
  void OnCommandAnswer(ClientSender& server, PollingControl* poller, int logNo, const std::string& block,
                       std::uint8_t result);
  // OnOnlReceived: one OnLine message of the register, taken by AcceptEcrMessage.
  void OnEcrMessage(ClientSender& server, PollingControl* poller, int logNo, const std::string& block,
                    std::uint8_t result);
  // OnOnlSended: the OnLine answer went out; the reply owed for it goes to its owner.
  void OnOnlineAnswerSent(ClientSender& server, PollingControl* poller, int logNo, std::uint8_t result);
  // The line's OnTakeBlock, on the thread that takes the register: clears accept for an
  // OnLine message that no SET of the register can receive now (the register offers it
  // again later). A message taken ends the OnLine exchange that was open.
  void AcceptEcrMessage(TBasicCommunicationObject& sender, std::uint8_t logNo, const std::string& block,
                        bool& accept);

  // Views for the status window and for tests (copies taken under the lock).
  bool PollingActive() const;
  TEcr EcrSnapshot(int logNo) const;
  TCurrentExchange CurrentExchangeSnapshot() const;
  TWaitRes WaitResSnapshot() const;
  // Runs change on the settings record under the engine's lock.
  void UpdateSettings(const std::function<void(ServerSettings&)>& change);
  // Runs action on the engine's memory under its lock (register-side callbacks and tests).
  template <typename Action>
  decltype(auto) WithContext(Action&& action) {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::forward<Action>(action)(context_);
  }

 private:
  struct Request {
    ClientSender& server;
    PollingControl* poller;
    std::uint16_t clientId;
    std::string Payload;
    std::uint8_t LogNo;
    std::uint8_t Command;
    std::uint8_t SetNo;
  };

  // To the requester alone.
  void Reply(const Request& request, std::uint8_t errorCode, std::string_view payload = {});
  // To the requester, then the same message to the owner of SET SetNo + 1.
  void ReplyWithCopy(const Request& request, std::uint8_t errorCode,
                     std::string_view payload = {});
  void CopyToNextSet(const Request& request, std::string_view message);
  bool IsOwner(const Request& request) const;
  TSetDescr& SetOf(const Request& request);

  // Appends ";" to the Payload, then the refusal of an open of SET SetNo: erSetTaken while
  // a conflicting SET (the SET itself included) has an owner, erWrongSetPassword, else 0.
  std::uint8_t OpenRefusal(Request& request);
  // The refusal of an answer or finish of the OnLine exchange: erSetNotYours, erTooLate
  // when the exchange in progress is not this register's and SET's or was offered to another
  // connection, else 0.
  std::uint8_t AnswerRefusal(const Request& request) const;
  // A SET 5 command goes to the line as it is queued, so it is measured now; a SET 13
  // request becomes the answer to a question of the register, whose form only the question
  // decides, and is measured then (Ask exchanges).
  bool QueuedCommandFits(const Request& request) const;
  void RunHandler(Handler handler, Request& request);
  void HandleServerRequest(Request& request);
  void HandleSubscription(Request& request);
  void OpenChannel(Request& request);
  void OpenMonitor(Request& request);
  void CloseChannel(Request& request);
  void CloseMonitor(Request& request);
  void CancelCommand(Request& request);
  void QueryChannelState(Request& request);
  void QueueCommand(Request& request);
  void SendDataToEcr(Request& request);
  void SendDataToEcrC(Request& request);
  void FinishExchange(Request& request);

  // The register side, under the lock.
  void NotifyClients(ClientSender& server, int SetNo, std::uint8_t Command, int LogNo,
                     std::string_view payload);
  void NotifyClientsAwaiting(ClientSender& server, PollingControl* poller, int SetNo,
                             std::uint8_t Command, int LogNo, std::string block);
  void AnswerClient(ClientSender& server, int SetNo, int LogNo, std::uint8_t ErrorCode);
  void AskFPSell(ClientSender& server, PollingControl* poller, int LogNo, const std::string& block);
  void AskFPPrint(ClientSender& server, PollingControl* poller, int LogNo, const std::string& block);
  void AskRec(ClientSender& server, PollingControl* poller, int LogNo, const std::string& block);
  void ClassifyFiscalEvent(ClientSender& server, int LogNo, int n, std::string B, bool layoutB);
  // Takes SET SetNo for the requester: a new holding, nothing pending.
  void TakeSet(const Request& request);

  mutable std::mutex mutex_;
  ExchangeContext context_;
  const std::string versionText_;
  std::atomic<bool> quitConfirmed_{false};
  std::function<void()> closeMainWindow_;
};

}  // namespace ecr
