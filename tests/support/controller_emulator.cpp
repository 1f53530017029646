#include "tests/support/controller_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace ecr {

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

std::string Hex2(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

constexpr std::uint8_t kTextStart = 0x0A;
constexpr std::uint8_t kOnlEnd = 0x0D;
constexpr std::uint8_t kInlEnd = 0x14;

}  // namespace

ControllerEmulator::ControllerEmulator() {
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

ControllerEmulator::~ControllerEmulator() {
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

void ControllerEmulator::CheckEcr(int ecr) {
  if (ecr < 1 || ecr > 16) throw std::out_of_range("register numbers behind the controller are 1..16");
}

void ControllerEmulator::SetIdentity(std::string sixBytes, std::uint8_t flag) {
  if (sixBytes.size() != 6) throw std::invalid_argument("the identification has six bytes");
  const std::lock_guard lock(lock_);
  identity_ = std::move(sixBytes);
  flag_ = flag;
  identify_reply_.clear();
}

void ControllerEmulator::SetIdentifyReply(std::string bytes) {
  const std::lock_guard lock(lock_);
  identify_reply_ = std::move(bytes);
}

void ControllerEmulator::SetSilent(bool silent) {
  const std::lock_guard lock(lock_);
  silent_ = silent;
}

void ControllerEmulator::NakNextDelivery(std::uint8_t code, std::uint8_t status) {
  const std::lock_guard lock(lock_);
  nak_next_[code] = status;
}

void ControllerEmulator::HoldDeliveries() {
  const std::lock_guard lock(lock_);
  hold_deliveries_ = true;
}

void ControllerEmulator::ReleaseDeliveries() { SendHeld(true); }

void ControllerEmulator::DropHeldDeliveries() { SendHeld(false); }

void ControllerEmulator::SendHeld(bool reportsToo) {
  std::string held;
  {
    const std::lock_guard lock(lock_);
    hold_deliveries_ = false;
    for (const HeldReply& reply : held_) {
      if (reportsToo || !reply.report) held += reply.bytes;
    }
    held_.clear();
    Changed();
  }
  Write(held);
}

std::size_t ControllerEmulator::HeldDeliveries() const {
  const std::lock_guard lock(lock_);
  return static_cast<std::size_t>(
      std::count_if(held_.begin(), held_.end(), [](const HeldReply& reply) { return reply.report; }));
}

void ControllerEmulator::LoseNextDelivery(std::uint8_t code) {
  const std::lock_guard lock(lock_);
  ++lose_next_[code];
}

void ControllerEmulator::SetNoise(std::string bytes) {
  if (bytes.find('\0') != std::string::npos) throw std::invalid_argument("noise must not end a frame");
  const std::lock_guard lock(lock_);
  noise_ = std::move(bytes);
}

void ControllerEmulator::QueueInLineAnswer(int ecr, std::string answer) {
  CheckEcr(ecr);
  const std::lock_guard lock(lock_);
  inline_answers_[ecr].push_back(std::move(answer));
}

std::string ControllerEmulator::FrameLocked(std::uint8_t code, std::uint8_t status, std::uint8_t ack,
                                            std::string_view prefix) const {
  std::string frame = noise_;
  frame += prefix;
  frame += static_cast<char>(code);
  frame += static_cast<char>(status);
  frame += static_cast<char>(ack);
  frame += '\0';
  return frame;
}

void ControllerEmulator::SendEcrBlock(int ecr, std::string_view block, std::uint8_t status, std::uint8_t ack) {
  CheckEcr(ecr);
  std::string frame;
  {
    const std::lock_guard lock(lock_);
    current_ecr_ = ecr;
    std::string body(1, static_cast<char>(kTextStart));
    body += block;
    frame = FrameLocked(static_cast<std::uint8_t>(0x80 + ecr), status, ack, body);
  }
  Write(frame);
}

void ControllerEmulator::SendFrame(std::uint8_t code, std::uint8_t status, std::uint8_t ack, std::string_view prefix) {
  std::string frame;
  {
    const std::lock_guard lock(lock_);
    frame = FrameLocked(code, status, ack, prefix);
  }
  Write(frame);
}

void ControllerEmulator::SendRaw(std::string_view bytes) { Write(bytes); }

void ControllerEmulator::Write(std::string_view bytes) {
  const std::lock_guard writing(write_lock_);
  {
    const std::lock_guard lock(lock_);
    sent_.append(bytes);
    Changed();
  }
  WriteToDevice(bytes);
}

void ControllerEmulator::WriteToDevice(std::string_view bytes) {
  // Bytes the terminal cannot take (nobody reads the device side) are lost, as on a wire.
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      pollfd entry{master_fd_, POLLOUT, 0};
      if (::poll(&entry, 1, 1000) <= 0) return;
    }
  }
}

