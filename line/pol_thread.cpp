#include "line/pol_thread.h"

#include <chrono>
#include <stdexcept>
#include <utility>

#include "foundation/log_file.h"

namespace ecr {

TPolThread::TPolThread() : code_table_(HarbendixCodeTables().Table(1)) {}

TPolThread::~TPolThread() {
  handlers_detached_.store(true);
  {
    const std::lock_guard lock(list_lock_);
    terminated_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (Com != nullptr) {
    try {
      Com->Close();
    } catch (const std::exception& e) {
      Log(e.what());
    }
  }
}

void TPolThread::SetCodeTable(const CodeTable& row) { code_table_ = row; }

void TPolThread::SetLog(LogFile& log) { log_ = &log; }

void TPolThread::Resume() {
  if (thread_.joinable() || finished_.load()) return;
  thread_ = std::thread([this] { Execute(); });
}

void TPolThread::AddEcr(int ecr) {
  const std::lock_guard lock(list_lock_);
  // The wake comes on the way out in every case, so that a thread going to sleep right now
  // still sees the number (its test of the list and its sleep are under this lock).
  struct WakeOnExit {
    TPolThread& self;
    ~WakeOnExit() {
      if (self.list_.Count() > 0) self.wake_.notify_all();
    }
  } wake{*this};
  list_.Add(ecr);
}

void TPolThread::RemoveEcr(int ecr) {
  const std::lock_guard lock(list_lock_);
  list_.Remove(ecr);
}

void TPolThread::ClearEcrs() {
  const std::lock_guard lock(list_lock_);
  list_.Clear();
}

int TPolThread::NextEcr() {
  const std::lock_guard lock(list_lock_);
  return list_.Next();
}

int TPolThread::EcrCount() const {
  const std::lock_guard lock(list_lock_);
  return list_.Count();
}

void TPolThread::CancelExchange() {
  {
    const std::lock_guard lock(text_lock_);
    cancel_ = true;
  }
  answer_or_cancel_.notify_all();
}

void TPolThread::SetInLineCommand(std::string_view text) {
  std::string command = StrToEcr(text);
  const std::lock_guard lock(text_lock_);
  inline_command_ = std::move(command);
  inline_pending_ = true;
}

bool TPolThread::SetOnLineAnswer(std::string_view text) {
  std::string answer = StrToEcr(text);
  {
    const std::lock_guard lock(text_lock_);
    if (!awaiting_answer_ || answer_taken_) return false;
    online_answer_ = std::move(answer);
    answer_taken_ = true;
  }
  answer_or_cancel_.notify_all();
  return true;
}

void TPolThread::StartNoise() {
  if (Com != nullptr) Com->StartNoise();
}

void TPolThread::StopNoise() {
  if (Com != nullptr) Com->StopNoise();
}

std::size_t TPolThread::BlockCapacity() const {
  if (Com == nullptr) return 0;
  const int speedIndex = FindSpeedIndex(Com->BaudRate());
  if (speedIndex < 0) return 0;
  return BlockDataCapacity(SpeedTable[static_cast<std::size_t>(speedIndex)].FillCount);
}

std::string TPolThread::StrToEcr(std::string_view text) const { return ConvertToEcr(code_table_, text); }

std::string TPolThread::StrFromEcr(std::string_view text) const { return ConvertFromEcr(code_table_, text); }

void TPolThread::Log(const std::string& text) {
  if (log_ != nullptr) {
    log_->Write(text);
  } else {
    LogWrite(text);
  }
}

void TPolThread::Raise(const TOnEcrBlk& event, int ecr, const std::string& blk, LinkResult errC) {
  if (event && !handlers_detached_.load()) event(*this, ecr, blk, static_cast<std::uint8_t>(errC));
}

void TPolThread::Raise(const TCommandNotify& event, int ecr, LinkResult errC) {
  if (event && !handlers_detached_.load()) event(*this, ecr, static_cast<std::uint8_t>(errC));
}

bool TPolThread::Terminated() const {
  const std::lock_guard lock(list_lock_);
  return terminated_;
}

void TPolThread::Execute() {
  try {
    RunPasses();
  } catch (const std::exception& e) {
    if (log_ != nullptr) {
      log_->WriteException("TPolThread.Execute", e);
    } else {
      LogException("TPolThread.Execute", e);
    }
  }
  finished_.store(true);
}

void TPolThread::RunPasses() {
  if (Com == nullptr) throw std::runtime_error("Communication object not assigned !");
  Com->FreeEcr();
  LinkResult last = LinkResult::NoResult;
  int previous = -1;
  do {
    if (last == LinkResult::Ok) Com->FreeEcr();
    int ecr = -1;
    {
      std::unique_lock lock(list_lock_);
      ecr = list_.Next();
      if (ecr == -1) {
        wake_.wait(lock, [this] { return list_.Count() > 0 || terminated_; });
      }
    }
    if (ecr == -1) {
      // The pass ends as with number -1 served: the first take after the sleep does not
      // count as the start of a new cycle, so no free frame goes before it.
      last = LinkResult::NoResult;
      previous = -1;
      continue;
    }
    if (ecr <= previous && last != LinkResult::Ok) Com->FreeEcr();
    std::string block;
    last = Com->TakeEcr(ecr, block);
    if (last == LinkResult::Ok) {
      ServeBlock(ecr, StrFromEcr(block));
    } else if (last == LinkResult::ByteTimeOut || last == LinkResult::BadCrc) {
      Log("Take error: " + ResultText(last));
    }
    previous = ecr;
  } while (!Terminated());
}

void TPolThread::ServeBlock(int ecr, const std::string& block) {
  {
    // A command, answer or cancel handed over before this moment belongs to an earlier
    // exchange.
    const std::lock_guard lock(text_lock_);
    inline_pending_ = false;
    cancel_ = false;
    awaiting_answer_ = false;
    answer_taken_ = false;
  }
  if (block.size() > static_cast<std::size_t>(kInLineMaxLength)) {
    ServeOnLine(ecr, block);
  } else {
    ServeInLine(ecr, block);
  }
}

bool TPolThread::Cancelled() {
  const std::lock_guard lock(text_lock_);
  return cancel_;
}

void TPolThread::ServeOnLine(int ecr, const std::string& block) {
  {
    // The request engine may answer inside the event already.
    const std::lock_guard lock(text_lock_);
    awaiting_answer_ = true;
  }
  Raise(OnOnlReceived, ecr, block, LinkResult::Ok);
  bool taken = false;
  bool cancelled = false;
  std::string answer;
  {
    // The end of the wait and the answer are settled under the lock SetOnLineAnswer takes:
    // an answer that came in by the time the wait ended is sent, whatever else ended it;
    // from here on an answer is refused. A cancel before the wait skips it.
    std::unique_lock lock(text_lock_);
    answer_or_cancel_.wait_for(lock, std::chrono::milliseconds(kOnLineAnswerWaitMs),
                               [this] { return answer_taken_ || cancel_; });
    taken = answer_taken_;
    cancelled = cancel_;
    awaiting_answer_ = false;
    if (taken) answer.swap(online_answer_);
  }
  if (taken) {
    const LinkResult sent = Com->SendBlock(answer);
    if (sent != LinkResult::Ok) Log("OnLine SndErr: " + ResultText(sent));
    Raise(OnOnlSended, ecr, sent);
    return;
  }
  if (cancelled) return;
  Raise(OnNoAnswer, ecr, std::string(), LinkResult::Ok);
  Log("No answer from application for " + std::to_string(kOnLineAnswerWaitMs) + " ms)");
}

void TPolThread::ServeInLine(int ecr, const std::string& block) {
  Raise(OnEcrInLine, ecr, block, LinkResult::Ok);
  std::string command;
  {
    const std::lock_guard lock(text_lock_);
    if (cancel_ || !inline_pending_) return;
    command = inline_command_;
  }
  const LinkResult sent = Com->SendBlock(command);
  if (sent != LinkResult::Ok) Log("InLine SndErr: " + ResultText(sent));
  {
    const std::lock_guard lock(text_lock_);
    inline_pending_ = false;
  }
  Raise(OnInlSended, ecr, sent);
  // The register runs a command it acknowledged and answers it: a cancel that came since the
  // command went out (a restart of polling, say) must not leave that answer unread.
  if (sent != LinkResult::Ok && Cancelled()) return;
  std::string answer;
  const LinkResult received = Com->GetBlock(answer, kInLineAnswerWaitMs);
  if (received != LinkResult::Ok) Log("InLine RcvErr: " + ResultText(received));
  Raise(OnInlReceived, ecr, received == LinkResult::Ok ? StrFromEcr(answer) : std::string(), received);
}

}  // namespace ecr
