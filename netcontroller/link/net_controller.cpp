#include "netcontroller/link/net_controller.h"

#include <cstring>
#include <stdexcept>

#include "foundation/log_file.h"
#include "netcontroller/link/com_reader.h"
#include "netcontroller/link/nc_commands.h"
#include "platform/tick_count.h"

namespace ecr {

using namespace ecr::nc;

namespace {

std::string OneByte(std::uint8_t command) { return std::string(1, static_cast<char>(command)); }

bool IsControllerReply(const std::string& reply) {
    return reply.size() == TNetController::kIdentifyReplyLength && reply.compare(8, 4, "\x0C\x01\x06\x00", 4) == 0;
}

}  // namespace

TNetController::TNetController()
    : link_([this](std::string_view bytes) { (void)port_.Write(bytes); }, [this] { return clock_(); },
            [this](const std::string& text) { Log(text); }) {}

TNetController::~TNetController() {
    {
        const std::lock_guard lock(lock_);
        link_.SetMask(0);
    }
    StopReader();
}

void TNetController::SetLog(LogFile& log) { log_ = &log; }

void TNetController::SetClock(std::function<std::uint32_t()> clock) {
    const std::lock_guard lock(lock_);
    clock_ = std::move(clock);
}

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
    link_.SetPortOpen(false);
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
        link_.SetPortOpen(true);
        link_.SetMask(0);
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
    return link_.NcState();
}

int TNetController::CurrentEcr() const {
    const std::lock_guard lock(lock_);
    return link_.CurrentEcr();
}

std::uint32_t TNetController::Mask() const {
    const std::lock_guard lock(lock_);
    return link_.Mask();
}

int TNetController::Speed() const {
    const std::lock_guard lock(lock_);
    return link_.Speed();
}

int TNetController::SetSpeed(int speed) {
    const std::lock_guard lock(lock_);
    return link_.SetSpeed(speed);
}

int TNetController::SetMask(std::uint16_t mask) {
    const std::lock_guard lock(lock_);
    link_.SetMask(mask);
    return kDone;
}

bool TNetController::AddEcr(int ecr) {
    const std::lock_guard lock(lock_);
    return link_.AddEcr(ecr);
}

bool TNetController::RemoveEcr(int ecr) {
    const std::lock_guard lock(lock_);
    return link_.RemoveEcr(ecr);
}

void TNetController::SendStart() {
    const std::lock_guard lock(lock_);
    link_.SendStart();
}

void TNetController::SendStop() {
    const std::lock_guard lock(lock_);
    link_.SendStop();
}

void TNetController::SendIdentify() {
    const std::lock_guard lock(lock_);
    link_.SendIdentify();
}

int TNetController::SendReset() {
    const std::lock_guard lock(lock_);
    link_.SendReset();
    return kDone;
}

bool TNetController::ResetExchangeOf(int ecr) {
    const std::lock_guard lock(lock_);
    return link_.ResetExchangeOf(ecr);
}

int TNetController::SendOnlAnswer(int ecr, std::string_view text) {
    const std::lock_guard lock(lock_);
    return link_.SendOnlAnswer(ecr, text);
}

int TNetController::SendInlData(int ecr, std::string_view text) {
    const std::lock_guard lock(lock_);
    return link_.SendInlData(ecr, text);
}

void TNetController::ReportHandled() {
    const std::lock_guard lock(lock_);
    link_.ReportHandled();
}

std::uint8_t TNetController::ReportInHand() const {
    const std::lock_guard lock(lock_);
    return link_.ReportInHand();
}

void TNetController::ForgetReport(int ecr, std::uint8_t code) {
    const std::lock_guard lock(lock_);
    link_.ForgetReport(ecr, code);
}

void TNetController::SetCodeTable(const CodeTable& table) {
    const std::lock_guard lock(lock_);
    link_.SetCodeTable(table);
}

std::string TNetController::StrFromEcr(std::string_view text) const {
    const std::lock_guard lock(lock_);
    return ConvertFromEcr(link_.Table(), text);
}

std::string TNetController::StrToEcr(std::string_view text) const {
    const std::lock_guard lock(lock_);
    return ConvertToEcr(link_.Table(), text);
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

bool TNetController::IdentifyReplyDue() const {
    const std::lock_guard lock(lock_);
    return link_.IdentifyRepliesDue() > 0;
}

void TNetController::LinkAlive() { link_state_.store(0); }

void TNetController::KeepAlive() {
    {
        const std::lock_guard lock(lock_);
        link_.SendKeepAlive();
    }
    const std::uint8_t state = link_state_.load();
    if (state < 2) link_state_.store(static_cast<std::uint8_t>(state + 1));
}

void TNetController::HandleReply(std::string_view frame) {
    NcNotice notice;
    {
        const std::lock_guard lock(lock_);
        notice = link_.HandleFrame(frame);
    }
    Raise(notice);
}

void TNetController::RaiseGivenUpReports() {
    for (;;) {
        NcNotice notice;
        {
            const std::lock_guard lock(lock_);
            notice = link_.TakeGivenUpReport();
        }
        if (notice.kind == NcNotice::Kind::None) return;
        Raise(notice);
    }
}

void TNetController::Raise(const NcNotice& notice) {
    RaiseNotice(notice);
    if (notice.report == 0) return;
    // The handler did not say that it handled the report: it is done once it has returned.
    const std::lock_guard lock(lock_);
    link_.EndRaisedReport(notice.report);
}

void TNetController::RaiseNotice(const NcNotice& notice) {
    // Reports whose status is 0 carry no result for the register and raise nothing (their
    // ErrC, status - 1, would be 255).
    const bool statusReport = notice.kind != NcNotice::Kind::Error && notice.kind != NcNotice::Kind::None;
    if (statusReport && notice.errC == 0xFF) return;
    switch (notice.kind) {
        case NcNotice::Kind::None: break;
        case NcNotice::Kind::EcrInLine:
            if (OnEcrInLine) OnEcrInLine(*this, notice.ecr, notice.block, notice.errC);
            break;
        case NcNotice::Kind::InlSended:
            if (OnInlSended) OnInlSended(*this, notice.ecr, notice.errC);
            break;
        case NcNotice::Kind::OnlSended:
            if (OnOnlSended) OnOnlSended(*this, notice.ecr, notice.errC);
            break;
        case NcNotice::Kind::InlReceived:
            if (OnInlReceived) OnInlReceived(*this, notice.ecr, notice.block, notice.errC);
            break;
        case NcNotice::Kind::OnlReceived:
            if (OnOnlReceived) OnOnlReceived(*this, notice.ecr, notice.block, notice.errC);
            break;
        case NcNotice::Kind::Error:
            if (OnError) OnError(*this, notice.ecr, notice.errC, notice.extErr);
            break;
    }
}

}  // namespace ecr
