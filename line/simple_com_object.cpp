#include "line/simple_com_object.h"

#include <chrono>
#include <thread>

#include "foundation/log_file.h"
#include "line/block_receiver.h"
#include "line/comm_error.h"
#include "line/link_deadline.h"
#include "platform/tick_count.h"

namespace ecr {

TSimpleComObject::TSimpleComObject() : TSimpleComObject(TickSource(&TickCount)) {}

TSimpleComObject::TSimpleComObject(TickSource ticks) : ticks_(std::move(ticks)) {}

TSimpleComObject::~TSimpleComObject() {
  try {
    Close();
  } catch (const std::exception& e) {
    // Close raises nothing on an open port; this only keeps destruction safe.
    Log("Close error ", 0, e.what());
  }
}

void TSimpleComObject::SetLog(LogFile& log) { log_ = &log; }

void TSimpleComObject::Log(std::string_view head, int error, std::string_view tail) {
  std::string text(head);
  text += std::to_string(error);
  text += tail;
  if (log_ != nullptr) {
    log_->Write(text);
  } else {
    LogWrite(text);
  }
}

void TSimpleComObject::RequireOpen() const {
  if (!IsOpen()) throw ECommError::NotOpen(PortName);
}

void TSimpleComObject::Configure() {
  const std::lock_guard lock(lock_);
  if (!port_.IsOpen()) return;
  if (!port_.Configure(BaudRate())) {
    CloseLocked();
    throw ECommError::UnableToConfigure(PortName);
  }
  speed_index_.store(FindSpeedIndex(BaudRate()));
}

std::optional<std::uint32_t> TSimpleComObject::PortSpeed() const {
  const std::lock_guard lock(lock_);
  return port_.Speed();
}

void TSimpleComObject::CloseLocked() {
  port_.Close();
  open_.store(false);
}

void TSimpleComObject::Open() {
  const std::lock_guard control(control_);
  if (IsOpen()) throw ECommError::AlreadyTaken(PortName);
  {
    const std::lock_guard lock(lock_);
    if (!port_.Open(PortName)) throw ECommError::UnableToOpen(PortName);
    open_.store(true);
  }
  Configure();  // closes again and raises when the device refuses
  // The read time-out (10 ms) and the driver buffers have no settings of their own here:
  // every read polls for at most kReadTimeoutMs, the drain of TakeEcr for kDrainMs, and the
  // tty driver keeps its buffers.
  last_write_tick_.store(Now());
  last_write_ms_.store(0);
  noise_thread_ = std::make_unique<TNoiseThread>([this] { NoisePass(); });
}

void TSimpleComObject::Close() {
  const std::lock_guard control(control_);
  if (!IsOpen()) {
    // A speed change that the device refused closed the port under a running keep-alive.
    noise_thread_.reset();
    return;
  }
  // The free frame needs the fill count of a listed speed; at any other speed the port is
  // closed without it rather than failing to close.
  if (FindSpeedIndex(BaudRate()) >= 0) FreeEcr();
  noise_thread_.reset();
  const std::lock_guard lock(lock_);
  CloseLocked();
}

void TSimpleComObject::StartNoise() {
  const std::lock_guard control(control_);
  if (noise_thread_) noise_thread_->Resume();
}

void TSimpleComObject::StopNoise() {
  const std::lock_guard control(control_);
  if (noise_thread_) noise_thread_->RequestSuspend();
}

bool TSimpleComObject::WriteFileCs(std::string_view bytes, int& error) {
  const std::lock_guard lock(lock_);
  return WriteLocked(bytes, error);
}

bool TSimpleComObject::WriteLocked(std::string_view bytes, int& error) {
  // The output queue is not purged first: every write below waits until its bytes have
  // left the driver, so nothing is ever queued at this point, and on a pseudo-terminal a
  // purge would throw away bytes the far end has not read yet.
  last_write_tick_.store(Now());
  const bool written = port_.Write(bytes);
  last_write_ms_.store(TransmitTime(bytes.size()));
  error = written ? 0 : port_.LastError();
  return written;
}

void TSimpleComObject::AckNak(char code) {
  int error = 0;
  if (!WriteFileCs(std::string{kLinkFill, code}, error)) Log("Write error ", error, "! AckNak");
}

bool TSimpleComObject::ReadOne(std::uint8_t& byte, std::string_view tail) {
  using Clock = std::chrono::steady_clock;
  const auto slotEnd = Clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
  // Waiting happens outside the lock, so that the keep-alive thread can write meanwhile.
  if (!port_.WaitForInput(kReadTimeoutMs)) return false;
  SerialPort::ReadStatus status;
  int error = 0;
  {
    const std::lock_guard lock(lock_);
    status = port_.ReadQueuedByte(byte);
    if (status == SerialPort::ReadStatus::Failed) error = port_.LastError();
  }
  if (status == SerialPort::ReadStatus::Byte) return true;
  if (status == SerialPort::ReadStatus::Failed) Log("Read error ", error, tail);
  // A device in error reports readable at once; the rest of the slot is waited out so that
  // read loops never spin.
  std::this_thread::sleep_until(slotEnd);
  return false;
}

void TSimpleComObject::NoisePass() {
  int error = 0;
  {
    // The silence is judged under the lock that every write takes: a frame of an exchange
    // written between the test and the write would otherwise be followed at once by a
    // keep-alive, while the register may already be answering.
    const std::lock_guard lock(lock_);
    if (!port_.IsOpen()) return;
    const auto silent = static_cast<std::int32_t>(Now() - last_write_tick_.load());
    if (silent <= static_cast<std::int32_t>(last_write_ms_.load() + kSilenceBeforeNoiseMs)) return;
    if (WriteLocked(NoiseFrame(), error)) return;
  }
  Log("WriteFileCs error ", error, "! NoiseThread");
}

std::optional<LinkResult> TSimpleComObject::AwaitBlock(BlockReceiver& receiver, LinkDeadline& deadline, bool& lfSeen,
                                                       std::string_view readErrorTail) {
  for (;;) {
    std::uint8_t byte = 0;
    const bool got = ReadOne(byte, readErrorTail);
    const std::uint32_t now = Now();
    if (deadline.PassedAt(now)) return lfSeen ? LinkResult::ByteTimeOut : LinkResult::TimeOut;
    if (!got) continue;
    switch (receiver.Feed(byte)) {
      case BlockReceiver::Event::Ignored:
        break;  // noise before the LF does not move the deadline
      case BlockReceiver::Event::Started:
        lfSeen = true;
        deadline = {now, kByteGapMs};
        break;
      case BlockReceiver::Event::Restarted:
      case BlockReceiver::Event::Byte:
        deadline.base = now;
        break;
      case BlockReceiver::Event::Complete:
        return std::nullopt;
    }
  }
}

LinkResult TSimpleComObject::TakeEcr(int ecrNo, std::string& block) {
  RequireOpen();
  block.clear();
  {
    // What is still arriving from an earlier exchange is thrown away: what the driver holds,
    // then whatever comes within the port's read time-out (the drain ends early once
    // kPurgeScratch bytes came). A late block of the register taken before would otherwise
    // pass for this register's answer.
    const std::lock_guard lock(lock_);
    port_.PurgeInput();
    port_.DiscardInputFor(kPurgeScratch, kDrainMs);
  }
  int error = 0;
  if (!WriteFileCs(TakeFrame(ecrNo), error)) Log("Write error ", error, "! TakeEcr");

  LinkDeadline deadline{LastWriteTick(), LastWriteMs() + kFirstLfMs};
  bool lfSeen = false;
  BlockReceiver receiver;
  if (const auto timedOut = AwaitBlock(receiver, deadline, lfSeen, "! GetBlock")) return *timedOut;
  if (!receiver.Good()) return LinkResult::BadCrc;
  bool accept = true;
  if (OnTakeBlock) OnTakeBlock(*this, static_cast<std::uint8_t>(ecrNo), receiver.Text(), accept);
  block = receiver.Text();
  if (!accept) return LinkResult::Refused;
  AckNak(kLinkAck);
  return LinkResult::Ok;
}

void TSimpleComObject::FreeEcr() {
  RequireOpen();
  int error = 0;
  if (!WriteFileCs(FreeFrame(FillCountOf(BaudRate())), error)) Log("WriteFileCs error ", error, "! FreeEcr");
}

LinkResult TSimpleComObject::SendBlock(std::string_view block) {
  RequireOpen();
  const std::string frame = PcDataBlock(block.substr(0, kLinkBlockMax), FillCountOf(BaudRate()));
  int resendsLeft = kMaxResends;
  int error = 0;
  WriteFileCs(frame, error);  // a failed write shows as a missing answer
  LinkDeadline deadline{LastWriteTick(), LastWriteMs() + kAckWaitMs};
  for (;;) {
    std::uint8_t byte = 0;
    const bool got = ReadOne(byte, "! SendBlock");
    if (deadline.PassedAt(Now())) return LinkResult::TimeOut;
    if (!got) continue;
    if (byte == static_cast<std::uint8_t>(kLinkAck)) return LinkResult::Ok;
    if (byte != static_cast<std::uint8_t>(kLinkNak)) continue;
    if (resendsLeft <= 0) return LinkResult::Nak;
    --resendsLeft;
    WriteFileCs(frame, error);
    deadline = {LastWriteTick(), LastWriteMs() + kAckWaitMs};
  }
}

LinkResult TSimpleComObject::GetBlock(std::string& block, int timeoutMs) {
  RequireOpen();
  block.clear();
  int naksLeft = kMaxNaks;
  LinkDeadline deadline{LastWriteTick(), static_cast<std::uint32_t>(timeoutMs < 0 ? 0 : timeoutMs) + LastWriteMs()};
  bool lfSeen = false;
  BlockReceiver receiver;
  for (;;) {
    if (const auto timedOut = AwaitBlock(receiver, deadline, lfSeen, "! GetBlock")) return *timedOut;
    if (receiver.Good()) {
      AckNak(kLinkAck);
      block = receiver.Text();
      return LinkResult::Ok;
    }
    if (naksLeft <= 0) return LinkResult::Nak;
    --naksLeft;
    AckNak(kLinkNak);
    // Silence after a NAK ends in a byte time-out after 100 ms (the LF stays seen).
    deadline = {LastWriteTick() + LastWriteMs(), kByteGapMs};
  }
}

}  // namespace ecr
