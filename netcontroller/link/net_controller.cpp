#include "netcontroller/link/net_controller.h"

#include <cstring>
#include <stdexcept>

#include "foundation/log_file.h"
#include "netcontroller/link/com_reader.h"
#include "netcontroller/link/nc_commands.h"
#include "netcontroller/link/nc_error.h"
#include "netcontroller/register_mask.h"
#include "platform/tick_count.h"

namespace ecr {

using namespace ecr::nc;

struct TNetController::Notice {
    enum class Kind { None, EcrInLine, InlSended, OnlSended, InlReceived, OnlReceived, Error };
    Kind kind = Kind::None;
    int ecr = 0;
    std::string block;
    std::uint8_t errC = 0;
    int extErr = 0;
};

namespace {

constexpr std::uint8_t kIdentifyCode = 0x0C;
constexpr std::uint8_t kFirstEcrCode = 0x81;
constexpr std::uint8_t kLastEcrCode = 0x90;
constexpr std::uint8_t kFlagAskingReset = 0xFF;
constexpr int kIdentifyRepliesCounted = 3;

std::string OneByte(std::uint8_t command) { return std::string(1, static_cast<char>(command)); }

bool IsControllerReply(const std::string& reply) {
    return reply.size() == TNetController::kIdentifyReplyLength && reply.compare(8, 4, "\x0C\x01\x06\x00", 4) == 0;
}

}  // namespace

TNetController::TNetController() : code_table_(LontarosCodeTables().Table(1)) {}

TNetController::~TNetController() {
    {
        const std::lock_guard lock(lock_);
        WriteLocked(SetMaskCommand(0));
    }
    StopReader();
}

void TNetController::SetLog(LogFile& log) { log_ = &log; }

void TNetController::Log(const std::string& text) {
    if (log_ != nullptr) {
        log_->Write(text);
    } else {
        LogWrite(text);
    }
}

void TNetController::StopReader() {
    if (reader_) reader_->Stop();
    reader_.reset();
}

void TNetController::FindController() {
    StopReader();
    const std::lock_guard lock(lock_);
    com_ = 0;
    id_.clear();
    identify_replies_due_.store(0);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        port_.Close();
        if (!port_.Open("COM" + std::to_string(n))) continue;
        std::string reply;
        // A freshly opened port holds no old input; a tty keeps what came while it was closed
        // (or read by an earlier reader), which would spoil the reply.
        if (port_.Configure(kProbeBaud) && port_.PurgeInput() && port_.Write(OneByte(ncIdentify))) {
            // The reply is read as soon as its 12 bytes are there, or what came within 1000 ms;
            // the wait sleeps in the port instead of spinning.
            const std::uint32_t base = TickCount();
            bool failed = false;
            while (!failed && reply.size() < kIdentifyReplyLength) {
                const std::uint32_t elapsed = TicksSince(base);
                if (elapsed >= kProbeReplyWaitMs) break;
                if (!port_.WaitForInput(static_cast<int>(kProbeReplyWaitMs - elapsed))) break;
                std::uint8_t byte = 0;
                SerialPort::ReadStatus status = SerialPort::ReadStatus::Nothing;
                while (reply.size() < kIdentifyReplyLength &&
                       (status = port_.ReadQueuedByte(byte)) == SerialPort::ReadStatus::Byte) {
                    reply += static_cast<char>(byte);
                }
                failed = status == SerialPort::ReadStatus::Failed;
            }
        }
        if (!IsControllerReply(reply)) continue;
        id_ = reply.substr(0, 6);
        com_ = n;
        WriteLocked(SetMaskCommand(0));
        link_state_.store(0);
        reader_ = std::make_unique<TComReader>(*this);
        reader_->Start();
        return;
    }
    port_.Close();
    link_state_.store(2);
    Log("NetController not found!");
}

std::uint8_t TNetController::NcState() const {
    const std::lock_guard lock(lock_);
    return nc_state_;
}

