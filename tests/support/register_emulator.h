#pragma once
// Plays any number of registers, by logical number, on the far end of a pseudo-terminal,
// following the register link from the registers' side: a register answers its take frame
// with its status block or its next queued OnLine message, reads and acknowledges blocks
// (checking their CRC), answers commands, and misbehaves when told to (see
// EmulatedRegister). Every byte received from the PC is recorded with its time of arrival,
// and also read back as frames ("TAKE 07", "FREE", "ACK", "BLOCK ..."); every byte sent,
// with the time it was written.
//
// A pseudo-terminal ignores the baud rate; SetPacing makes the emulator send its own bytes
// at a line speed, and with Pacing::BothDirections also lets the PC's bytes take their time
// on the wire before a register reacts to them (see Pacing).
//
//   RegisterEmulator emu;
//   line.PortName = emu.PortPath();
//   emu.AddRegister(7).QueueOnLineMessage("1;2;HELLO;");
//   emu.Register(7).NakNext(3);
//   emu.WaitFor([&] { return emu.Register(7).Commands().size() == 1; }, 2s);
//
// The emulator keeps a descriptor of the terminal's device side open itself, so the line
// may be opened and closed any number of times while it runs.
//
// Threads: every member may be called from any thread. The registers are played on the
// emulator's own thread; the trace sink runs there too.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/emulated_register.h"
#include "tests/support/pc_frame_parser.h"
#include "tests/support/record_changes.h"

namespace ecr {

class RegisterEmulator {
 public:
  using Clock = std::chrono::steady_clock;
  struct TimedByte {
    Clock::time_point at;  // received: arrival at the terminal; sent: just before its write
    std::uint8_t byte;
  };
  struct TimedFrame {
    Clock::time_point at;  // arrival of the frame's last byte
    std::string text;      // PcFrame::Describe()
  };

  // Opens the pseudo-terminal and starts playing; throws std::runtime_error when the system
  // gives no pseudo-terminal.
  RegisterEmulator();
  ~RegisterEmulator();
  RegisterEmulator(const RegisterEmulator&) = delete;
  RegisterEmulator& operator=(const RegisterEmulator&) = delete;

  // The device path the PC's line opens ("/dev/pts/N").
  const std::string& PortPath() const { return port_path_; }

  // Adds the register (or returns it when it is already played).
  EmulatedRegister& AddRegister(int logicalNumber);
  // A register added before; std::out_of_range otherwise.
  EmulatedRegister& Register(int logicalNumber);
  void RemoveRegister(int logicalNumber);

  // How a paced emulator plays the line's speed.
  enum class Pacing {
    // The registers' bytes go out one byte time apart, the first at once; the registers
    // react to the PC's frames as soon as they arrive.
    RegisterBytes,
    // Both directions take their wire time, as on a line: each byte of a register reaches
    // the PC one byte time after the one before, the first one byte time after the frame it
    // answers has crossed the line; and a register reacts to a frame of the PC only once
    // the frame would have crossed. The PC's writes wait until their bytes have left the
    // port, which a pseudo-terminal lets them do at once, so every byte the PC wrote since
    // a register last sent is taken to follow the ones before it on the wire.
    BothDirections,
  };
  // Paces at `baud` bit/s (10 bits a byte); 0 sends at once and reacts at once.
  void SetPacing(std::uint32_t baud, Pacing pacing = Pacing::RegisterBytes);
  // Readable lines about every frame received and every block sent.
  void SetTrace(std::function<void(const std::string&)> sink);
  // From now on every ACK or NAK of a register waits, once its block has crossed (and its
  // own delay has passed), until ReleaseAcknowledgements() or until `limit` has passed. The
  // PC waits 200 ms beyond the transmit time of its block at its speed: a test keeps a
  // block unacknowledged as long as it needs for an event, within that.
  void HoldAcknowledgements(std::chrono::microseconds limit);
  void ReleaseAcknowledgements();

  // Writes `bytes` to the PC at once, whatever the registers are doing and however the line
  // is paced: what a register still sends of an exchange that is over, or line noise.
  // Recorded as sent; returns the time of the write.
  Clock::time_point SendOutOfTurn(std::string_view bytes);

  std::string ReceivedBytes() const;
  std::vector<TimedByte> Received() const;
  std::vector<std::string> ReceivedFrames() const;
  std::vector<TimedFrame> ReceivedTimedFrames() const;
  std::string SentBytes() const;
  std::vector<TimedByte> Sent() const;
  void ClearRecord();

  // Waits until `condition` holds, re-testing it whenever the emulator's record or state
  // changes; true when it held within `timeout`. The condition may call any member.
  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;
  // Waits until the frame record holds `count` frames equal to `frame`.
  bool WaitForFrames(const std::string& frame, int count, std::chrono::milliseconds timeout) const;

 private:
  struct Plan;  // bytes to send and how

  void Run();
  // `crossed`: when the frame would have crossed the line (its arrival unless the PC's
  // bytes are paced); the register reacts no earlier.
  void HandleFrame(const PcFrame& frame, Clock::time_point crossed);
  void HandleBlock(const PcFrame& frame, Clock::time_point crossed);
  // When a byte of the PC that arrived at `arrival` would have crossed the line (under
  // lock_, on the emulator's thread).
  Clock::time_point CrossedAt(Clock::time_point arrival);
  // Under lock_: what `reg` sends as a block of `kind` carrying `data`.
  Plan PlanBlock(EmulatedRegister& reg, EmulatorReply kind, const std::string& data);
  Plan PlanAcknowledge(EmulatedRegister& reg, bool ack);
  void Execute(const Plan& plan);
  void WriteWire(std::string_view bytes, std::chrono::milliseconds gap);
  // Records and writes `bytes` now; returns the time recorded.
  Clock::time_point WriteNow(std::string_view bytes);
  // False when the emulator is stopping.
  bool Sleep(std::chrono::microseconds span);
  bool SleepUntil(Clock::time_point end);
  void Trace(const std::string& line);
  void Changed();  // under lock_

  enum class Phase { None, AwaitAckOfStatus, AwaitAckOfMessage, AwaitAnswer, AwaitCommand, AwaitAckOfReply, Done };

  int master_fd_ = -1;
  int device_fd_ = -1;  // keeps the device side open, so the master never sees a hang-up
  int wake_read_fd_ = -1;
  int wake_write_fd_ = -1;
  std::string port_path_;

  mutable std::mutex lock_;
  RecordChanges changes_;
  std::map<int, std::unique_ptr<EmulatedRegister>> registers_;
  std::vector<std::unique_ptr<EmulatedRegister>> retired_;  // removed, still referenced
  std::uint32_t pacing_baud_ = 0;
  Pacing pacing_ = Pacing::RegisterBytes;
  std::function<void(const std::string&)> trace_;
  bool acks_held_ = false;
  std::chrono::microseconds ack_hold_limit_{0};
  std::vector<TimedByte> received_;
  std::vector<TimedFrame> frames_;
  std::vector<TimedByte> sent_;
  // The emulator thread's own state of the exchange.
  PcFrameParser parser_;
  int taken_ = 0;
  Phase phase_ = Phase::None;
  std::string last_reply_;
  // The PC's side of a line paced both ways: when its last byte has crossed, and how many
  // bytes it wrote since a register last sent.
  Clock::time_point pc_line_free_{};
  std::size_t pc_burst_bytes_ = 0;

  std::thread thread_;
};

}  // namespace ecr
