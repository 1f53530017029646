#pragma once
// The memory of the network-controller server's request processing and the operations that
// the client handlers, the controller events and the sale, print and receipt exchanges share:
// replies and monitor copies, notifications, the deferred reply that waits for the
// controller's delivery report (ReplyContext, one per register), the OnLine exchange that
// waits for a client's answer (PendingExchange), the answer that waits for the link to be
// free of another report (AnswerWaiting), the use counts that put registers into the
// controller's mask, and the per-register numbering kept in the settings record.
//
// Not thread-safe by itself: NcRequestEngine holds its lock around every call.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "netcontroller/requests/controller_commands.h"
#include "netcontroller/requests/ecr_session.h"
#include "netcontroller/requests/reply_context.h"
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

// The OnLine answer that tells a register to wait: the byte 0x1F, then ";;;;".
inline const std::string kHoldAnswer = std::string("\x1F") + ";;;;";

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
  // A client's answer (or hold) to the register's open offer that the link did not take
  // while another delivery report was due: it waits in its slot, the offer stays open at the
  // link, and it goes out once that report is done (ReportHandled). Ecr 0 = none.
  PendingExchange AnswerWaiting;
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
  // Only an offer of register ecr.
  void ClearPendingExchangeOf(int ecr);
  // A block of register ecr began an exchange at the link, which left every other exchange:
  // an offer of another register waits no more, an answer waiting for the link goes with its
  // register's repeat instead, and a reply still owed to ecr belongs to its exchange before.
  void NewExchangeOf(int ecr);
  bool IsPendingExchange(int ecr, int setNo) const { return Pending.Ecr == ecr && Pending.Set == setNo; }
  // A context for what goes to register ecr now, with the owner of slot setNo (none for
  // setNo 0) and the queued request it carries (0: none).
  ReplyContext MakeReplyContext(std::uint8_t setNo, std::uint8_t command, int ecr, std::string payload,
                                std::uint32_t requestNo) const;
  // Replaces register ecr's owed reply whole; what befell an earlier one does not carry over.
  void SetReplyContext(std::uint8_t setNo, std::uint8_t command, int ecr, std::string payload,
                       std::uint32_t requestNo);
  ReplyContext& OwedReply(int ecr) { return Session(ecr).Owed; }
  // Register ecr's report answers the owed reply: of an OnLine answer (or the hold), of
  // InLine data, or of either.
  bool OwesOnLineReplyFor(int ecr) const { return OwesReplyFor(ecr) && !Session(ecr).Owed.InLine(); }
  bool OwesInLineReplyFor(int ecr) const { return OwesReplyFor(ecr) && Session(ecr).Owed.InLine(); }
  bool OwesReplyFor(int ecr) const { return IsSessionEcr(ecr) && Session(ecr).Owed.Owed(); }
  // The reply owed for register ecr, with errorCode, and it is used up; nothing when none is
  // owed.
  void AnswerOwedReply(int ecr, std::uint8_t errorCode);
  // Answers `owed` with errorCode: to its client while that client still holds the SET,
  // then to the SET's monitor. SET 13's reply carries SetNo 3 while slot 3 has an owner, and
  // its copy goes to slot 14's owner. The slot is emptied while it holds the request.
  void AnswerReply(const ReplyContext& owed, std::uint8_t errorCode);
  // The owed reply of register ecr's InLine data will not come: the request stays queued
  // and gets a context of its own when it goes out again.
  void DropInLineReplyOf(int ecr);
  // The client of every owed reply that was clientId's is gone.
  void ForgetReplyOwner(std::int16_t clientId);
  // SetNo 3 while slot 3 of ecr has an owner (it shares slot 13), else 13.
  std::uint8_t CopReplySet(int ecr) const;

  // Ends register ecr's exchange at the link; another register's exchange, begun since,
  // is left alone. An answer waiting for the link to answer that exchange goes with the
  // register's repeat instead.
  void EndExchange(int ecr);
  // Writes register ecr's OnLine answer; true when the link took it. The link refuses it
  // while its exchange is no longer that register's, or while an earlier answer still
  // awaits its delivery report; the register's exchange then ends (where it still runs), so
  // that the register asks again instead of waiting for an answer that cannot come now.
  bool SendOnlineAnswer(int ecr, std::string_view answer);
  // Gives the register's open offer what slot setNo holds: a queued finish ends the
  // exchange and is answered at once; the queued answer (the slot empties) or the hold
  // answer (the slot stays held) goes out and owes its client the report. While
  // another delivery report is due the offer stays open and the slot waits (AnswerWaiting);
  // when the link has left the offer, the register's exchange ends and the slot waits for
  // its repeat. A slot emptied meanwhile only ends the exchange.
  void ServeQueuedAnswer(int ecr, int setNo);
  // A delivery report (or its refusal, or its giving up) has been handled: the link may
  // write again, and the answer waiting for it goes out.
  void ReportHandled();

  // A number for a request queued now, never 0.
  std::uint32_t NewRequestNo();

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
  std::uint32_t last_request_no_ = 0;
};

}  // namespace ecr::nc
