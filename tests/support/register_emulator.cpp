#include "tests/support/register_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "line/link_frames.h"

namespace ecr {

struct RegisterEmulator::Plan {
  int ecr = 0;
  Clock::time_point not_before{};  // the frame answered has crossed the line
  std::chrono::microseconds delay{0};
  std::chrono::microseconds hold{0};  // an acknowledgement waits for its release this long at most
  std::string noise;
  std::chrono::milliseconds noise_gap{0};
  std::string bytes;  // after the noise
  std::string what;   // for the trace
};

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string DefaultStatus(int number) { return std::to_string(1000 + number) + ";"; }

// One byte of 10 bits at `baud` bit/s.
std::chrono::nanoseconds ByteTime(std::uint32_t baud) {
  return std::chrono::nanoseconds(10'000'000'000LL / baud);
}

std::string BytesOf(const std::vector<RegisterEmulator::TimedByte>& record) {
  std::string bytes;
  bytes.reserve(record.size());
  for (const auto& b : record) bytes += static_cast<char>(b.byte);
  return bytes;
}

std::string TraceBlock(int ecr, const char* what, const std::string& data) {
  PcFrame shown{PcFrame::Kind::Block, 0, data};
  char head[32];
  std::snprintf(head, sizeof head, "ECR %02d  %s ", ecr, what);
  return head + shown.Describe().substr(6);
}

}  // namespace

RegisterEmulator::RegisterEmulator() {
  master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_fd_ < 0 || ::grantpt(master_fd_) != 0 || ::unlockpt(master_fd_) != 0) {
    CloseFd(master_fd_);
    throw std::runtime_error(std::string("No pseudo-terminal: ") + std::strerror(errno));
  }
  char name[128];
  if (::ptsname_r(master_fd_, name, sizeof name) != 0) {
    CloseFd(master_fd_);
    throw std::runtime_error("No pseudo-terminal name");
  }
  port_path_ = name;
  device_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (device_fd_ >= 0) {
    termios raw{};
    if (::tcgetattr(device_fd_, &raw) == 0) {
      ::cfmakeraw(&raw);
      ::tcsetattr(device_fd_, TCSANOW, &raw);
    }
  }
  ::fcntl(master_fd_, F_SETFL, ::fcntl(master_fd_, F_GETFL) | O_NONBLOCK);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    CloseFd(device_fd_);
    CloseFd(master_fd_);
    throw std::runtime_error("No pipe for the emulator");
  }
  wake_read_fd_ = pipe_fds[0];
  wake_write_fd_ = pipe_fds[1];
  thread_ = std::thread([this] { Run(); });
}

RegisterEmulator::~RegisterEmulator() {
  {
    const std::lock_guard lock(lock_);
    changes_.Stop();
  }
  const char wake = 1;
  (void)!::write(wake_write_fd_, &wake, 1);
  thread_.join();
  CloseFd(wake_read_fd_);
  CloseFd(wake_write_fd_);
  CloseFd(device_fd_);
  CloseFd(master_fd_);
}

EmulatedRegister& RegisterEmulator::AddRegister(int logicalNumber) {
  const std::lock_guard lock(lock_);
  auto& slot = registers_[logicalNumber];
  if (!slot) {
    slot = std::make_unique<EmulatedRegister>(logicalNumber, lock_);
    slot->status_ = DefaultStatus(logicalNumber);
  }
  return *slot;
}

EmulatedRegister& RegisterEmulator::Register(int logicalNumber) {
  const std::lock_guard lock(lock_);
  return *registers_.at(logicalNumber);
}

void RegisterEmulator::RemoveRegister(int logicalNumber) {
  const std::lock_guard lock(lock_);
  // Kept alive: callers may still hold the reference; it only stops being played.
  auto it = registers_.find(logicalNumber);
  if (it == registers_.end()) return;
  retired_.push_back(std::move(it->second));
  registers_.erase(it);
}

void RegisterEmulator::SetPacing(std::uint32_t baud, Pacing pacing) {
  const std::lock_guard lock(lock_);
  pacing_baud_ = baud;
  pacing_ = pacing;
}

void RegisterEmulator::SetTrace(std::function<void(const std::string&)> sink) {
  const std::lock_guard lock(lock_);
  trace_ = std::move(sink);
}

void RegisterEmulator::HoldAcknowledgements(std::chrono::microseconds limit) {
  const std::lock_guard lock(lock_);
  acks_held_ = true;
  ack_hold_limit_ = limit;
}

void RegisterEmulator::ReleaseAcknowledgements() {
  const std::lock_guard lock(lock_);
  acks_held_ = false;
  Changed();
}

