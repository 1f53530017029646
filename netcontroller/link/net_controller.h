#pragma once

// The PC end of the network-controller link: finds the controller on COM1..COM9, writes
// every command to it, keeps the mask of served registers and the state of the one exchange
// the controller runs with a register, and raises six events for what the controller
// reports (through its reader thread, see TComReader).
//
// Text to and from the registers goes through a private copy of a code table (the first
// table of the network-controller server until SetCodeTable); events carry the translated
// text, commands are translated when they are written.
//
// Exchange state (NcState) for the current register (CurrentEcr):
//   0 no exchange, 1 InLine announced (InLine data may be sent), 2 InLine data written,
//   3 InLine data delivered (the register's answer awaited), 4 OnLine block received (an
//   answer may be sent), 5 OnLine answer written.
// Link state: 0 alive, 1 one keep-alive unanswered, 2 lost (also before a successful search).
//
// The exchange state, the delivery reports (one due per kind of write: an OnLine answer never
// waits for InLine data's report, nor InLine data for an answer's) and the InLine answers
// awaited are NcLink's; see there. A report not come within kReportWaitMs is given up and
// raised as OnError(register, 20, 2) on the reader thread: nobody knows whether the register
// got the text. A report is done only once the event it raised has been handled: the handler
// calls ReportHandled (the request processing does, under its own lock, together with the
// reply it makes of the report), or the reader ends it when the handler returns. Until then
// nothing else of its kind is written, so no answer can slip between the report and the reply
// it makes.
//
// Threads:
// - Assign the six events, the log and the clock before FindController; the reader thread
//   reads them from then on and raises every event on its own thread.
// - Every command (the Set*/Send*/AddEcr/RemoveEcr calls) may be called from any thread,
//   the event handlers included. Each command goes to the port whole in one write, under
//   one lock, so commands of two threads never interleave within a frame.
// - NcState, CurrentEcr, Mask and Speed are kept under the same lock; LinkState is an
//   atomic; Com and Id are set by FindController before the reader starts.
// - FindController and destruction belong to the owner's thread. Destruction writes the
//   empty mask, stops the reader and waits for it, and closes the port; call it neither
//   from an event handler nor while another thread still issues commands.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/code_tables.h"
#include "netcontroller/link/nc_link.h"
#include "platform/serial_port.h"
#include "platform/tick_count.h"

namespace ecr {

class LogFile;
class TComReader;

class TNetController {
 public:
    // Ecr is the register's logical number 1..16 (0 when no register is current). ErrC of
    // the block and delivery events is the controller's status minus 1; of OnError the
    // error number (150..167; 20 with ExtErr 1 for an InLine delivery report nobody waited
    // for, with ExtErr 2 for a report given up).
    using TOnEcrBlk = std::function<void(TNetController& sender, int ecr, const std::string& blk, std::uint8_t errC)>;
    using TCommandNotify = std::function<void(TNetController& sender, int ecr, std::uint8_t errC)>;
    using TOnErr = std::function<void(TNetController& sender, int ecr, std::uint8_t errC, int extErr)>;

    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 9;
    static constexpr std::uint32_t kProbeBaud = 19200;
    static constexpr std::uint32_t kProbeReplyWaitMs = 1000;
    static constexpr std::size_t kIdentifyReplyLength = 12;
    static constexpr std::size_t kInlDataMaxLength = nc::NcLink::kInlDataMaxLength;
    static constexpr int kMaxEcr = nc::NcLink::kMaxEcr;
    static constexpr std::uint32_t kReportWaitMs = nc::DeliveryReport::kReportWaitMs;

    // Results of the commands.
    static constexpr int kDone = nc::kLinkDone;
    static constexpr int kBadSpeed = nc::kLinkBadSpeed;
    static constexpr int kWrongState = nc::kLinkWrongState;
    static constexpr int kTooLong = nc::kLinkTooLong;
    static constexpr int kReportDue = nc::kLinkReportDue;

    TNetController();
    ~TNetController();
    TNetController(const TNetController&) = delete;
    TNetController& operator=(const TNetController&) = delete;

    TOnEcrBlk OnEcrInLine;
    TCommandNotify OnInlSended;
    TCommandNotify OnOnlSended;
    TOnEcrBlk OnInlReceived;
    TOnEcrBlk OnOnlReceived;
    TOnErr OnError;

    void SetLog(LogFile& log);  // default: the process log
    // The milliseconds (wrapping) that the delivery reports' waits are measured on; default
    // the tick count. Tests move it on instead of waiting.
    void SetClock(std::function<std::uint32_t()> clock);

