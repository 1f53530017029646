#pragma once
// The request processing of the network-controller server: the table of the 16 registers
// behind the controller with one slot per SET, the client requests that open, close, queue,
// answer, hold, finish and cancel, and the controller's six events that hand queued requests
// to the registers, forward their OnLine blocks to the clients and answer the clients once
// the controller reports a delivery or a failure.
//
// Threads: the client entry points (HandleClientMessage, ClientDisconnected, OnSelfMessage)
// run on the main thread, the controller events (Handle* below them) on the controller
// link's reader thread, the monitor refresh and the settings calls on the main thread.
// Every public call runs under one lock of the engine, held for the whole call, so the
// calls run one at a time; the lock is never held while waiting for the line. Replies go
// out through the ClientSender from whichever thread made them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "netcontroller/requests/controller_commands.h"
#include "netcontroller/requests/ecr_session.h"
#include "netcontroller/requests/nc_exchange_context.h"
#include "netcontroller/server/nc_server_settings.h"
#include "server/client_sender.h"

namespace ecr {
class LogFile;
}

namespace ecr::nc {

// One served register as the monitor shows it.
struct MonitorRow {
  int Ecr = 0;
  std::int32_t SerialNumber = 0;
  std::uint8_t Mode = 0;  // 0 off, 1 InLine, 2 OnLine, 3 printing; other values as stored
  std::string Sets;       // "s:client;" for each held SET in SET order, cut to 80
};

struct NcRequestEngineParts {
  ClientSender& Server;
  ControllerCommands& Controller;
  // The record the engine numbers notifications in; the owner keeps it alive.
  NcServerSettings& Settings;
  // Writes Settings to the settings file; called inside the engine's lock.
  std::function<void()> SaveSettings;
  LogFile& Log;
  // Milliseconds of a clock that may wrap; the repeat check of OnLine blocks uses it.
  std::function<std::uint32_t()> TickCount;
};

class NcRequestEngine {
 public:
  explicit NcRequestEngine(NcRequestEngineParts parts);
  ~NcRequestEngine();
  NcRequestEngine(const NcRequestEngine&) = delete;
  NcRequestEngine& operator=(const NcRequestEngine&) = delete;

  // Main thread: the socket server's events.
  void HandleClientMessage(std::int16_t ClientId, std::string_view Message);
  void ClientDisconnected(std::int16_t ClientId);
  // Main thread: an instance message. True when it was a close request that carried the
  // server password (QuitConfirmed is then true and the window should close).
  bool OnSelfMessage(int MessageId, std::string_view Text, bool LoopBack);
  bool QuitConfirmed() const;

  // Reader thread: the controller link's events.
  void HandleEcrInLine(int Ecr, const std::string& Block);
  void HandleInlSended(int Ecr, std::uint8_t Status);
  void HandleInlReceived(int Ecr, const std::string& Answer);
  void HandleOnlineBlock(int Ecr, const std::string& Block);
  void HandleOnlSended(int Ecr, std::uint8_t Status);
  void HandleControllerError(int Ecr, std::uint8_t ErrC, int ExtErr);

  // Start-up: no exchange pending and the controller not started.
  void ClearPendingExchangeAndStart();
  bool ControllerStarted() const;

  // Main thread, once a second while the monitor is shown: counts every served register's
  // KeepAlive down (Mode 0 when it has run out) and returns the served registers in order.
  std::vector<MonitorRow> RefreshMonitor();

  // Main thread: reads or changes the settings record under the engine's lock.
  void WithSettings(const std::function<void(NcServerSettings&)>& change);
  void SaveSettings();

  // Any thread: copies taken under the lock, for views and tests. ecr 1..16 (another number
  // gives an empty session and "Other state").
  EcrSession SessionSnapshot(int ecr) const;
  PendingExchange PendingExchangeSnapshot() const;
  // The register and SET of the write that waits for the link to take it, if any.
  PendingExchange WaitingWriteSnapshot() const;
  // The reply owed for what was last written to register ecr, of an OnLine answer or of
  // InLine data.
  ReplyContext ReplyContextSnapshot(int ecr, WriteKind kind = WriteKind::OnLine) const;
  std::string ExchangeStateName(int ecr) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ecr::nc