int TNetController::CurrentEcr() const {
    const std::lock_guard lock(lock_);
    return current_ecr_;
}

std::uint32_t TNetController::Mask() const {
    const std::lock_guard lock(lock_);
    return mask_;
}

void TNetController::WriteLocked(std::string_view bytes) {
    // Every write's result is ignored: a command lost while the controller is away shows as
    // missing replies (link state 2).
    if (port_.IsOpen()) (void)port_.Write(bytes);
}

void TNetController::ResetLocked() {
    nc_state_ = 0;
    current_ecr_ = 0;
    if (report_due_ != 0 && report_phase_ == ReportPhase::Awaited) report_phase_ = ReportPhase::GivenUp;
    WriteLocked(OneByte(ncReset));
}

void TNetController::MarkReportDueLocked(std::uint8_t code, int ecr) {
    report_due_ = code;
    report_due_ecr_ = ecr;
    report_due_since_ = TickCount();
    report_phase_ = ReportPhase::Awaited;
    report_due_ecr_left_mask_ = false;
    if (++report_no_ == 0) ++report_no_;  // 0 stands for no report
}

int TNetController::ReportedEcrLocked(std::uint8_t code, std::uint32_t& raised) {
    // A report read before its giving up was raised is the report after all.
    if (report_due_ != code || report_phase_ == ReportPhase::Raised) return current_ecr_;
    report_phase_ = ReportPhase::Raised;
    raised = report_no_;
    return report_due_ecr_;
}

bool TNetController::InLineAnswerDueLocked(int ecr) const {
    return ecr >= 1 && ecr <= kMaxEcr && (inline_answers_due_ & (1u << (ecr - 1))) != 0;
}

void TNetController::SetInLineAnswerDueLocked(int ecr, bool due) {
    if (ecr < 1 || ecr > kMaxEcr) return;
    if (due) {
        SetMaskBit(inline_answers_due_, ecr - 1);
    } else {
        ClearMaskBit(inline_answers_due_, ecr - 1);
    }
}

void TNetController::ReportHandled() {
    const std::lock_guard lock(lock_);
    if (report_due_ != 0 && report_phase_ == ReportPhase::Raised) report_due_ = 0;
}

void TNetController::EndRaisedReport(std::uint32_t number) {
    const std::lock_guard lock(lock_);
    if (report_due_ != 0 && report_phase_ == ReportPhase::Raised && report_no_ == number) report_due_ = 0;
}

void TNetController::RaiseGivenUpReport() {
    int ecr = 0;
    std::uint32_t number = 0;
    {
        const std::lock_guard lock(lock_);
        if (report_due_ == 0) return;
        if (report_phase_ == ReportPhase::Awaited && TicksSince(report_due_since_) >= kReportWaitMs) {
            report_phase_ = ReportPhase::GivenUp;
        }
        if (report_phase_ != ReportPhase::GivenUp) return;
        report_phase_ = ReportPhase::Raised;
        ecr = report_due_ecr_;
        number = report_no_;
    }
    if (OnError) OnError(*this, ecr, kNcErrorUnexpectedReport, kNcExtErrReportGivenUp);
    EndRaisedReport(number);
}

int TNetController::SetSpeed(int speed) {
    if (speed != 4800 && speed != 9600) return kBadSpeed;
    const std::lock_guard lock(lock_);
    if (!port_.IsOpen()) return kDone;
    const std::uint8_t command = speed == 4800 ? ncSpeed4800 : ncSpeed9600;
    if (mask_ == 0) {
        WriteLocked(OneByte(command));
        return kDone;
    }
    WriteLocked(SetMaskCommand(0));
    WriteLocked(OneByte(command));
    WriteLocked(SetMaskCommand(static_cast<std::uint16_t>(mask_)));
    ResetLocked();
    return kDone;
}

int TNetController::SetMask(std::uint16_t mask) {
    const std::lock_guard lock(lock_);
    WriteLocked(SetMaskCommand(mask));
    return kDone;
}

