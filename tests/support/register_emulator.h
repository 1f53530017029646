#pragma once
// Plays any number of registers, by logical number, on the far end of a pseudo-terminal,
// following the register link from the registers' side: a register answers its take frame
// with its status block or its next queued OnLine message, reads and acknowledges blocks
// (checking their CRC), answers commands, and misbehaves when told to (see
// EmulatedRegister). Every byte received from the PC is recorded with its time of arrival,
// and also read back as frames ("TAKE 07", "FREE", "ACK", "BLOCK ...").
//
// A pseudo-terminal ignores the baud rate; SetPacing makes the emulator send its own bytes
// at a line speed (the PC's bytes arrive as fast as the PC writes them).
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
    Clock::time_point at;
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

  // Sends the registers' bytes at `baud` bit/s (10 bits a byte); 0 sends at once.
  void SetPacing(std::uint32_t baud);
  // Readable lines about every frame received and every block sent.
  void SetTrace(std::function<void(const std::string&)> sink);

  std::string ReceivedBytes() const;
  std::vector<TimedByte> Received() const;
  std::vector<std::string> ReceivedFrames() const;
  std::vector<TimedFrame> ReceivedTimedFrames() const;
  std::string SentBytes() const;
  void ClearRecord();

  // Waits until `condition` holds, re-testing it whenever the emulator's record or state
  // changes; true when it held within `timeout`. The condition may call any member.
  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;
  // Waits until the frame record holds `count` frames equal to `frame`.
  bool WaitForFrames(const std::string& frame, int count, std::chrono::milliseconds timeout) const;

 private:
  struct Plan;  // bytes to send and how

  void Run();
  void HandleFrame(const PcFrame& frame);
  void HandleBlock(const PcFrame& frame);
  // Under lock_: what `reg` sends as a block of `kind` carrying `data`.
  Plan PlanBlock(EmulatedRegister& reg, EmulatorReply kind, const std::string& data);
  Plan PlanAcknowledge(EmulatedRegister& reg, bool ack);
  void Execute(const Plan& plan);
  void WriteWire(std::string_view bytes, std::chrono::milliseconds gap);
  // False when the emulator is stopping.
  bool Sleep(std::chrono::microseconds span);
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
  std::function<void(const std::string&)> trace_;
  std::vector<TimedByte> received_;
  std::vector<TimedFrame> frames_;
  std::string sent_;
  // The emulator thread's own state of the exchange.
  PcFrameParser parser_;
  int taken_ = 0;
  Phase phase_ = Phase::None;
  std::string last_reply_;

  std::thread thread_;
};

}  // namespace ecr
