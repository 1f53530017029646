#pragma once

// The PC end of the controller link as a protocol without a port: it writes every command
// through a writer, reads each of the controller's frames into what the link raises (a
// notice), and keeps the mask of served registers, the state of the one exchange that the
// controller runs with a register, the delivery reports due (one per kind of write, see
// DeliveryReport) and the registers whose InLine answer is awaited. TNetController puts it
// on the serial port, under its lock, with the reader thread; tests drive it directly.
//
// Exchange state (NcState) for the current register (CurrentEcr):
//   0 no exchange, 1 InLine announced (InLine data may be sent), 2 InLine data written,
//   3 InLine data delivered (the register's answer awaited), 4 OnLine block received (an
//   answer may be sent), 5 OnLine answer written.
//
// Delivery reports: an OnLine answer's report (0D) is that of the one answer that awaits it,
// InLine data's (14) that of the one InLine data; each is raised for the register it was
// written for, also when other blocks, of other registers or of the register itself, have
// begun exchanges meanwhile, and it changes the state of its own exchange only. While an
// answer awaits its report no other answer is written (102), and no other InLine data while
// InLine data does; the two kinds never wait for each other. A reset of the link, or a frame
// too short to read (noise), says nothing about a report: it stays due. A report not come
// within DeliveryReport::kReportWaitMs is given up and raised as Error(register, 20, 2).
// A report is done only once the event it raised has been handled (ReportHandled, or
// EndRaisedReport once the handler has returned).
//
// InLine answers: a register whose InLine data was delivered (14 with ACK) answers with its
// next block, whatever it sent between (the controller interleaves the traffic of its
// registers, and the delivery may be reported after the register's next exchange began). The
// link remembers that per register; the register's block refused by the controller, or its
// removal from the mask (also before its data's delivery is reported), forgets it.
//
// Not thread-safe: TNetController holds its lock around every call.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/code_tables.h"
#include "netcontroller/link/nc_delivery_report.h"

namespace ecr::nc {

// Results of the commands.
inline constexpr int kLinkDone = 0;
inline constexpr int kLinkBadSpeed = 100;
inline constexpr int kLinkWrongState = 101;
inline constexpr int kLinkTooLong = 18;
inline constexpr int kLinkReportDue = 102;

// What a frame, or a report's giving up, makes the link raise.
struct NcNotice {
    enum class Kind { None, EcrInLine, InlSended, OnlSended, InlReceived, OnlReceived, Error };
    Kind kind = Kind::None;
    int ecr = 0;
    std::string block;  // translated from the register's character set
    std::uint8_t errC = 0;
    int extErr = 0;
    // The number of the delivery report this notice raises (EndRaisedReport), 0 for none.
    std::uint32_t report = 0;
};

class NcLink {
 public:
    using Writer = std::function<void(std::string_view bytes)>;
    using Clock = std::function<std::uint32_t()>;  // milliseconds, wrapping
    using Logger = std::function<void(const std::string& text)>;

    static constexpr std::size_t kInlDataMaxLength = 120;
    static constexpr int kMaxEcr = 16;

    NcLink(Writer write, Clock clock, Logger log);

    // The port is open (commands are written) or not (every command is silently not sent,
    // and SendOnlAnswer and SendInlData report 0). Opening forgets every exchange and report.
    void SetPortOpen(bool open);
    bool PortOpen() const { return port_open_; }

    std::uint8_t NcState() const { return nc_state_; }
    int CurrentEcr() const { return current_ecr_; }
    std::uint32_t Mask() const { return mask_; }
    int Speed() const { return speed_; }

    // The commands, as TNetController's.
    int SetSpeed(int speed);
    void SetMask(std::uint16_t mask);
    bool AddEcr(int ecr);
    bool RemoveEcr(int ecr);
    void SendStart();
    void SendStop();
    void SendIdentify();
    // The identify command after five seconds without a byte from the controller: the
    // identify answers still owed are taken as lost.
    void SendKeepAlive();
    void SendReset();
    bool ResetExchangeOf(int ecr);
    int SendOnlAnswer(int ecr, std::string_view text);
    int SendInlData(int ecr, std::string_view text);

    // The handler of the raised delivery report has handled it.
    void ReportHandled();
    // A write of kind `code` (0x0D, 0x14) awaits its report, or its report is being handled:
    // the next write of that kind is refused (102).
    bool ReportDue(std::uint8_t code) const { return !(code == onl_report_.Code() ? onl_report_ : inl_report_).Free(); }
    // The end byte (0x0D, 0x14) of the delivery report whose event is being handled, 0 when
    // none is.
    std::uint8_t ReportInHand() const;
    // Register `ecr`'s write of kind `code` (0x0D, 0x14) that awaits its report owes nobody
    // a reply any more (a failure has answered its client): it is given up without an event,
    // and its late report will be swallowed. Nothing when no such write awaits.
    void ForgetReport(int ecr, std::uint8_t code);

    // A frame: every byte up to and including the first 0x00.
    NcNotice HandleFrame(std::string_view frame);
    // Gives up the report of one write that has waited too long (its notice; Kind::None
    // when there is none). Call it until it gives None, before the frames read since.
    NcNotice TakeGivenUpReport();
    // The raised report with this number, if its handler did not end it, is done.
    void EndRaisedReport(std::uint32_t number);

    // Identify commands whose replies have not come yet (at most a few are counted).
    int IdentifyRepliesDue() const;

    void SetCodeTable(const CodeTable& table) { code_table_ = table; }
    const CodeTable& Table() const { return code_table_; }

 private:
    DeliveryReport& ReportOf(std::uint8_t code) { return code == onl_report_.Code() ? onl_report_ : inl_report_; }
    void Write(std::string_view bytes);
    void WriteReset();
    // The reset of the whole link: NcState 0, no current register. The reports due stay.
    void ResetExchange();
    void GiveUp(DeliveryReport& report);
    std::uint32_t NextReportNumber();
    bool InLineAnswerDue(int ecr) const;
    void SetInLineAnswerDue(int ecr, bool due);
    void RouteEcrBlock(int ecr, const std::string& block, std::uint8_t status, NcNotice& notice);
    // A delivery report frame: credited to its own write (`report`) or, with nothing
    // awaited, to the current register as the controller's protocol has it.
    void HandleReport(DeliveryReport& report, std::uint8_t status, bool ack, NcNotice& notice);
    void HandleIdentifyAnswer(std::string_view frame);

    Writer write_;
    Clock clock_;
    Logger log_;
    bool port_open_ = false;
    CodeTable code_table_;
    std::uint32_t mask_ = 0;
    int speed_ = 4800;
    std::uint8_t nc_state_ = 0;
    int current_ecr_ = 0;
    DeliveryReport onl_report_;
    DeliveryReport inl_report_;
    std::uint32_t last_report_number_ = 0;
    // Bit n-1: register n's InLine data was delivered and its answer is awaited.
    std::uint32_t inline_answers_due_ = 0;
    // Identify commands written and their answers read (never more than written).
    std::uint32_t identify_written_ = 0;
    std::uint32_t identify_answered_ = 0;
};

}  // namespace ecr::nc