bool TNetController::AddEcr(int ecr) {
    if (ecr < 1 || ecr > kMaxEcr) return false;
    const std::lock_guard lock(lock_);
    const bool wasEmpty = mask_ == 0;
    SetMaskBit(mask_, ecr - 1);
    WriteLocked(SetMaskCommand(static_cast<std::uint16_t>(mask_)));
    if (wasEmpty) ResetLocked();
    return true;
}

bool TNetController::RemoveEcr(int ecr) {
    if (ecr < 1 || ecr > kMaxEcr) return false;
    const std::lock_guard lock(lock_);
    if (mask_ == 0) return true;
    ClearMaskBit(mask_, ecr - 1);
    // The controller no longer passes the register's blocks on.
    SetInLineAnswerDueLocked(ecr, false);
    if (report_due_ == ncInlData && report_due_ecr_ == ecr) report_due_ecr_left_mask_ = true;
    WriteLocked(SetMaskCommand(static_cast<std::uint16_t>(mask_)));
    return true;
}

void TNetController::SendStart() {
    const std::lock_guard lock(lock_);
    WriteLocked(OneByte(ncStart));
}

void TNetController::SendStop() {
    const std::lock_guard lock(lock_);
    WriteLocked(OneByte(ncStop));
}

void TNetController::SendIdentify() {
    const std::lock_guard lock(lock_);
    WriteLocked(OneByte(ncIdentify));
    // Counted up to a few: replies that never came must not make the reader wait forever.
    int due = identify_replies_due_.load();
    while (due < kIdentifyRepliesCounted && !identify_replies_due_.compare_exchange_weak(due, due + 1)) {
    }
}

int TNetController::SendReset() {
    const std::lock_guard lock(lock_);
    ResetLocked();
    return kDone;
}

bool TNetController::ResetExchangeOf(int ecr) {
    const std::lock_guard lock(lock_);
    if (current_ecr_ != 0 && current_ecr_ != ecr) return false;
    // The report due, whosever it is, still comes: it stays due.
    nc_state_ = 0;
    current_ecr_ = 0;
    WriteLocked(OneByte(ncReset));
    return true;
}

int TNetController::SendOnlAnswer(int ecr, std::string_view text) {
    const std::lock_guard lock(lock_);
    if (!port_.IsOpen()) return kDone;
    if (nc_state_ != 4 || current_ecr_ != ecr) return kWrongState;
    if (report_due_ != 0) return kReportDue;
    WriteLocked(OnlAnswerCommand(ConvertToEcr(code_table_, text)));
    nc_state_ = 5;
    MarkReportDueLocked(ncOnlAnswer, ecr);
    return kDone;
}

int TNetController::SendInlData(int ecr, std::string_view text) {
    if (text.size() > kInlDataMaxLength) return kTooLong;
    const std::lock_guard lock(lock_);
    if (!port_.IsOpen()) return kDone;
    if (nc_state_ != 1 || current_ecr_ != ecr) return kWrongState;
    if (report_due_ != 0) return kReportDue;
    WriteLocked(InlDataCommand(ConvertToEcr(code_table_, text)));
    nc_state_ = 2;
    MarkReportDueLocked(ncInlData, ecr);
    return kDone;
}

void TNetController::SetCodeTable(const CodeTable& table) {
    const std::lock_guard lock(lock_);
    code_table_ = table;
}

std::string TNetController::StrFromEcr(std::string_view text) const {
    const std::lock_guard lock(lock_);
    return ConvertFromEcr(code_table_, text);
}

std::string TNetController::StrToEcr(std::string_view text) const {
    const std::lock_guard lock(lock_);
    return ConvertToEcr(code_table_, text);
}

bool TNetController::WaitForInput(int timeoutMs) const { return port_.WaitForInput(timeoutMs); }