std::uint16_t ControllerEmulator::Mask() const {
  const std::lock_guard lock(lock_);
  return mask_;
}

bool ControllerEmulator::Started() const {
  const std::lock_guard lock(lock_);
  return started_;
}

int ControllerEmulator::Speed() const {
  const std::lock_guard lock(lock_);
  return speed_;
}

std::vector<std::string> ControllerEmulator::InLineData(int ecr) const {
  const std::lock_guard lock(lock_);
  const auto it = inline_data_.find(ecr);
  return it == inline_data_.end() ? std::vector<std::string>{} : it->second;
}

std::vector<std::string> ControllerEmulator::OnLineAnswers(int ecr) const {
  const std::lock_guard lock(lock_);
  const auto it = online_answers_.find(ecr);
  return it == online_answers_.end() ? std::vector<std::string>{} : it->second;
}

std::string ControllerEmulator::ReceivedBytes() const {
  const std::lock_guard lock(lock_);
  return received_;
}

std::vector<std::string> ControllerEmulator::ReceivedCommands() const {
  const std::lock_guard lock(lock_);
  std::vector<std::string> texts;
  texts.reserve(commands_.size());
  for (const TimedCommand& c : commands_) texts.push_back(c.text);
  return texts;
}

std::vector<ControllerEmulator::TimedCommand> ControllerEmulator::ReceivedTimedCommands() const {
  const std::lock_guard lock(lock_);
  return commands_;
}

std::string ControllerEmulator::SentBytes() const {
  const std::lock_guard lock(lock_);
  return sent_;
}

void ControllerEmulator::ClearRecord() {
  const std::lock_guard lock(lock_);
  received_.clear();
  sent_.clear();
  commands_.clear();
  inline_data_.clear();
  online_answers_.clear();
  Changed();
}

bool ControllerEmulator::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
  return changes_.WaitFor(lock_, condition, timeout);
}

bool ControllerEmulator::WaitForCommands(const std::string& text, std::size_t count,
                                         std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&] {
        const std::lock_guard lock(lock_);
        std::size_t seen = 0;
        for (const TimedCommand& c : commands_) seen += c.text == text ? 1 : 0;
        return seen >= count;
      },
      timeout);
}

void ControllerEmulator::Changed() {
  changes_.Changed();
}

void ControllerEmulator::Feed(std::uint8_t byte, std::vector<TimedCommand>& done, Clock::time_point now) {
  received_ += static_cast<char>(byte);
  partial_ += static_cast<char>(byte);
  const auto first = static_cast<std::uint8_t>(partial_[0]);
  std::string text;
  switch (first) {
    case 0x01: text = "SPEED4800"; break;
    case 0x02: text = "SPEED9600"; break;
    case 0x08: text = "START"; break;
    case 0x09: text = "STOP"; break;
    case 0x0B: text = "RESET"; break;
    case 0x0C: text = "IDENTIFY"; break;
    case 0x07:
      if (partial_.size() < 3) return;
      text = "MASK " + Hex4(static_cast<std::uint16_t>((static_cast<std::uint8_t>(partial_[1]) << 8) |
                                                       static_cast<std::uint8_t>(partial_[2])));
      break;
    case kTextStart:
      if (partial_.size() < 2 || (byte != kOnlEnd && byte != kInlEnd)) return;
      text = (byte == kOnlEnd ? "ONL " : "INL ") + partial_.substr(1, partial_.size() - 2);
      break;
    default: text = "STRAY " + Hex2(first); break;
  }
  done.push_back({now, partial_, text});
  partial_.clear();
}