std::string RegisterEmulator::ReceivedBytes() const {
  const std::lock_guard lock(lock_);
  return BytesOf(received_);
}

std::vector<RegisterEmulator::TimedByte> RegisterEmulator::Received() const {
  const std::lock_guard lock(lock_);
  return received_;
}

std::vector<std::string> RegisterEmulator::ReceivedFrames() const {
  const std::lock_guard lock(lock_);
  std::vector<std::string> texts;
  texts.reserve(frames_.size());
  for (const TimedFrame& f : frames_) texts.push_back(f.text);
  return texts;
}

std::vector<RegisterEmulator::TimedFrame> RegisterEmulator::ReceivedTimedFrames() const {
  const std::lock_guard lock(lock_);
  return frames_;
}

std::string RegisterEmulator::SentBytes() const {
  const std::lock_guard lock(lock_);
  return BytesOf(sent_);
}

std::vector<RegisterEmulator::TimedByte> RegisterEmulator::Sent() const {
  const std::lock_guard lock(lock_);
  return sent_;
}

void RegisterEmulator::ClearRecord() {
  const std::lock_guard lock(lock_);
  received_.clear();
  frames_.clear();
  sent_.clear();
  Changed();
}

bool RegisterEmulator::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
  return changes_.WaitFor(lock_, condition, timeout);
}

bool RegisterEmulator::WaitForFrames(const std::string& frame, int count, std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&] {
        const std::lock_guard lock(lock_);
        int seen = 0;
        for (const TimedFrame& f : frames_) seen += f.text == frame ? 1 : 0;
        return seen >= count;
      },
      timeout);
}

void RegisterEmulator::Changed() {
  changes_.Changed();
}

void RegisterEmulator::Trace(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    const std::lock_guard lock(lock_);
    sink = trace_;
  }
  if (sink) sink(line);
}

bool RegisterEmulator::Sleep(std::chrono::microseconds span) {
  std::unique_lock lock(lock_);
  return changes_.Sleep(lock, span);
}

bool RegisterEmulator::SleepUntil(Clock::time_point end) {
  std::unique_lock lock(lock_);
  const auto now = Clock::now();
  return end <= now ? !changes_.Stopping() : changes_.Sleep(lock, end - now);
}

RegisterEmulator::Clock::time_point RegisterEmulator::CrossedAt(Clock::time_point arrival) {
  if (pacing_ != Pacing::BothDirections || pacing_baud_ == 0) return arrival;
  // The PC's write waited for the bytes it wrote before in this burst, so this byte went on
  // the wire that much later than it reached the terminal, and not before the line was free.
  const auto step = ByteTime(pacing_baud_);
  const Clock::time_point paced = arrival + step * static_cast<Clock::rep>(pc_burst_bytes_);
  const Clock::time_point start = std::max(paced, pc_line_free_);
  ++pc_burst_bytes_;
  pc_line_free_ = start + step;
  return pc_line_free_;
}

void RegisterEmulator::Run() {
  // Paced bytes are half a millisecond apart at 19200 bit/s: the emulator's sleeps should
  // end when they are due, not up to the default 50 us later.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::vector<PcFrame> frames;
  std::vector<Clock::time_point> crossed;  // of each frame
  for (;;) {
    pollfd entries[2] = {{master_fd_, POLLIN, 0}, {wake_read_fd_, POLLIN, 0}};
    const int ready = ::poll(entries, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[1].revents != 0) return;
    if (entries[0].revents == 0) continue;
    std::uint8_t buffer[512];
    const ssize_t n = ::read(master_fd_, buffer, sizeof buffer);
    if (n <= 0) {
      // Nothing to read after all, or the device side hung up: wait a moment, never spin.
      if (!Sleep(std::chrono::milliseconds(10))) return;
      continue;
    }
    const auto now = Clock::now();
    frames.clear();
    crossed.clear();
    {
      const std::lock_guard lock(lock_);
      for (ssize_t i = 0; i < n; ++i) {
        received_.push_back({now, buffer[i]});
        const auto byteCrossed = CrossedAt(now);
        const std::size_t before = frames.size();
        parser_.Feed(buffer[i], frames);
        for (std::size_t f = before; f < frames.size(); ++f) {
          frames_.push_back({now, frames[f].Describe()});
          crossed.push_back(byteCrossed);
        }
      }
      Changed();
    }
    for (std::size_t f = 0; f < frames.size(); ++f) {
      const PcFrame& frame = frames[f];
      Trace("PC      " + frame.Describe());
      HandleFrame(frame, crossed[f]);
      const std::lock_guard lock(lock_);
      if (changes_.Stopping()) return;
    }
  }
}

