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
// Delivery reports: the controller's report of an OnLine answer (0D) or of InLine data (14)
// names no register. The link therefore keeps at most one of them due: while an answer or
// InLine data awaits its report, no other is written (the command returns 102 and the
// caller keeps the text queued). A report is the report of that one answer or data and is
// raised for its register, also when other blocks, of other registers or of the register
// itself, have begun exchanges meanwhile; it then changes the state of its own exchange
// only, never that of an exchange begun since. With nothing due a report belongs to the
// current register, as it always did.
// The report stays due until it comes, until a reset of the whole link (SendReset, a speed
// change with registers in the mask, the first register of an empty mask, the controller's
// reset flag, a frame too short to read) or until kReportWaitMs have passed without it. A
// report given up so is raised as OnError(register, 20, 2) on the reader thread: nobody
// knows whether the register got the text.
// A report is done only once the event it raised has been handled: the handler calls
// ReportHandled (the request processing does, under its own lock, together with the reply it
// makes of the report), or the reader ends it when the handler returns. Until then nothing
// else is written, so no answer can slip between the report and the reply it makes.
//
// InLine answers: a register whose InLine data was delivered (14 with ACK) answers with its
// next block. The link remembers that per register, so that the answer is raised as
// OnInlReceived also when another register's block came between (the controller interleaves
// the traffic of its registers); the register's block refused by the controller, or
// its removal from the mask (also before its data's delivery is reported), forgets it.
//
// Threads:
// - Assign the six events and the log before FindController; the reader thread reads them
//   from then on and raises every event on its own thread.
// - Every command (the Set*/Send*/AddEcr/RemoveEcr calls) may be called from any thread,
//   the event handlers included. Each command goes to the port whole in one write, under
//   one lock, so commands of two threads never interleave within a frame.
// - NcState, CurrentEcr and Mask are kept under the same lock; LinkState and Speed are
//   atomics; Com and Id are set by FindController before the reader starts.
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
#include "platform/serial_port.h"

namespace ecr {

class LogFile;
class TComReader;

class TNetController {
 public:
    // Ecr is the register's logical number 1..16 (0 when no register is current). ErrC of
    // the block and delivery events is the controller's status minus 1; of OnError the
    // error number (150..167, or 20 for an InLine delivery report nobody waited for).
    using TOnEcrBlk = std::function<void(TNetController& sender, int ecr, const std::string& blk, std::uint8_t errC)>;
    using TCommandNotify = std::function<void(TNetController& sender, int ecr, std::uint8_t errC)>;
    using TOnErr = std::function<void(TNetController& sender, int ecr, std::uint8_t errC, int extErr)>;

    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 9;
    static constexpr std::uint32_t kProbeBaud = 19200;
    static constexpr std::uint32_t kProbeReplyWaitMs = 1000;
    static constexpr std::size_t kIdentifyReplyLength = 12;
    static constexpr std::size_t kInlDataMaxLength = 120;
    static constexpr int kMaxEcr = 16;
    // A delivery report not here this long after its answer or data was written is given up
    // (a report comes within a few hundred ms: the text crosses the register's line in about
    // a quarter of a second at 4800 baud).
    static constexpr std::uint32_t kReportWaitMs = 5000;

    // Results of the commands.
    static constexpr int kDone = 0;
    static constexpr int kBadSpeed = 100;
    static constexpr int kWrongState = 101;
    static constexpr int kTooLong = 18;
    static constexpr int kReportDue = 102;

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

    // Probes COM1..COM9 in turn: the controller answers the identify command within 1000 ms
    // with 12 bytes ending in 0C 01 06 00. On success Com, Id, the reader and link state 0;
    // otherwise Com 0, link state 2 and "NetController not found!" in the log. A second
    // call stops the reader of the first one before it searches.
    void FindController();

