#pragma once
// The register line on a serial port. It speaks the register link on the port: TakeEcr
// throws away what arrives for 10 ms (what is left of an earlier exchange), writes the take
// frame and reads the register's block (the first LF within the frame's transmit time +
// 50 ms, every later byte within 100 ms of the one before), FreeEcr writes the free frame,
// SendBlock writes a block and waits for ACK (a NAKed block goes out again, 9 times at most,
// each transmission with its own transmit time + 200 ms), GetBlock reads a block and
// acknowledges it (a bad one is NAKed, 8 times at most). While open it owns a keep-alive
// thread that writes two keep-alive bytes once the line has been silent for more than 330 ms
// after the end of the last transmission.
//
// Threads (see basic_communication_object.h for the general rule):
// - One lock serialises every write (the keep-alive thread's included), every read and the
//   purge and drain of TakeEcr (held for the drain's 10 ms); the waits for input of an
//   exchange happen outside it, so keep-alive writes fall between the reads of a long wait.
//   The keep-alive thread judges the silence under that lock too, so it never writes right
//   behind a frame of an exchange.
// - LastWriteTick / LastWriteMs are written under the lock and read by anyone.
// - Log lines go to the process log unless SetLog named another (set while closed).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "line/basic_communication_object.h"
#include "line/block_receiver.h"
#include "line/link_deadline.h"
#include "line/noise_thread.h"
#include "platform/serial_port.h"

namespace ecr {

class LogFile;

class TSimpleComObject final : public TBasicCommunicationObject {
 public:
  // The millisecond tick; replaceable so that tests can run the line across the wrap.
  using TickSource = std::function<std::uint32_t()>;

  TSimpleComObject();
  explicit TSimpleComObject(TickSource ticks);
  ~TSimpleComObject() override;

  void SetLog(LogFile& log);

  void Configure() override;
  void Open() override;
  void Close() override;
  void StartNoise() override;
  void StopNoise() override;

  LinkResult TakeEcr(int ecrNo, std::string& block) override;
  void FreeEcr() override;
  LinkResult SendBlock(std::string_view block) override;
  LinkResult GetBlock(std::string& block, int timeoutMs) override;

  bool IsOpen() const { return open_.load(); }
  // Row of BaudRate in SpeedTable as of the last Configure, -1 when not listed.
  int SpeedIndex() const { return speed_index_.load(); }
  // The speed the port reports (std::nullopt when closed).
  std::optional<std::uint32_t> PortSpeed() const;
  std::uint32_t LastWriteTick() const { return last_write_tick_.load(); }
  std::uint32_t LastWriteMs() const { return last_write_ms_.load(); }

  static constexpr int kReadTimeoutMs = 10;
  // TakeEcr drains the input for the read time-out before it writes the take frame.
  static constexpr int kDrainMs = kReadTimeoutMs;
  static constexpr std::uint32_t kFirstLfMs = 50;
  static constexpr std::uint32_t kByteGapMs = 100;
  static constexpr std::uint32_t kAckWaitMs = 200;
  static constexpr int kMaxResends = 8;
  static constexpr int kMaxNaks = 8;
  static constexpr std::uint32_t kSilenceBeforeNoiseMs = 330;
  static constexpr std::size_t kPurgeScratch = 2048;

 private:
  std::uint32_t Now() const { return ticks_(); }
  // Under the lock: writes the bytes, renews LastWriteTick (start of the write) and
  // LastWriteMs (their transmit time). On failure `error` holds the errno.
  bool WriteFileCs(std::string_view bytes, int& error);
  bool WriteLocked(std::string_view bytes, int& error);  // lock_ held
  void AckNak(char code);
  // One byte within kReadTimeoutMs; a failed read is logged with `tail`.
  bool ReadOne(std::uint8_t& byte, std::string_view tail);
  void NoisePass();
  // Reads until the receiver completes a block (std::nullopt) or the deadline passes (3, or
  // 4 once an LF was seen). An LF opens the 100 ms byte gap; noise before it moves nothing.
  std::optional<LinkResult> AwaitBlock(BlockReceiver& receiver, LinkDeadline& deadline, bool& lfSeen,
                                       std::string_view readErrorTail);
  void Log(std::string_view head, int error, std::string_view tail);
  void RequireOpen() const;
  void CloseLocked();

  const TickSource ticks_;
  LogFile* log_ = nullptr;  // nullptr: the process log

  mutable std::mutex lock_;  // port I/O
  SerialPort port_;
  std::atomic<bool> open_{false};
  std::atomic<int> speed_index_{-1};
  std::atomic<std::uint32_t> last_write_tick_{0};
  std::atomic<std::uint32_t> last_write_ms_{0};

  std::mutex control_;  // Open, Close and the keep-alive thread's existence
  std::unique_ptr<TNoiseThread> noise_thread_;
};

}  // namespace ecr