std::string ControllerEmulator::Reply(const TimedCommand& command) {
  std::string reply = ReplyInTurn(command);
  // A reply waits behind a report held back before it.
  if (!reply.empty() && !held_.empty()) {
    held_.push_back({std::move(reply), false});
    return {};
  }
  return reply;
}

std::string ControllerEmulator::ReplyInTurn(const TimedCommand& command) {
  const auto code = static_cast<std::uint8_t>(command.raw[0]);
  switch (code) {
    case 0x01:
    case 0x02:
      speed_ = code == 0x01 ? 4800 : 9600;
      return silent_ ? std::string() : FrameLocked(code, 1, kAck, {});
    case 0x07:
      mask_ = static_cast<std::uint16_t>((static_cast<std::uint8_t>(command.raw[1]) << 8) |
                                         static_cast<std::uint8_t>(command.raw[2]));
      return silent_ ? std::string() : FrameLocked(code, 1, kAck, {});
    case 0x08:
    case 0x09:
      started_ = code == 0x08;
      return silent_ ? std::string() : FrameLocked(code, 1, kAck, {});
    case 0x0B:
      current_ecr_ = 0;
      return silent_ ? std::string() : FrameLocked(code, 1, kAck, {});
    case 0x0C: {
      if (silent_) return {};
      if (!identify_reply_.empty()) return identify_reply_;
      std::string prefix = identity_;
      prefix += static_cast<char>(flag_);
      prefix += '\x01';
      return FrameLocked(code, 1, kAck, prefix);
    }
    case kTextStart: {
      const auto end = static_cast<std::uint8_t>(command.raw.back());
      const std::string text = command.raw.substr(1, command.raw.size() - 2);
      std::uint8_t status = 1;
      std::uint8_t ack = kAck;
      const auto nak = nak_next_.find(end);
      if (nak != nak_next_.end()) {
        status = nak->second;
        ack = kNak;
        nak_next_.erase(nak);
      }
      const int ecr = current_ecr_;
      if (ack == kAck && ecr != 0) (end == kOnlEnd ? online_answers_ : inline_data_)[ecr].push_back(text);
      if (silent_) return {};
      std::string reply = FrameLocked(end, status, ack, {});
      auto answers = inline_answers_.find(ecr);
      if (end == kInlEnd && ack == kAck && answers != inline_answers_.end() && !answers->second.empty()) {
        std::string body(1, static_cast<char>(kTextStart));
        body += answers->second.front();
        answers->second.erase(answers->second.begin());
        reply += FrameLocked(static_cast<std::uint8_t>(0x80 + ecr), 1, kAck, body);
      }
      if (auto lose = lose_next_.find(end); lose != lose_next_.end()) {
        if (--lose->second == 0) lose_next_.erase(lose);
        return {};
      }
      if (hold_deliveries_) {
        held_.push_back({std::move(reply), true});
        Changed();
        return {};
      }
      return reply;
    }
    default: return {};
  }
}

void ControllerEmulator::Run() {
  std::vector<TimedCommand> done;
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
      // Nothing after all, or the device side hung up: wait a moment (or the stop), never spin.
      std::unique_lock lock(lock_);
      if (!changes_.Sleep(lock, std::chrono::milliseconds(10))) return;
      continue;
    }
    const auto now = Clock::now();
    std::string replies;
    {
      const std::lock_guard lock(lock_);
      done.clear();
      for (ssize_t i = 0; i < n; ++i) Feed(buffer[i], done, now);
      for (const TimedCommand& command : done) replies += Reply(command);
    }
    // A command shows only once its reply is on the wire: a test that waits for the command and
    // then clears the record or reopens the port never meets the reply arriving late.
    const std::lock_guard writing(write_lock_);
    WriteToDevice(replies);
    const std::lock_guard lock(lock_);
    sent_ += replies;
    commands_.insert(commands_.end(), done.begin(), done.end());
    Changed();
  }
}

}  // namespace ecr
