#include "line/pol_thread.h"

#include <chrono>
#include <stdexcept>

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
  cancel_.store(true);
  online_send_request_.Set();
}

void TPolThread::SetInLineCommand(std::string_view text) {
  {
    const std::lock_guard lock(text_lock_);
    inline_command_ = StrToEcr(text);
  }
  inline_pending_.store(true);
}

void TPolThread::SetOnLineAnswer(std::string_view text) {
  {
    // The answer is in place before the event releases the polling thread.
    const std::lock_guard lock(text_lock_);
    online_answer_ = StrToEcr(text);
  }
  online_send_request_.Set();
}

void TPolThread::StartNoise() {
  if (Com != nullptr) Com->StartNoise();
}

void TPolThread::StopNoise() {
  if (Com != nullptr) Com->StopNoise();
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
  // A command or answer handed over before this moment belongs to an earlier exchange.
  inline_pending_.store(false);
  online_send_request_.Reset();
  cancel_.store(false);

  if (block.size() > static_cast<std::size_t>(kInLineMaxLength)) {
    online_send_request_.Reset();
    Raise(OnOnlReceived, ecr, block, LinkResult::Ok);
    if (cancel_.load()) return;
    if (!online_send_request_.WaitFor(std::chrono::milliseconds(kOnLineAnswerWaitMs))) {
      Raise(OnNoAnswer, ecr, std::string(), LinkResult::Ok);
      Log("No answer from application for " + std::to_string(kOnLineAnswerWaitMs) + " ms)");
      return;
    }
    if (cancel_.load()) return;
    online_send_request_.Reset();
    std::string answer;
    {
      const std::lock_guard lock(text_lock_);
      answer = online_answer_;
    }
    const LinkResult sent = Com->SendBlock(answer);
    if (sent != LinkResult::Ok) Log("OnLine SndErr: " + ResultText(sent));
    online_send_request_.Reset();
    Raise(OnOnlSended, ecr, sent);
    return;
  }

  Raise(OnEcrInLine, ecr, block, LinkResult::Ok);
  if (cancel_.load() || !inline_pending_.load()) return;
  std::string command;
  {
    const std::lock_guard lock(text_lock_);
    command = inline_command_;
  }
  const LinkResult sent = Com->SendBlock(command);
  if (sent != LinkResult::Ok) Log("InLine SndErr: " + ResultText(sent));
  inline_pending_.store(false);
  Raise(OnInlSended, ecr, sent);
  if (cancel_.load()) return;
  std::string answer;
  const LinkResult received = Com->GetBlock(answer, kInLineAnswerWaitMs);
  if (received != LinkResult::Ok) Log("InLine RcvErr: " + ResultText(received));
  Raise(OnInlReceived, ecr, received == LinkResult::Ok ? StrFromEcr(answer) : std::string(), received);
}

}  // namespace ecr
