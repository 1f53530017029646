#pragma once
// Plays the network controller, and up to 16 registers behind it, on the far end of a
// pseudo-terminal, from the controller's side of the link. It answers every command of the
// PC as the controller does ("Code Status Ack 00"; the identify command with the 12-byte
// identification), keeps the mask, start and speed the PC set, records every byte it
// receives and reads them back as commands, and sends the registers' blocks when told to.
//
//   ControllerEmulator nc;
//   registry key COM1 -> nc.PortPath();
//   controller.FindController();
//   nc.QueueInLineAnswer(3, "OK");          // register 3 answers InLine data with "OK"
//   nc.SendEcrBlock(3, "1234567");          // register 3 announces an InLine exchange
//   nc.WaitFor([&] { return nc.InLineData(3).size() == 1; }, 2s);
//
// Misbehaviours: silence (no reply at all), a refused (NAK) next delivery report with a
// chosen status, delivery reports held back until the test lets them go (so that another
// register's block overtakes them, or the link gives them up first) or loses them, the next
// report of one kind lost, noise before every frame it sends, a wrong identification, and any
// raw bytes the test writes itself (bad frames, split frames, noise frames).
//
// Like the controller it answers the PC's commands in order: a reply never overtakes a
// delivery report held back before it. Only the registers' blocks (SendEcrBlock) do.
//
// Commands as read back: "SPEED4800", "SPEED9600", "MASK hhhh" (hex), "START", "STOP",
// "RESET", "IDENTIFY", "ONL <text>" and "INL <text>" (text as received, in the registers'
// character set), "STRAY xx" for a byte that starts no command.
//
// Threads: every member may be called from any thread. Replies are sent on the emulator's
// own thread; SendEcrBlock, SendFrame and SendRaw write at once from the caller's.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/record_changes.h"

namespace ecr {

class ControllerEmulator {
 public:
  using Clock = std::chrono::steady_clock;
  struct TimedCommand {
    Clock::time_point at;  // arrival of the command's last byte
    std::string raw;       // the command's bytes
    std::string text;      // as described above
  };

  static constexpr std::uint8_t kAck = 0x06;
  static constexpr std::uint8_t kNak = 0x15;

  // Opens the pseudo-terminal and starts playing; std::runtime_error when there is none.
  ControllerEmulator();
  ~ControllerEmulator();
  ControllerEmulator(const ControllerEmulator&) = delete;
  ControllerEmulator& operator=(const ControllerEmulator&) = delete;

  const std::string& PortPath() const { return port_path_; }

  // The identification bytes (six) and the flag byte of the identify reply; 0xFF asks the
  // PC for a reset.
  void SetIdentity(std::string sixBytes, std::uint8_t flag = 0);
  // Replaces the whole identify reply (a device that is no controller).
  void SetIdentifyReply(std::string bytes);
  // Silent: no reply to anything (the controller switched off); commands are still recorded.
  void SetSilent(bool silent);
  // The next delivery report with `code` (0x0D OnLine answer, 0x14 InLine data) is a NAK
  // with `status`.
  void NakNextDelivery(std::uint8_t code, std::uint8_t status);
  // From now on the delivery reports, and the InLine answers that follow them, are kept
  // back instead of sent (the texts are still received and recorded at once); so are the
  // replies to the commands that come after a report kept back.
  void HoldDeliveries();
  // Sends what was kept back, in order, and holds nothing more.
  void ReleaseDeliveries();
  // The reports kept back (and the InLine answers after them) are lost, never sent (garbled
  // on the wire); the replies kept behind them go out. Nothing more is held.
  void DropHeldDeliveries();
  // Delivery reports kept back so far.
  std::size_t HeldDeliveries() const;
  // The next delivery report with `code` (0x0D, 0x14), and the InLine answer after it, is
  // lost; everything else goes on.
  void LoseNextDelivery(std::uint8_t code);
  // Bytes sent before every frame (noise the PC must skip; must not hold 0x00).
  void SetNoise(std::string bytes);

  // Register `ecr` (1..16) answers the next InLine data delivered to it with this block.
  void QueueInLineAnswer(int ecr, std::string answer);
  // A block from register `ecr` (1..16): noise, 0A, block, 0x80 + ecr, status, ack, 00. The
  // register becomes the controller's current one.
  void SendEcrBlock(int ecr, std::string_view block, std::uint8_t status = 1, std::uint8_t ack = kAck);
  // prefix, code, status, ack, 00.
  void SendFrame(std::uint8_t code, std::uint8_t status, std::uint8_t ack = kAck, std::string_view prefix = {});
  // Exactly these bytes.
  void SendRaw(std::string_view bytes);

  // What the PC set.
  std::uint16_t Mask() const;
  bool Started() const;
  int Speed() const;  // 4800 until a speed command
  // Texts delivered to register `ecr` (as received, in the registers' character set).
  std::vector<std::string> InLineData(int ecr) const;
  std::vector<std::string> OnLineAnswers(int ecr) const;

  std::string ReceivedBytes() const;
  std::vector<std::string> ReceivedCommands() const;
  std::vector<TimedCommand> ReceivedTimedCommands() const;
  std::string SentBytes() const;
  void ClearRecord();

  // Waits until `condition` holds, re-testing it whenever the record or state changes; true
  // when it held within `timeout`. The condition may call any member.
  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;
  // Waits until `count` commands equal to `text` have been received.
  bool WaitForCommands(const std::string& text, std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  void Run();
  // Under lock_: takes one byte of the PC; completes a command into `done`.
  void Feed(std::uint8_t byte, std::vector<TimedCommand>& done, Clock::time_point now);
  // Under lock_: the bytes that answer one command, now or (behind a held report) later.
  std::string Reply(const TimedCommand& command);
  std::string ReplyInTurn(const TimedCommand& command);
  // Ends the holding: sends what was held, the reports among it or not.
  void SendHeld(bool reportsToo);
  std::string FrameLocked(std::uint8_t code, std::uint8_t status, std::uint8_t ack, std::string_view prefix) const;
  void Write(std::string_view bytes);
  void WriteToDevice(std::string_view bytes);  // under write_lock_
  void Changed();  // under lock_
  static void CheckEcr(int ecr);

  int master_fd_ = -1;
  int device_fd_ = -1;  // keeps the device side open, so the master never sees a hang-up
  int wake_read_fd_ = -1;
  int wake_write_fd_ = -1;
  std::string port_path_;

  mutable std::mutex lock_;
  RecordChanges changes_;
  std::string identity_ = std::string("NC0001");
  std::uint8_t flag_ = 0;
  std::string identify_reply_;  // empty: made from identity_ and flag_
  bool silent_ = false;
  std::map<std::uint8_t, std::uint8_t> nak_next_;  // delivery code -> status
  bool hold_deliveries_ = false;
  struct HeldReply {
    std::string bytes;  // a report with the InLine answer after it, or a command's reply
    bool report = false;
  };
  std::vector<HeldReply> held_;
  std::map<std::uint8_t, int> lose_next_;  // delivery code -> reports to lose
  std::string noise_;
  std::uint16_t mask_ = 0;
  bool started_ = false;
  int speed_ = 4800;
  int current_ecr_ = 0;
  std::map<int, std::vector<std::string>> inline_answers_;
  std::map<int, std::vector<std::string>> inline_data_;
  std::map<int, std::vector<std::string>> online_answers_;
  std::string received_;
  std::string sent_;
  std::vector<TimedCommand> commands_;
  std::string partial_;  // the command being received

  std::mutex write_lock_;
  std::thread thread_;
};

}  // namespace ecr