RegisterEmulator::Plan RegisterEmulator::PlanBlock(EmulatedRegister& reg, EmulatorReply kind,
                                                   const std::string& data) {
  Plan plan;
  plan.ecr = reg.Number();
  EmulatedRegister::Faults& faults = reg.FaultsOf(kind);
  plan.delay = faults.delay;
  const char* what = kind == EmulatorReply::Take ? "sends" : "answers";
  // Faults are taken in this order, so that they combine into sequences: a bad CRC first,
  // then a block cut after its LF, then silence.
  if (faults.bad_crc > 0) {
    --faults.bad_crc;
    plan.noise = reg.noise_;
    plan.noise_gap = reg.noise_gap_;
    plan.bytes = EcrDataBlock(data);
    plan.bytes.back() = static_cast<char>(plan.bytes.back() ^ 0x01);
    plan.what = TraceBlock(plan.ecr, "sends with a bad CRC", data);
    return plan;
  }
  if (faults.stop_after_lf > 0) {
    --faults.stop_after_lf;
    plan.noise = reg.noise_;
    plan.noise_gap = reg.noise_gap_;
    plan.bytes = std::string(1, kLinkLf);
    plan.what = TraceBlock(plan.ecr, "stops after the LF of", data);
    return plan;
  }
  if (faults.silent > 0) {
    --faults.silent;
    plan.what = TraceBlock(plan.ecr, "stays silent instead of", data);
    return plan;
  }
  plan.noise = reg.noise_;
  plan.noise_gap = reg.noise_gap_;
  plan.bytes = EcrDataBlock(data);
  plan.what = TraceBlock(plan.ecr, what, data);
  return plan;
}

RegisterEmulator::Plan RegisterEmulator::PlanAcknowledge(EmulatedRegister& reg, bool ack) {
  Plan plan;
  plan.ecr = reg.Number();
  plan.delay = reg.ack_delay_;
  if (acks_held_) plan.hold = ack_hold_limit_;
  plan.bytes = std::string(1, ack ? kLinkAck : kLinkNak);
  char text[32];
  std::snprintf(text, sizeof text, "ECR %02d  %s", plan.ecr, ack ? "ACK" : "NAK");
  plan.what = text;
  return plan;
}

void RegisterEmulator::Execute(const Plan& plan) {
  if (!SleepUntil(plan.not_before)) return;
  if (plan.delay.count() > 0 && !Sleep(plan.delay)) return;
  if (plan.hold.count() > 0) {
    const auto limit = std::chrono::ceil<std::chrono::milliseconds>(plan.hold);
    changes_.WaitFor(
        lock_,
        [this] {
          const std::lock_guard lock(lock_);
          return !acks_held_ || changes_.Stopping();
        },
        limit);
  }
  if (!plan.what.empty()) Trace(plan.what);
  if (!plan.noise.empty()) WriteWire(plan.noise, plan.noise_gap);
  if (!plan.bytes.empty()) WriteWire(plan.bytes, {});
}

void RegisterEmulator::WriteWire(std::string_view bytes, std::chrono::milliseconds gap) {
  std::uint32_t baud = 0;
  bool bothDirections = false;
  {
    const std::lock_guard lock(lock_);
    baud = pacing_baud_;
    bothDirections = pacing_ == Pacing::BothDirections && baud > 0;
  }
  if (gap.count() == 0 && baud == 0) {
    WriteNow(bytes);
    return;
  }
  const std::chrono::nanoseconds step = gap.count() > 0 ? std::chrono::nanoseconds(gap) : ByteTime(baud);
  auto next = Clock::now();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!bothDirections) {
      // Each byte at the start of its step, on a fixed schedule.
      WriteNow(bytes.substr(i, 1));
      if (!SleepUntil(next += step)) return;
      continue;
    }
    // Paced both ways, a byte reaches the PC when its last bit has crossed, a whole step
    // after the one before has reached it: never sooner, as on a line.
    if (!SleepUntil(next += step)) return;
    next = WriteNow(bytes.substr(i, 1));
  }
}

RegisterEmulator::Clock::time_point RegisterEmulator::WriteNow(std::string_view bytes) {
  Clock::time_point at;
  {
    const std::lock_guard lock(lock_);
    at = Clock::now();
    for (const char c : bytes) sent_.push_back({at, static_cast<std::uint8_t>(c)});
    pc_burst_bytes_ = 0;
    Changed();
  }
  // Bytes the terminal cannot take (nobody reads the device side) are lost, as on a wire.
  (void)!::write(master_fd_, bytes.data(), bytes.size());
  return at;
}

