#include "netcontroller/link/com_reader.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "netcontroller/link/net_controller.h"
#include "platform/tick_count.h"

namespace ecr {

TComReader::TComReader(TNetController& controller) : controller_(controller) { rx_buffer_.fill(0xAA); }

TComReader::~TComReader() { Stop(); }

void TComReader::Start() {
    if (thread_.joinable()) return;
    silence_base_ = TickCount();
    thread_ = std::thread([this] { Execute(); });
}

void TComReader::Stop() {
    {
        const std::lock_guard lock(stop_lock_);
        stopping_ = true;
    }
    stop_signal_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool TComReader::Stopping() {
    const std::lock_guard lock(stop_lock_);
    return stopping_;
}

bool TComReader::Pause(int ms) {
    std::unique_lock lock(stop_lock_);
    return !stop_signal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

std::size_t TComReader::FrameEnd() const {
    const auto begin = rx_buffer_.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(rx_count_);
    const auto zero = std::find(begin, end, std::uint8_t{0});
    return zero == end ? kRxBufferSize : static_cast<std::size_t>(zero - begin);
}

std::size_t TComReader::ReadyFrameLength(std::uint32_t& waitMs) {
    waitMs = 0;
    const std::size_t p = FrameEnd();
    if (p == kRxBufferSize) return 0;
    constexpr std::size_t kFlagAt = 6;
    constexpr std::size_t kAfterFlagAt = 7;
    constexpr std::size_t kCodeAt = 8;
    constexpr std::size_t kLength = TNetController::kIdentifyReplyLength;
    if ((p == kFlagAt || p == kAfterFlagAt) && controller_.IdentifyReplyDue()) {
        if (rx_count_ >= kLength) {
            const bool identifyReply = rx_buffer_[kCodeAt] == 0x0C && rx_buffer_[kLength - 1] == 0;
            return identifyReply ? kLength : p + 1;
        }
        if (!awaiting_identify_rest_) {
            awaiting_identify_rest_ = true;
            identify_rest_base_ = TickCount();
        }
        const std::uint32_t waited = TicksSince(identify_rest_base_);
        if (waited < kIdentifyRestWaitMs) {
            waitMs = kIdentifyRestWaitMs - waited;
            return 0;
        }
    }
    return p + 1;
}

void TComReader::Execute() {
    while (!Stopping()) {
        try {
            Pass();
            last_error_.clear();
        } catch (const std::exception& e) {
            const std::string text = std::string("Reader Exception: ") + e.what();
            // A port that keeps failing would fill the log with the same line every second.
            if (text != last_error_) controller_.Log(text);
            last_error_ = text;
            if (!Pause(kErrorPauseMs)) return;
        }
    }
}

void TComReader::Pass() {
    // A complete frame already held is handled without waiting; otherwise sleep until bytes
    // come, a keep-alive is due, or 100 ms pass (so that a stop is seen).
    std::uint32_t identifyRestMs = 0;
    if (ReadyFrameLength(identifyRestMs) == 0) {
        const std::uint32_t silent = TicksSince(silence_base_);
        const std::uint32_t untilKeepAlive = silent >= kKeepAliveMs ? 1 : kKeepAliveMs - silent + 1;
        std::uint32_t wait = std::min<std::uint32_t>(untilKeepAlive, kIdleWaitMs);
        if (identifyRestMs > 0) wait = std::min(wait, identifyRestMs);
        controller_.WaitForInput(static_cast<int>(wait));
    }
    const std::size_t got = controller_.ReadQueued(rx_buffer_.data() + rx_count_, kRxBufferSize - rx_count_);
    if (got > 0) {
        rx_count_ += got;
        silence_base_ = TickCount();
        controller_.LinkAlive();
    }
    if (TicksSince(silence_base_) > kKeepAliveMs) {
        silence_base_ = TickCount();
        controller_.KeepAlive();
    }
    // Before the frames that came after it: a report given up meanwhile.
    controller_.RaiseGivenUpReports();
    if (rx_count_ == 0) return;

    const std::size_t length = ReadyFrameLength(identifyRestMs);
    if (length == 0) {
        // A full buffer without any end byte can never complete a frame: drop it and go on.
        if (rx_count_ == kRxBufferSize && FrameEnd() == kRxBufferSize) rx_count_ = 0;
        return;
    }
    awaiting_identify_rest_ = false;
    const std::string frame(reinterpret_cast<const char*>(rx_buffer_.data()), length);
    std::memmove(rx_buffer_.data(), rx_buffer_.data() + length, rx_count_ - length);
    rx_count_ -= length;
    controller_.HandleReply(frame);
}

}  // namespace ecr
