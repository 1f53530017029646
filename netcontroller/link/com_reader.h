#pragma once

// The reader thread of the controller link. It alone reads the controller's port: it
// collects bytes in a 256-byte buffer, cuts them into the controller's frames (every byte
// up to and including the first 0x00) and hands each frame, one per pass and in order, to
// the controller, which acts on it and raises its events on this thread. After 5000 ms
// without a byte from the controller it writes the identify command as a keep-alive and
// lowers the link state one step. Each pass first raises the delivery reports that the link
// gives up by then (see NcLink::TakeGivenUpReport).
//
// The identify reply is the one frame of fixed length (12 bytes, ending 0C, status, ack,
// 00), and its flag byte or the byte after it may be 0x00 themselves. While an identify
// reply is due, bytes whose first 0x00 falls on one of those two places are read as that
// reply once its 12 bytes are there and end as it does; the rest of it is awaited at most
// kIdentifyRestWaitMs, after which the bytes are cut at their first 0x00 as usual. Cut
// short, the reply's first piece would read as a frame of an unknown code and reset the
// register exchange under way at every keep-alive.
//
// It sleeps in the port's wait for input (at most 100 ms at a time, so that a stop is seen
// soon) and never spins. An error inside a pass is logged as "Reader Exception: " and the
// message; the thread then pauses 1000 ms and goes on.
//
// Threads: constructed, started and stopped by the controller's owner thread; Stop joins.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace ecr {

class TNetController;

class TComReader {
 public:
    static constexpr std::size_t kRxBufferSize = 256;
    static constexpr std::uint32_t kKeepAliveMs = 5000;
    static constexpr int kIdleWaitMs = 100;
    static constexpr int kErrorPauseMs = 1000;
    static constexpr std::uint32_t kIdentifyRestWaitMs = 50;

    explicit TComReader(TNetController& controller);
    ~TComReader();  // stops
    TComReader(const TComReader&) = delete;
    TComReader& operator=(const TComReader&) = delete;

    void Start();
    // Asks the thread to end and waits for it (a pass under way finishes first).
    void Stop();

 private:
    void Execute();
    void Pass();
    // Sleeps `ms` unless a stop comes first; false when stopping.
    bool Pause(int ms);
    bool Stopping();
    // Index of the first 0x00 among the held bytes, or kRxBufferSize when there is none.
    std::size_t FrameEnd() const;
    // Length of the frame to cut now, 0 when no frame is complete yet; `waitMs` gets how
    // long the rest of an identify reply may still be awaited (0 when none is).
    std::size_t ReadyFrameLength(std::uint32_t& waitMs);

    TNetController& controller_;
    std::array<std::uint8_t, kRxBufferSize> rx_buffer_;
    std::size_t rx_count_ = 0;
    std::uint32_t silence_base_ = 0;
    bool awaiting_identify_rest_ = false;
    std::uint32_t identify_rest_base_ = 0;
    std::string last_error_;  // the last logged error, so that a dead port logs once

    std::mutex stop_lock_;
    std::condition_variable stop_signal_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace ecr