    int Com() const { return com_; }
    const std::string& Id() const { return id_; }
    int Speed() const { return speed_.load(); }
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
    // (NcState 4 with CurrentEcr `ecr`); else 102, nothing written, while a delivery report is
    // due (the block stays unanswered, so the answer may follow once the report is done).
    int SendOnlAnswer(int ecr, std::string_view text);
    // InLine data for register `ecr`; 18 for more than 120 bytes, 0 when written (or without
    // a port). 101, nothing written, unless that register's InLine announcement is current
    // (NcState 1 with CurrentEcr `ecr`); else 102 while a delivery report is due.
    int SendInlData(int ecr, std::string_view text);
    // Called by the handler of an event that a delivery report (or its giving up) raised:
    // the report is done, and the next answer or data may be written. Nothing otherwise.
    void ReportHandled();

    void SetCodeTable(const CodeTable& table);
    std::string StrFromEcr(std::string_view text) const;
    std::string StrToEcr(std::string_view text) const;

 private:
    friend class TComReader;

    // What a frame makes the reader raise once the lock is released.
    struct Notice;

    // Under lock_.
    void WriteLocked(std::string_view bytes);
    // The reset of the whole link: NcState 0, no current register, the due report given up.
    void ResetLocked();
    void MarkReportDueLocked(std::uint8_t code, int ecr);
    // The register a delivery report with end byte `code` belongs to: that of the report due,
    // which is then raised (its number goes to `raised`), else the current one.
    int ReportedEcrLocked(std::uint8_t code, std::uint32_t& raised);
    bool InLineAnswerDueLocked(int ecr) const;
    void SetInLineAnswerDueLocked(int ecr, bool due);
    void RouteEcrBlockLocked(int ecr, const std::string& block, std::uint8_t status, Notice& notice);

    // The raised report with this number, if its handler did not end it, is done.
    void EndRaisedReport(std::uint32_t number);
    // For the reader: gives up a report due longer than kReportWaitMs, and raises the one
    // given up, if any.
    void RaiseGivenUpReport();

    // For the reader.
    bool WaitForInput(int timeoutMs) const;
    // Reads what is queued into `into`, at most `max` bytes; throws std::runtime_error when
    // the port fails.
    std::size_t ReadQueued(std::uint8_t* into, std::size_t max);
    void LinkAlive();
    void KeepAlive();
    // Identify commands whose replies have not come yet (the reader reads such a reply
    // whole, see TComReader).
    bool IdentifyReplyDue() const { return identify_replies_due_.load() > 0; }
    void HandleReply(std::string_view frame);
    void RaiseNotice(const Notice& notice);
    void Log(const std::string& text);

    void StopReader();

    LogFile* log_ = nullptr;
    int com_ = 0;
    std::string id_;
    std::atomic<int> speed_{4800};
    std::atomic<std::uint8_t> link_state_{2};
    std::atomic<int> identify_replies_due_{0};

    mutable std::mutex lock_;
    SerialPort port_;
    std::uint32_t mask_ = 0;
    CodeTable code_table_;
    std::uint8_t nc_state_ = 0;
    int current_ecr_ = 0;
    // The one delivery report due: the end byte of what was written (ncOnlAnswer or
    // ncInlData; 0 = none), the register it was written for, when, and its number (one per
    // write). Awaited, given up (to be raised as not confirmed), or raised (its event is
    // being handled).
    enum class ReportPhase : std::uint8_t { Awaited, GivenUp, Raised };
    std::uint8_t report_due_ = 0;
    int report_due_ecr_ = 0;
    std::uint32_t report_due_since_ = 0;
    std::uint32_t report_no_ = 0;
    ReportPhase report_phase_ = ReportPhase::Awaited;
    // The register of the due InLine data left the mask after it was written: its delivery
    // is still reported, but no answer of that exchange can come any more.
    bool report_due_ecr_left_mask_ = false;
    // Bit n-1: register n's InLine data was delivered and its answer is awaited.
    std::uint32_t inline_answers_due_ = 0;

    std::unique_ptr<TComReader> reader_;
};

}  // namespace ecr