    // Probes COM1..COM9 in turn: the controller answers the identify command within 1000 ms
    // with 12 bytes ending in 0C 01 06 00. On success Com, Id, the reader and link state 0;
    // otherwise Com 0, link state 2 and "NetController not found!" in the log. A second
    // call stops the reader of the first one before it searches.
    void FindController();

    int Com() const { return com_; }
    const std::string& Id() const { return id_; }
    int Speed() const;
    std::uint8_t LinkState() const { return link_state_.load(); }
    std::uint8_t NcState() const;
    int CurrentEcr() const;
    std::uint32_t Mask() const;

    // 100 for a speed other than 4800 and 9600 (nothing sent), else 0. With registers in the
    // mask the mask is emptied around the speed command, restored, and the controller reset.
    int SetSpeed(int speed);
    // Writes the mask command with `mask`; the kept mask does not change.
    int SetMask(std::uint16_t mask);
    // Adds register `ecr` (1..16) to the mask and writes it; resets the controller when the
    // mask was empty. False, nothing sent, for a number outside 1..16.
    bool AddEcr(int ecr);
    // Removes register `ecr` (1..16) from a non-empty mask and writes it. False, nothing
    // sent, for a number outside 1..16.
    bool RemoveEcr(int ecr);
    void SendStart();
    void SendStop();
    void SendIdentify();
    // NcState 0 and CurrentEcr 0, then the reset command, whichever register's exchange
    // runs; returns 0.
    int SendReset();
    // Ends register `ecr`'s exchange as SendReset does, but only while that exchange, or
    // none, is under way: true when the reset was written. False, nothing written, while
    // another register's exchange runs (the block that began it ended `ecr`'s at the link,
    // and a reset now would end the other register's).
    bool ResetExchangeOf(int ecr);
    // The OnLine answer for register `ecr`; 0 when written (or without a port). 101, nothing
    // written, unless the link holds an unanswered OnLine block of that very register
    // (NcState 4 with CurrentEcr `ecr`); else 102, nothing written, while an earlier answer's
    // report is due (the block stays unanswered, so the answer may follow once it is done).
    int SendOnlAnswer(int ecr, std::string_view text);
    // InLine data for register `ecr`; 18 for more than 120 bytes, 0 when written (or without
    // a port). 101, nothing written, unless that register's InLine announcement is current
    // (NcState 1 with CurrentEcr `ecr`); else 102 while earlier InLine data's report is due.
    int SendInlData(int ecr, std::string_view text);
    // Called by the handler of an event that a delivery report (or its giving up) raised:
    // the report is done, and the next write of its kind may go out. Nothing otherwise.
    void ReportHandled();
    // While such an event is handled: the end byte of its report (0x0D for an OnLine answer,
    // 0x14 for InLine data); 0 during any other event.
    std::uint8_t ReportInHand() const;
    // Register `ecr`'s answer (code 0x0D) or InLine data (0x14) awaiting its report owes
    // nobody a reply any more: it is given up without an event (see NcLink::ForgetReport).
    void ForgetReport(int ecr, std::uint8_t code);

    void SetCodeTable(const CodeTable& table);
    std::string StrFromEcr(std::string_view text) const;
    std::string StrToEcr(std::string_view text) const;

 private:
    friend class TComReader;

    // For the reader.
    bool WaitForInput(int timeoutMs) const;
    // Reads what is queued into `into`, at most `max` bytes; throws std::runtime_error when
    // the port fails.
    std::size_t ReadQueued(std::uint8_t* into, std::size_t max);
    void LinkAlive();
    void KeepAlive();
    // Identify commands whose replies have not come yet (the reader reads such a reply
    // whole, see TComReader).
    bool IdentifyReplyDue() const;
    void HandleReply(std::string_view frame);
    // Raises every report given up by now (see NcLink::TakeGivenUpReport).
    void RaiseGivenUpReports();
    // Raises the notice's event, then ends its report if the handler did not.
    void Raise(const nc::NcNotice& notice);
    void RaiseNotice(const nc::NcNotice& notice);
    void Log(const std::string& text);

    void StopReader();

    LogFile* log_ = nullptr;
    int com_ = 0;
    std::string id_;
    std::atomic<std::uint8_t> link_state_{2};

    mutable std::mutex lock_;
    SerialPort port_;
    std::function<std::uint32_t()> clock_ = [] { return TickCount(); };
    nc::NcLink link_;

    std::unique_ptr<TComReader> reader_;
};

}  // namespace ecr
