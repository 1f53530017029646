#pragma once
// The memory of the network-controller server's request processing and the operations that
// the client handlers, the controller events and the sale, print and receipt exchanges share:
// replies and monitor copies, notifications, the deferred replies that wait for the
// controller's delivery reports (ReplyContext, one per register and kind of write), the OnLine
// exchange that waits for a client's answer (PendingExchange), the write that waits for the
// link to be free of another report of its kind (WaitingWrite), the use counts that put
// registers into the controller's mask, and the per-register numbering kept in the settings
// record.
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

class NcExchangeContext;

// A write that the register's open exchange waits for while the link still awaits (or
// handles) the report of an earlier write of the same kind: a client's answer or hold to an
// offer, a sale, print or receipt operation, InLine data for an announcement. The offer or
// announcement stays open at the link, and the exchange is served again once that report is
// done (ReportHandled). It ends with its exchange: at any register's block (the link has left
// the exchange), at the exchange's end, when its SET's owner leaves. Ecr 0 = none.
struct WaitingWrite {
  std::uint8_t Ecr = 0;
  std::uint8_t Set = 0;  // the slot whose request waits
  std::string Block;     // the working block of a sale, print or receipt exchange
  // Serves the exchange again (it may wait once more).
  void (*Serve)(NcExchangeContext& context, const WaitingWrite& waiting) = nullptr;
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
  // At most one: the link runs one exchange at a time.
  WaitingWrite Waiting;
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
  // an offer of another register waits no more, a write waiting for the link goes with its
  // register's repeat instead, and the replies still owed to ecr belong to its exchanges
  // before.
  void NewExchangeOf(int ecr);
  bool IsPendingExchange(int ecr, int setNo) const { return Pending.Ecr == ecr && Pending.Set == setNo; }
  // A context for what goes to register ecr now, with the owner of slot setNo (none for
  // setNo 0) and the queued request it carries (0: none).
  ReplyContext MakeReplyContext(std::uint8_t setNo, std::uint8_t command, int ecr, std::string payload,
                                std::uint32_t requestNo) const;
  // Replaces register ecr's owed reply of this kind whole; what befell an earlier one does
  // not carry over.
  void SetReplyContext(WriteKind kind, std::uint8_t setNo, std::uint8_t command, int ecr, std::string payload,
                       std::uint32_t requestNo);
  ReplyContext& OwedReply(int ecr, WriteKind kind) { return Session(ecr).Owed(kind); }
  bool OwesReplyFor(int ecr, WriteKind kind) const { return IsSessionEcr(ecr) && Session(ecr).Owed(kind).Owed(); }
  // The reply owed for register ecr's write of this kind, with errorCode, and it is used up;
  // nothing when none is owed.
  void AnswerOwedReply(int ecr, WriteKind kind, std::uint8_t errorCode);
  // A failure other than the write's own report answers that reply with errorCode; the link
  // no longer awaits the report (it swallows it should it come late).
  void FailOwedReply(int ecr, WriteKind kind, std::uint8_t errorCode);
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
  // is left alone. A write waiting for the link in that exchange goes with the register's
  // repeat instead.
  void EndExchange(int ecr);
  // Writes register ecr's OnLine answer; true when the link took it. While an earlier
  // answer still awaits its report the exchange waits for the link (`ifBusy`); when the link
  // no longer holds the register's block the exchange ends (where it still runs), so that the
  // register asks again.
  bool SendOnlineAnswer(int ecr, std::string_view answer, const WaitingWrite& ifBusy);
  // Gives the register's open offer what slot setNo holds: a queued finish ends the
  // exchange and is answered at once; the queued answer (the slot empties) or the hold
  // answer (the slot stays held) goes out and owes its client the report. While an earlier
  // answer's report is due the offer stays open and the slot waits (Waiting); when the link
  // has left the offer, the register's exchange ends and the slot waits for its repeat. A
  // slot emptied meanwhile only ends the exchange.
  void ServeQueuedAnswer(int ecr, int setNo);
  // A delivery report (or its refusal, or its giving up) has been handled: the link may
  // write the next of its kind, and the write waiting for the link is served again.
  void ReportHandled();
  // The owner of working SET setNo of ecr has gone (a close or a disconnect): an offer that
  // waits for that SET's answer, or a write of it waiting for the link, ends the register's
  // exchange at once, so that its next block is offered anew.
  void SetOwnerLeft(int ecr, int setNo);

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
