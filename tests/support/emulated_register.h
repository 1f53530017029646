#pragma once
// One register played by the register emulator: what it answers when it is taken (its
// status block, or the next queued OnLine message), how it answers commands, how it
// misbehaves, and what it received. Obtained from RegisterEmulator::AddRegister; lives as
// long as its emulator.
//
// Threads: every member may be called from any thread (they take the emulator's lock); the
// changes apply from the next frame the emulator handles.

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace ecr {

// The two kinds of block a register sends: its answer to a take frame (status or OnLine
// message) and its answer to a command block.
enum class EmulatorReply { Take, Answer };

class EmulatedRegister {
 public:
  static constexpr int kAlways = std::numeric_limits<int>::max();
  using Responder = std::function<std::string(const std::string& command)>;

  EmulatedRegister(int number, std::mutex& lock) : number_(number), lock_(lock) {}
  EmulatedRegister(const EmulatedRegister&) = delete;
  EmulatedRegister& operator=(const EmulatedRegister&) = delete;

  int Number() const { return number_; }

  // The block sent on a take while no message is queued (default: 1000 + number and ";").
  EmulatedRegister& SetStatus(std::string status);
  // Messages sent on takes, oldest first; one leaves the queue when the PC acknowledges it.
  EmulatedRegister& QueueOnLineMessage(std::string message);
  // Answer to the next command; when none is queued the responder answers (default "0;").
  EmulatedRegister& QueueAnswer(std::string answer);
  EmulatedRegister& SetResponder(Responder responder);

  // Misbehaviour for the next `times` blocks of a kind (each transmission counts). When
  // several are set, the bad CRCs come first, then the blocks cut after the LF, then the
  // silence: SendBadCrc(k, 1).StaySilent(k, 1) sends one bad block and then nothing.
  EmulatedRegister& StaySilent(EmulatorReply kind, int times = kAlways);
  EmulatedRegister& StopAfterLf(EmulatorReply kind, int times = kAlways);
  EmulatedRegister& SendBadCrc(EmulatorReply kind, int times = kAlways);
  // Every block of the kind goes out this late.
  EmulatedRegister& AnswerLate(EmulatorReply kind, std::chrono::milliseconds delay);
  // These bytes go out before the LF of every block, `gap` apart (0: at line speed).
  EmulatedRegister& SendNoiseBeforeLf(std::string noise, std::chrono::milliseconds gap = {});
  // The next `times` blocks received are refused with NAK whatever their CRC.
  EmulatedRegister& NakNext(int times);
  // Every ACK or NAK goes out this late after the block it answers (the block is counted
  // among Commands() or OnLineAnswers() before). The PC waits 200 ms for it after its block.
  EmulatedRegister& AcknowledgeLate(std::chrono::microseconds delay);
  // Back to good behaviour (queues and records stay).
  EmulatedRegister& Behave();

  int Takes() const;                          // take frames addressed to it
  std::vector<std::string> Commands() const;  // good command blocks received
  std::vector<std::string> OnLineAnswers() const;
  // Answers to commands that the PC acknowledged.
  int AcknowledgedAnswers() const;
  std::size_t QueuedMessages() const;

 private:
  friend class RegisterEmulator;

  struct Faults {
    int silent = 0;
    int stop_after_lf = 0;
    int bad_crc = 0;
    std::chrono::milliseconds delay{0};
  };
  Faults& FaultsOf(EmulatorReply kind) { return kind == EmulatorReply::Take ? take_faults_ : answer_faults_; }

  const int number_;
  std::mutex& lock_;
  // Guarded by lock_.
  std::string status_;
  std::deque<std::string> messages_;
  std::deque<std::string> answers_;
  Responder responder_;
  Faults take_faults_;
  Faults answer_faults_;
  std::string noise_;
  std::chrono::milliseconds noise_gap_{0};
  int nak_next_ = 0;
  std::chrono::microseconds ack_delay_{0};
  int takes_ = 0;
  int acknowledged_answers_ = 0;
  std::vector<std::string> commands_;
  std::vector<std::string> online_answers_;
};

}  // namespace ecr