std::size_t TNetController::ReadQueued(std::uint8_t* into, std::size_t max) {
    const std::lock_guard lock(lock_);
    std::size_t got = 0;
    while (got < max) {
        const SerialPort::ReadStatus status = port_.ReadQueuedByte(into[got]);
        if (status == SerialPort::ReadStatus::Byte) {
            ++got;
            continue;
        }
        if (status == SerialPort::ReadStatus::Failed && got == 0) {
            throw std::runtime_error(std::string("the port cannot be read: ") + std::strerror(port_.LastError()));
        }
        break;
    }
    return got;
}

void TNetController::LinkAlive() { link_state_.store(0); }

void TNetController::KeepAlive() {
    SendIdentify();
    const std::uint8_t state = link_state_.load();
    if (state < 2) link_state_.store(static_cast<std::uint8_t>(state + 1));
}

void TNetController::RouteEcrBlockLocked(int ecr, const std::string& block, std::uint8_t status, Notice& notice) {
    if (ecr != current_ecr_) {
        current_ecr_ = ecr;
        nc_state_ = 0;
    }
    // Whatever other blocks came between, the register's next block after its delivered
    // InLine data is its answer.
    if (nc_state_ == 0 && InLineAnswerDueLocked(ecr)) nc_state_ = 3;
    switch (nc_state_) {
        case 0:
            if (block.size() == 7) {
                nc_state_ = 1;
                notice.kind = Notice::Kind::EcrInLine;
            } else {
                nc_state_ = 4;
                notice.kind = Notice::Kind::OnlReceived;
            }
            break;
        case 3:
            nc_state_ = 1;
            SetInLineAnswerDueLocked(ecr, false);
            notice.kind = Notice::Kind::InlReceived;
            break;
        default:
            return;  // 1, 2, 4, 5: the register's block does not fit the exchange; dropped
    }
    notice.ecr = ecr;
    notice.block = ConvertFromEcr(code_table_, block);
    notice.errC = static_cast<std::uint8_t>(status - 1);
}

