#pragma once
// The memory of the network-controller server's request processing and the operations that
// the client handlers, the controller events and the sale, print and receipt exchanges share:
// replies and monitor copies, notifications, the deferred reply that waits for the
// controller's delivery report (ReplyContext), the OnLine exchange that waits for a client's
// answer (PendingExchange), the use counts that put registers into the controller's mask,
// and the per-register numbering kept in the settings record.
//
// Not thread-safe by itself: NcRequestEngine holds its lock around every call.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "netcontroller/requests/controller_commands.h"
#include "netcontroller/requests/ecr_session.h"
#include "netcontroller/server/nc_server_settings.h"
#include "server/client_sender.h"

namespace ecr {
class LogFile;
}

namespace ecr::nc {

// The one OnLine exchange that waits for a client's answer; Ecr 0 = none.
struct PendingExchange {
  std::uint8_t Ecr = 0;
  std::uint8_t Set = 0;
  bool operator==(const PendingExchange&) const = default;
};

// The reply a client receives once the controller reports the delivery (or failure) of what
// was sent to the register; Set 0 = nothing pending.
struct ReplyContext {
  std::uint8_t Set = 0;
  std::uint8_t Command = 0;
  std::uint8_t Ecr = 0;
  std::string Payload;
  // The owner of slot Set when the context was made: a reply is owed to that client only,
  // never to a later owner of the same SET (client ids are reused after a disconnect).
  std::int16_t ClientId = 0;
  // That client went away: its id may already name a new connection.
  bool OwnerLeft = false;
  // The slot still holds the request being delivered, and the reply empties it. False where
  // the request left the slot when it went out, so that a request queued meanwhile stays.
  bool SlotHoldsRequest = false;
};

class NcExchangeContext {
 public:
  NcExchangeContext(ClientSender& server, ControllerCommands& controller, NcServerSettings& settings,
                    std::function<void()> saveSettings, LogFile& log, std::function<std::uint32_t()> tickCount);

  ControllerCommands& Controller() { return controller_; }
  NcServerSettings& Settings() { return settings_; }
  const NcServerSettings& Settings() const { return settings_; }
  EcrSession& Session(int ecr) { return Sessions.At(ecr); }
  const EcrSession& Session(int ecr) const { return Sessions.At(ecr); }
  SetSlot& Slot(int ecr, int setNo) { return Sessions.At(ecr).Slot(setNo); }

  EcrSessionTable Sessions;
  PendingExchange Pending;
  ReplyContext Deferred;
  bool ControllerStarted = false;
  bool QuitConfirmed = false;

  // ---- replies ------------------------------------------------------------------------
  // Sends one message to one client; nothing for client 0 or below, and a failing send is
  // only logged (the socket server drops a client whose socket fails).
  void SendToClient(std::int16_t clientId, std::string_view message);
  // One reply message (BlockLen 0) to clientId.
  void Reply(std::int16_t clientId, std::uint8_t setNo, std::uint8_t command, std::uint8_t logNo,
             std::uint8_t errorCode, std::string_view payload = {});
  // The reply to clientId, then the same message to the owner of the monitor SET setNo + 1
  // of register logNo (setNo odd; nothing more for an even setNo).
  void ReplyWithMonitorCopy(std::int16_t clientId, std::uint8_t setNo, std::uint8_t command, std::uint8_t logNo,
                            std::uint8_t errorCode, std::string_view payload = {});
  // The reply to the owners of slot setNo and slot setNo + 1 (below 14) of register ecr.
  void SendNotification(std::uint8_t setNo, std::uint8_t command, std::string_view payload, int ecr);

  // ---- the exchange in progress -------------------------------------------------------
  void SetPendingExchange(int ecr, int setNo);
  void ClearPendingExchange() { Pending = {}; }
  bool IsPendingExchange(int ecr, int setNo) const { return Pending.Ecr == ecr && Pending.Set == setNo; }
  // Replaces the context whole and records the owner of slot setNo with it (none for
  // setNo 0); what befell an earlier context's owner does not carry over.
  void SetReplyContext(std::uint8_t setNo, std::uint8_t command, int ecr, std::string payload,
                       bool slotHoldsRequest);
  // The reply owed in the ReplyContext, with errorCode; nothing when none is owed. SET 13's
  // reply carries SetNo 3 while slot 3 has an owner, and its copy goes to the monitor of the
  // SET it carries.
  void SendPendingReply(std::uint8_t errorCode);
  // The client of the owed reply, if it was clientId, is gone.
  void ForgetReplyOwner(std::int16_t clientId);
  // The owed reply belongs to the client who holds slot setNo of ecr now.
  bool ReplyOwedTo(int ecr, int setNo) const;
  // SetNo 3 while slot 3 of ecr has an owner (it shares slot 13), else 13.
  std::uint8_t CopReplySet(int ecr) const;

  // ---- use counts ---------------------------------------------------------------------
  void EcrUseInc(int ecr);
  void EcrUseDec(int ecr);

  // ---- numbering (ecr_numbering.cpp) --------------------------------------------------
  std::int32_t EcrNotifyId(int ecr);
  // A fresh id, the sequence back to 1 and the settings saved; returns the id in force.
  std::int32_t NewEcrNotifyId(int ecr);
  // Returns the sequence and advances it; after 65535 it goes on with 1, the value every
  // fresh id starts with.
  std::uint16_t NextEcrSequence(int ecr);
  std::uint16_t CurrentEcrSequence(int ecr) const;
  // True when block equals the register's last block and arrived less than 80,000 ms after
  // it (elapsed time on the wrapping clock); every block refreshes the time.
  bool IsRepeatedBlock(int ecr, std::string_view block);
  void SaveSettings();

  void Log(const std::string& text);

 private:
  ClientSender& server_;
  ControllerCommands& controller_;
  NcServerSettings& settings_;
  std::function<void()> save_settings_;
  LogFile& log_;
  std::function<std::uint32_t()> tick_count_;
};

}  // namespace ecr::nc
