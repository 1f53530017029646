#include "netcontroller/link/nc_link.h"

#include <algorithm>
#include <cstdio>

#include "netcontroller/link/nc_commands.h"
#include "netcontroller/link/nc_error.h"
#include "netcontroller/register_mask.h"

namespace ecr::nc {

namespace {

constexpr std::uint8_t kIdentifyCode = 0x0C;
constexpr std::uint8_t kFirstEcrCode = 0x81;
constexpr std::uint8_t kLastEcrCode = 0x90;
constexpr std::uint8_t kFlagAskingReset = 0xFF;
constexpr std::uint32_t kIdentifyRepliesCounted = 3;

std::string OneByte(std::uint8_t command) { return std::string(1, static_cast<char>(command)); }

}  // namespace

NcLink::NcLink(Writer write, Clock clock, Logger log)
    : write_(std::move(write)),
      clock_(std::move(clock)),
      log_(std::move(log)),
      code_table_(LontarosCodeTables().Table(1)),
      onl_report_(ncOnlAnswer),
      inl_report_(ncInlData) {}

void NcLink::SetPortOpen(bool open) {
    port_open_ = open;
    if (!open) return;
    nc_state_ = 0;
    current_ecr_ = 0;
    onl_report_.Clear();
    inl_report_.Clear();
    inline_answers_due_ = 0;
    identify_answered_ = identify_written_;
}

void NcLink::Write(std::string_view bytes) {
    // Every write's result is ignored: a command lost while the controller is away shows as
    // missing replies (link state 2).
    if (port_open_) write_(bytes);
}

void NcLink::WriteReset() { Write(OneByte(ncReset)); }

void NcLink::ResetExchange() {
    nc_state_ = 0;
    current_ecr_ = 0;
    WriteReset();
}

std::uint32_t NcLink::NextReportNumber() {
    if (++last_report_number_ == 0) ++last_report_number_;  // 0 stands for no report
    return last_report_number_;
}

int NcLink::SetSpeed(int speed) {
    if (speed != 4800 && speed != 9600) return kLinkBadSpeed;
    if (!port_open_) return kLinkDone;
    const std::uint8_t command = speed == 4800 ? ncSpeed4800 : ncSpeed9600;
    if (mask_ == 0) {
        Write(OneByte(command));
        return kLinkDone;
    }
    Write(SetMaskCommand(0));
    Write(OneByte(command));
    Write(SetMaskCommand(static_cast<std::uint16_t>(mask_)));
    ResetExchange();
    return kLinkDone;
}

void NcLink::SetMask(std::uint16_t mask) { Write(SetMaskCommand(mask)); }

bool NcLink::AddEcr(int ecr) {
    if (ecr < 1 || ecr > kMaxEcr) return false;
    const bool wasEmpty = mask_ == 0;
    SetMaskBit(mask_, ecr - 1);
    Write(SetMaskCommand(static_cast<std::uint16_t>(mask_)));
    if (wasEmpty) ResetExchange();
    return true;
}

bool NcLink::RemoveEcr(int ecr) {
    if (ecr < 1 || ecr > kMaxEcr) return false;
    if (mask_ == 0) return true;
    ClearMaskBit(mask_, ecr - 1);
    // The controller no longer passes the register's blocks on.
    SetInLineAnswerDue(ecr, false);
    inl_report_.EcrLeftMask(ecr);
    Write(SetMaskCommand(static_cast<std::uint16_t>(mask_)));
    return true;
}

void NcLink::SendStart() { Write(OneByte(ncStart)); }

void NcLink::SendStop() { Write(OneByte(ncStop)); }

void NcLink::SendIdentify() {
    if (!port_open_) return;
    Write(OneByte(ncIdentify));
    ++identify_written_;
}

void NcLink::SendKeepAlive() {
    // Five seconds without a byte from the controller: the identify answers still owed are
    // taken as lost. Counted on, a lost one would make every later fence wait for the answer
    // after its own, and the report of the write after each give-up would be swallowed. A
    // given-up write that may still report stays fenced, by this identify command: its
    // report, if the controller was only slow, comes before this command's answer.
    const bool answersOwed = identify_answered_ != identify_written_;
    identify_answered_ = identify_written_;
    SendIdentify();
    if (answersOwed) {
        for (DeliveryReport* report : {&onl_report_, &inl_report_}) report->MoveFences(identify_written_);
    }
}

void NcLink::SendReset() { ResetExchange(); }

bool NcLink::ResetExchangeOf(int ecr) {
    if (current_ecr_ != 0 && current_ecr_ != ecr) return false;
    ResetExchange();
    return true;
}

int NcLink::SendOnlAnswer(int ecr, std::string_view text) {
    if (!port_open_) return kLinkDone;
    if (nc_state_ != 4 || current_ecr_ != ecr) return kLinkWrongState;
    if (!onl_report_.Free()) return kLinkReportDue;
    Write(OnlAnswerCommand(ConvertToEcr(code_table_, text)));
    nc_state_ = 5;
    onl_report_.Written(ecr, clock_(), NextReportNumber());
    return kLinkDone;
}

int NcLink::SendInlData(int ecr, std::string_view text) {
    if (text.size() > kInlDataMaxLength) return kLinkTooLong;
    if (!port_open_) return kLinkDone;
    if (nc_state_ != 1 || current_ecr_ != ecr) return kLinkWrongState;
    if (!inl_report_.Free()) return kLinkReportDue;
    Write(InlDataCommand(ConvertToEcr(code_table_, text)));
    nc_state_ = 2;
    inl_report_.Written(ecr, clock_(), NextReportNumber());
    return kLinkDone;
}

void NcLink::ReportHandled() {
    for (DeliveryReport* report : {&onl_report_, &inl_report_}) {
        if (report->Raised()) report->Done();
    }
}

std::uint8_t NcLink::ReportInHand() const {
    if (onl_report_.Raised()) return onl_report_.Code();
    if (inl_report_.Raised()) return inl_report_.Code();
    return 0;
}

void NcLink::EndRaisedReport(std::uint32_t number) {
    for (DeliveryReport* report : {&onl_report_, &inl_report_}) {
        if (report->Raised() && report->Number() == number) report->Done();
    }
}

void NcLink::GiveUp(DeliveryReport& report) {
    // The fence: the identify command, whose answer comes after any report of what was
    // written before it.
    SendIdentify();
    report.GiveUp(identify_written_);
}

void NcLink::ForgetReport(int ecr, std::uint8_t code) {
    if (code != ncOnlAnswer && code != ncInlData) return;
    DeliveryReport& report = ReportOf(code);
    if (!report.Awaited() || report.Ecr() != ecr) return;
    GiveUp(report);
    report.Done();
}

NcNotice NcLink::TakeGivenUpReport() {
    const std::uint32_t now = clock_();
    for (DeliveryReport* report : {&onl_report_, &inl_report_}) {
        if (!report->Overdue(now)) continue;
        GiveUp(*report);
        report->Raise();
        NcNotice notice;
        notice.kind = NcNotice::Kind::Error;
        notice.ecr = report->Ecr();
        notice.errC = kNcErrorUnexpectedReport;
        notice.extErr = kNcExtErrReportGivenUp;
        notice.report = report->Number();
        return notice;
    }
    return {};
}

int NcLink::IdentifyRepliesDue() const {
    return static_cast<int>(std::min(identify_written_ - identify_answered_, kIdentifyRepliesCounted));
}

bool NcLink::InLineAnswerDue(int ecr) const {
    return ecr >= 1 && ecr <= kMaxEcr && (inline_answers_due_ & (1u << (ecr - 1))) != 0;
}

void NcLink::SetInLineAnswerDue(int ecr, bool due) {
    if (ecr < 1 || ecr > kMaxEcr) return;
    if (due) {
        SetMaskBit(inline_answers_due_, ecr - 1);
    } else {
        ClearMaskBit(inline_answers_due_, ecr - 1);
    }
}

void NcLink::RouteEcrBlock(int ecr, const std::string& block, std::uint8_t status, NcNotice& notice) {
    if (ecr != current_ecr_) {
        current_ecr_ = ecr;
        nc_state_ = 0;
    }
    // Whatever came between, the register's own blocks included, its next block after its
    // delivered InLine data is its answer.
    if (InLineAnswerDue(ecr)) nc_state_ = 3;
    switch (nc_state_) {
        case 0:
            if (block.size() == 7) {
                nc_state_ = 1;
                notice.kind = NcNotice::Kind::EcrInLine;
            } else {
                nc_state_ = 4;
                notice.kind = NcNotice::Kind::OnlReceived;
            }
            break;
        case 3:
            nc_state_ = 1;
            SetInLineAnswerDue(ecr, false);
            notice.kind = NcNotice::Kind::InlReceived;
            break;
        default:
            return;  // 1, 2, 4, 5: the register's block does not fit the exchange; dropped
    }
    notice.ecr = ecr;
    notice.block = ConvertFromEcr(code_table_, block);
    notice.errC = static_cast<std::uint8_t>(status - 1);
}

void NcLink::HandleReport(DeliveryReport& report, std::uint8_t status, bool ack, NcNotice& notice) {
    const bool inLine = report.Code() == ncInlData;
    if (const int late = report.LateEcr(); late != 0) {
        // The report of a write given up before: its client has been answered already. The
        // register's next block after InLine data delivered so is that data's answer, which
        // nobody awaits any more.
        if (inLine && ack && !report.LateEcrLeftMask()) SetInLineAnswerDue(late, true);
        report.LateReportCame();
        char text[80];
        std::snprintf(text, sizeof text, "Late delivery report. Ecr: %d %s %d", late, ack ? "ACK" : "NAK",
                      static_cast<int>(status));
        log_(text);
        return;
    }
    const bool awaited = report.Awaited();
    notice.ecr = awaited ? report.Ecr() : current_ecr_;
    const bool ownExchange = notice.ecr == current_ecr_;
    if (awaited) {
        report.Raise();
        notice.report = report.Number();
    }
    const auto raiseError = [&](NcErrorCode error) {
        notice.kind = NcNotice::Kind::Error;
        notice.errC = error.ErrC;
        notice.extErr = error.ExtErr;
    };
    if (!inLine) {
        if (ack) {
            // Only the exchange the answer was written in ends; one begun since goes on.
            if (!awaited || (ownExchange && nc_state_ == 5)) nc_state_ = 0;
            notice.kind = NcNotice::Kind::OnlSended;
            notice.errC = static_cast<std::uint8_t>(status - 1);
        } else if (!awaited) {
            // A refusal that no answer awaits refuses nothing written.
            nc_state_ = 0;
            raiseError(NcErrorCode{kNcErrorUnexpectedReport, kNcExtErrUnexpectedReport});
        } else {
            raiseError(OnlAnswerRefusal(status));
        }
        return;
    }
    if (!awaited) {
        // A report of InLine data nobody waits for, delivered or refused, is no write's: the
        // exchange under way is out of step, and no data of its is taken as refused.
        nc_state_ = 0;
        raiseError(NcErrorCode{kNcErrorUnexpectedReport, kNcExtErrUnexpectedReport});
        return;
    }
    // The data's own exchange, if the link is still in it, moves on; one that the register
    // (or another) began since goes on.
    const bool dataExchange = ownExchange && nc_state_ == 2;
    if (ack) {
        if (dataExchange) nc_state_ = 3;
        // A register that left the mask since has ended that exchange: its next block, once
        // it is served again, begins an exchange of its own.
        if (!report.EcrLeftMask()) SetInLineAnswerDue(notice.ecr, true);
        notice.kind = NcNotice::Kind::InlSended;
        notice.errC = static_cast<std::uint8_t>(status - 1);
    } else {
        if (dataExchange) nc_state_ = 0;
        raiseError(InlDataRefusal(status));
    }
}

void NcLink::HandleIdentifyAnswer(std::string_view frame) {
    if (identify_answered_ != identify_written_) ++identify_answered_;
    for (DeliveryReport* report : {&onl_report_, &inl_report_}) report->FenceAnswered(identify_answered_);
    const std::size_t p = frame.size() - 1;
    if (p >= 5 && static_cast<std::uint8_t>(frame[p - 5]) == kFlagAskingReset) ResetExchange();
}

NcNotice NcLink::HandleFrame(std::string_view frame) {
    NcNotice notice;
    if (frame.empty()) return notice;
    const std::size_t p = frame.size() - 1;  // the end byte
    if (p < 3) {
        // Noise: no evidence about anything, the reports due included.
        ResetExchange();
        return notice;
    }
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(frame[i]); };
    const std::uint8_t code = byte(p - 3);
    const std::uint8_t status = byte(p - 2);
    const bool ack = byte(p - 1) == kNcAck;
    switch (code) {
        case ncSpeed4800:
            if (ack) speed_ = 4800;
            return notice;
        case ncSpeed9600:
            if (ack) speed_ = 9600;
            return notice;
        case ncSetMask:
        case ncStart:
        case ncStop:
        case ncReset: return notice;
        case kIdentifyCode: HandleIdentifyAnswer(frame); return notice;
        case ncOnlAnswer:
        case ncInlData: HandleReport(ReportOf(code), status, ack, notice); return notice;
        default: break;
    }
    if (code >= kFirstEcrCode && code <= kLastEcrCode) {
        const int ecr = code - 0x80;
        const std::size_t lf = p < 4 ? std::string_view::npos : frame.rfind(static_cast<char>(kNcTextStart), p - 4);
        if (lf == std::string_view::npos) {
            nc_state_ = 0;
            return notice;
        }
        const std::string block(frame.substr(lf + 1, p - lf - 4));
        if (ack) {
            RouteEcrBlock(ecr, block, status, notice);
        } else {
            // A refused block ends the register's exchange, an awaited InLine answer included.
            SetInLineAnswerDue(ecr, false);
            current_ecr_ = ecr;
            nc_state_ = 0;
            notice.kind = NcNotice::Kind::Error;
            notice.ecr = ecr;
            notice.errC = EcrBlockRefusal(status).ErrC;
        }
        return notice;
    }
    nc_state_ = 0;
    notice.kind = NcNotice::Kind::Error;
    notice.ecr = current_ecr_;
    notice.errC = kNcErrorUnknownCode;
    return notice;
}

}  // namespace ecr::nc
