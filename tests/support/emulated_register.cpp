#include "tests/support/emulated_register.h"

namespace ecr {

EmulatedRegister& EmulatedRegister::SetStatus(std::string status) {
  const std::lock_guard lock(lock_);
  status_ = std::move(status);
  return *this;
}

EmulatedRegister& EmulatedRegister::QueueOnLineMessage(std::string message) {
  const std::lock_guard lock(lock_);
  messages_.push_back(std::move(message));
  return *this;
}

EmulatedRegister& EmulatedRegister::QueueAnswer(std::string answer) {
  const std::lock_guard lock(lock_);
  answers_.push_back(std::move(answer));
  return *this;
}

EmulatedRegister& EmulatedRegister::SetResponder(Responder responder) {
  const std::lock_guard lock(lock_);
  responder_ = std::move(responder);
  return *this;
}

EmulatedRegister& EmulatedRegister::StaySilent(EmulatorReply kind, int times) {
  const std::lock_guard lock(lock_);
  FaultsOf(kind).silent = times;
  return *this;
}

EmulatedRegister& EmulatedRegister::StopAfterLf(EmulatorReply kind, int times) {
  const std::lock_guard lock(lock_);
  FaultsOf(kind).stop_after_lf = times;
  return *this;
}

EmulatedRegister& EmulatedRegister::SendBadCrc(EmulatorReply kind, int times) {
  const std::lock_guard lock(lock_);
  FaultsOf(kind).bad_crc = times;
  return *this;
}

EmulatedRegister& EmulatedRegister::AnswerLate(EmulatorReply kind, std::chrono::milliseconds delay) {
  const std::lock_guard lock(lock_);
  FaultsOf(kind).delay = delay;
  return *this;
}

EmulatedRegister& EmulatedRegister::SendNoiseBeforeLf(std::string noise, std::chrono::milliseconds gap) {
  const std::lock_guard lock(lock_);
  noise_ = std::move(noise);
  noise_gap_ = gap;
  return *this;
}

EmulatedRegister& EmulatedRegister::NakNext(int times) {
  const std::lock_guard lock(lock_);
  nak_next_ = times;
  return *this;
}

EmulatedRegister& EmulatedRegister::AcknowledgeLate(std::chrono::microseconds delay) {
  const std::lock_guard lock(lock_);
  ack_delay_ = delay;
  return *this;
}

EmulatedRegister& EmulatedRegister::Behave() {
  const std::lock_guard lock(lock_);
  take_faults_ = {};
  answer_faults_ = {};
  noise_.clear();
  noise_gap_ = {};
  nak_next_ = 0;
  ack_delay_ = {};
  return *this;
}

int EmulatedRegister::Takes() const {
  const std::lock_guard lock(lock_);
  return takes_;
}

std::vector<std::string> EmulatedRegister::Commands() const {
  const std::lock_guard lock(lock_);
  return commands_;
}

std::vector<std::string> EmulatedRegister::OnLineAnswers() const {
  const std::lock_guard lock(lock_);
  return online_answers_;
}

int EmulatedRegister::AcknowledgedAnswers() const {
  const std::lock_guard lock(lock_);
  return acknowledged_answers_;
}

std::size_t EmulatedRegister::QueuedMessages() const {
  const std::lock_guard lock(lock_);
  return messages_.size();
}

}  // namespace ecr