RegisterEmulator::Clock::time_point RegisterEmulator::SendOutOfTurn(std::string_view bytes) { return WriteNow(bytes); }

void RegisterEmulator::HandleFrame(const PcFrame& frame, Clock::time_point crossed) {
  std::optional<Plan> plan;
  {
    const std::lock_guard lock(lock_);
    switch (frame.kind) {
      case PcFrame::Kind::Take: {
        taken_ = 0;
        phase_ = Phase::None;
        const auto it = registers_.find(frame.ecr);
        if (it == registers_.end()) break;
        EmulatedRegister& reg = *it->second;
        ++reg.takes_;
        taken_ = frame.ecr;
        const bool message = !reg.messages_.empty();
        last_reply_ = message ? reg.messages_.front() : reg.status_;
        plan = PlanBlock(reg, EmulatorReply::Take, last_reply_);
        phase_ = message ? Phase::AwaitAckOfMessage : Phase::AwaitAckOfStatus;
        Changed();
        break;
      }
      case PcFrame::Kind::Free:
        taken_ = 0;
        phase_ = Phase::None;
        break;
      case PcFrame::Kind::Ack: {
        const auto it = registers_.find(taken_);
        if (it == registers_.end()) break;
        if (phase_ == Phase::AwaitAckOfMessage) {
          if (!it->second->messages_.empty()) it->second->messages_.pop_front();
          phase_ = Phase::AwaitAnswer;
        } else if (phase_ == Phase::AwaitAckOfStatus) {
          phase_ = Phase::AwaitCommand;
        } else if (phase_ == Phase::AwaitAckOfReply) {
          ++it->second->acknowledged_answers_;
          phase_ = Phase::Done;
        }
        Changed();
        break;
      }
      case PcFrame::Kind::Nak: {
        const auto it = registers_.find(taken_);
        if (it == registers_.end() || phase_ != Phase::AwaitAckOfReply) break;
        plan = PlanBlock(*it->second, EmulatorReply::Answer, last_reply_);
        break;
      }
      case PcFrame::Kind::Block:
      case PcFrame::Kind::BadBlock:
      case PcFrame::Kind::KeepAlive:
      case PcFrame::Kind::Stray:
        break;
    }
  }
  if (plan) {
    plan->not_before = crossed;
    Execute(*plan);
  }
  if (frame.kind == PcFrame::Kind::Block || frame.kind == PcFrame::Kind::BadBlock) HandleBlock(frame, crossed);
}

void RegisterEmulator::HandleBlock(const PcFrame& frame, Clock::time_point crossed) {
  std::optional<Plan> acknowledge;
  bool accepted = false;
  bool command = false;
  EmulatedRegister::Responder responder;
  std::string answer;
  bool answerQueued = false;
  {
    const std::lock_guard lock(lock_);
    const auto it = registers_.find(taken_);
    // A block for a register that is not taken, or before the PC acknowledged the
    // register's own block, is not this register's business.
    if (it == registers_.end() ||
        (phase_ != Phase::AwaitAnswer && phase_ != Phase::AwaitCommand && phase_ != Phase::Done)) {
      return;
    }
    EmulatedRegister& reg = *it->second;
    bool ack = frame.kind == PcFrame::Kind::Block;
    if (reg.nak_next_ > 0) {
      --reg.nak_next_;
      ack = false;
    }
    acknowledge = PlanAcknowledge(reg, ack);
    acknowledge->not_before = crossed;
    accepted = ack;
    if (accepted && phase_ == Phase::AwaitAnswer) {
      reg.online_answers_.push_back(frame.data);
      phase_ = Phase::Done;
    } else if (accepted) {
      command = true;
      reg.commands_.push_back(frame.data);
      if (!reg.answers_.empty()) {
        answer = reg.answers_.front();
        reg.answers_.pop_front();
        answerQueued = true;
      } else {
        responder = reg.responder_;
      }
    }
    Changed();
  }
  Execute(*acknowledge);
  if (!command) return;
  if (!answerQueued) answer = responder ? responder(frame.data) : std::string("0;");
  std::optional<Plan> reply;
  {
    const std::lock_guard lock(lock_);
    const auto it = registers_.find(taken_);
    if (it == registers_.end()) return;
    last_reply_ = answer;
    reply = PlanBlock(*it->second, EmulatorReply::Answer, answer);
    phase_ = Phase::AwaitAckOfReply;
    Changed();
  }
  Execute(*reply);
}

}  // namespace ecr