void TNetController::HandleReply(std::string_view frame) {
    Notice notice;
    std::uint32_t raisedReport = 0;  // the number of the due report this frame is, if it is
    {
        const std::lock_guard lock(lock_);
        const std::size_t p = frame.size() - 1;  // the end byte
        if (p < 3) {
            ResetLocked();
            return;
        }
        const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(frame[i]); };
        const std::uint8_t code = byte(p - 3);
        const std::uint8_t status = byte(p - 2);
        const bool ack = byte(p - 1) == kNcAck;
        switch (code) {
            case ncSpeed4800:
                if (ack) speed_.store(4800);
                return;
            case ncSpeed9600:
                if (ack) speed_.store(9600);
                return;
            case ncSetMask:
            case ncStart:
            case ncStop:
            case ncReset:
                return;
            case kIdentifyCode: {
                int due = identify_replies_due_.load();
                while (due > 0 && !identify_replies_due_.compare_exchange_weak(due, due - 1)) {
                }
                if (p >= 5 && byte(p - 5) == kFlagAskingReset) ResetLocked();
                return;
            }
            case ncOnlAnswer: {
                notice.ecr = ReportedEcrLocked(ncOnlAnswer, raisedReport);
                if (ack) {
                    // Only the exchange the answer was written in ends; one begun since goes on.
                    if (notice.ecr == current_ecr_ && (raisedReport == 0 || nc_state_ == 5)) nc_state_ = 0;
                    notice.kind = Notice::Kind::OnlSended;
                    notice.errC = static_cast<std::uint8_t>(status - 1);
                } else {
                    const NcErrorCode error = OnlAnswerRefusal(status);
                    notice.kind = Notice::Kind::Error;
                    notice.errC = error.ErrC;
                    notice.extErr = error.ExtErr;
                }
                break;
            }
            case ncInlData: {
                notice.ecr = ReportedEcrLocked(ncInlData, raisedReport);
                const bool ownExchange = notice.ecr == current_ecr_;
                // The data of a register that has left its exchange for another register's
                // block was delivered all the same; of one that began an exchange of its own
                // since, it comes out of step.
                const bool delivered = ack && (ownExchange ? nc_state_ == 2 : raisedReport != 0);
                if (delivered) {
                    if (ownExchange) nc_state_ = 3;
                    // A register that left the mask since has ended that exchange: its next
                    // block, once it is served again, begins an exchange of its own.
                    const bool leftMask = raisedReport != 0 && report_due_ecr_left_mask_;
                    if (!leftMask) SetInLineAnswerDueLocked(notice.ecr, true);
                    notice.kind = Notice::Kind::InlSended;
                    notice.errC = static_cast<std::uint8_t>(status - 1);
                } else {
                    // A refusal, or a delivery the exchange was not waiting for; the report of
                    // a register whose exchange the link has left leaves the current one alone.
                    const NcErrorCode error =
                        ack ? NcErrorCode{kNcErrorUnexpectedReport, kNcExtErrUnexpectedReport} : InlDataRefusal(status);
                    if (ownExchange) nc_state_ = 0;
                    notice.kind = Notice::Kind::Error;
                    notice.errC = error.ErrC;
                    notice.extErr = error.ExtErr;
                }
                break;
            }
            default:
                if (code >= kFirstEcrCode && code <= kLastEcrCode) {
                    const int ecr = code - 0x80;
                    const std::size_t lf =
                        p < 4 ? std::string_view::npos : frame.rfind(static_cast<char>(kNcTextStart), p - 4);
                    if (lf == std::string_view::npos) {
                        nc_state_ = 0;
                        return;
                    }
                    const std::string block(frame.substr(lf + 1, p - lf - 4));
                    if (ack) {
                        RouteEcrBlockLocked(ecr, block, status, notice);
                    } else {
                        // A refused block ends the register's exchange, an awaited InLine
                        // answer included.
                        SetInLineAnswerDueLocked(ecr, false);
                        current_ecr_ = ecr;
                        nc_state_ = 0;
                        notice.kind = Notice::Kind::Error;
                        notice.ecr = ecr;
                        notice.errC = EcrBlockRefusal(status).ErrC;
                    }
                    break;
                }
                nc_state_ = 0;
                notice.kind = Notice::Kind::Error;
                notice.ecr = current_ecr_;
                notice.errC = kNcErrorUnknownCode;
                break;
        }
    }
    RaiseNotice(notice);
    if (raisedReport != 0) EndRaisedReport(raisedReport);
}

void TNetController::RaiseNotice(const Notice& notice) {
    // Reports whose status is 0 carry no result for the register and raise nothing (their
    // ErrC, status - 1, would be 255).
    const bool statusReport = notice.kind != Notice::Kind::Error && notice.kind != Notice::Kind::None;
    if (statusReport && notice.errC == 0xFF) return;
    switch (notice.kind) {
        case Notice::Kind::None: break;
        case Notice::Kind::EcrInLine:
            if (OnEcrInLine) OnEcrInLine(*this, notice.ecr, notice.block, notice.errC);
            break;
        case Notice::Kind::InlSended:
            if (OnInlSended) OnInlSended(*this, notice.ecr, notice.errC);
            break;
        case Notice::Kind::OnlSended:
            if (OnOnlSended) OnOnlSended(*this, notice.ecr, notice.errC);
            break;
        case Notice::Kind::InlReceived:
            if (OnInlReceived) OnInlReceived(*this, notice.ecr, notice.block, notice.errC);
            break;
        case Notice::Kind::OnlReceived:
            if (OnOnlReceived) OnOnlReceived(*this, notice.ecr, notice.block, notice.errC);
            break;
        case Notice::Kind::Error:
            if (OnError) OnError(*this, notice.ecr, notice.errC, notice.extErr);
            break;
    }
}

}  // namespace ecr
