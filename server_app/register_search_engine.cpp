#include "server_app/register_search_engine.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "foundation/fields.h"
#include "server_app/accept_short_block.h"

namespace ecr {
namespace {

void ReplacePlaceholder(std::string& text, std::string_view placeholder, const std::string& value) {
  const std::size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}

std::uint32_t SpeedOf(const std::string& text) {
  std::size_t used = 0;
  const unsigned long value = std::stoul(text, &used);
  if (used != text.size()) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return static_cast<std::uint32_t>(value);
}

}  // namespace

TSearchEngine::TSearchEngine() = default;

TSearchEngine::~TSearchEngine() {
  thread_.Terminate();
  thread_.WaitFor();
}

void TSearchEngine::RequireSuspended() const {
  if (thread_.Started()) throw std::runtime_error("Scan is running !");
}

void TSearchEngine::SetNotifyWnd(std::function<void()> notify) {
  RequireSuspended();
  notify_ = std::move(notify);
}
void TSearchEngine::SetSearchPort(const std::string& portName) {
  RequireSuspended();
  portName_ = portName;
}
void TSearchEngine::SetLineClass(TCommunicationObjectClass lineClass) {
  RequireSuspended();
  lineClass_ = std::move(lineClass);
}
void TSearchEngine::SetFirstEcr(int first) {
  RequireSuspended();
  firstEcr_ = first;
}
void TSearchEngine::SetLastEcr(int last) {
  RequireSuspended();
  lastEcr_ = last;
}
void TSearchEngine::SetTimeToLive(int timeToLive) {
  RequireSuspended();
  timeToLive_ = timeToLive;
}

void TSearchEngine::SetTexts(SearchTexts texts) {
  RequireSuspended();
  texts_ = std::move(texts);
}

void TSearchEngine::Resume() {
  thread_.Resume([this] { Execute(); });
}

void TSearchEngine::Execute() {
  {
    const std::lock_guard<std::mutex> guard(resultsLock_);
    for (SearchResult& result : results_) result.TimeToLive = 0;
  }
  try {
    if (!lineClass_) throw std::runtime_error("Communication object not assigned");
    com_ = lineClass_();
    com_->OnTakeBlock = AcceptShortBlock;
    com_->SetBaudRate(4800);
    com_->PortName = portName_;
    bool ended = false;
    while (!ended && !thread_.Terminated()) {
      for (const std::string& speedText : Speeds) {
        com_->Close();
        com_->SetBaudRate(SpeedOf(speedText));
        com_->Open();
        for (int ecrNo = firstEcr_; ecrNo <= lastEcr_; ++ecrNo) {
          if (thread_.Terminated()) {
            ended = true;
            break;
          }
          TestEcrAt(ecrNo, com_->BaudRate());
        }
        if (ended) break;
        com_->FreeEcr();
      }
      // Nothing to scan: the pass is empty, and the thread waits only to be terminated.
      if (Speeds.empty()) break;
    }
  } catch (const std::exception& e) {
    AddSearchMessage(texts_.exception + "\r\n" + e.what());
  }
  // Freeing the line closes the port, however the run ended.
  com_.reset();
}

void TSearchEngine::TestEcrAt(int ecrNo, std::uint32_t speed) {
  std::string block;
  const LinkResult result = com_->TakeEcr(ecrNo, block);
  std::string word = texts_.none;
  if (result == LinkResult::Ok || result == LinkResult::Refused) {
    SearchResult found;
    found.Speed = static_cast<int>(speed);
    found.SerialText = GetField(block, 1);
    found.Mode = block.size() >= kShortBlockLimit ? texts_.onLine : texts_.inLine;
    found.TimeToLive = timeToLive_;
    word = found.Mode;
    if (ecrNo >= 1 && ecrNo <= 99) {
      const std::lock_guard<std::mutex> guard(resultsLock_);
      results_[static_cast<std::size_t>(ecrNo - 1)] = std::move(found);
    }
    com_->FreeEcr();
  }
  std::string line = texts_.testing;
  ReplacePlaceholder(line, "%1", std::to_string(ecrNo));
  ReplacePlaceholder(line, "%2", std::to_string(speed));
  AddSearchMessage(line + word);
}

void TSearchEngine::AddSearchMessage(const std::string& line) {
  {
    const std::lock_guard<std::mutex> guard(queueLock_);
    if (searchQueue_.size() >= kQueueMax) searchQueue_.pop_front();
    searchQueue_.push_back(line);
  }
  if (notify_) notify_();
}

bool TSearchEngine::GetSearchMessage(std::string& line) {
  const std::lock_guard<std::mutex> guard(queueLock_);
  if (searchQueue_.empty()) return false;
  line = std::move(searchQueue_.front());
  searchQueue_.pop_front();
  return true;
}

std::vector<ListedEcr> TSearchEngine::TakeListedResults() {
  std::vector<ListedEcr> listed;
  const std::lock_guard<std::mutex> guard(resultsLock_);
  for (int logNo = 1; logNo <= 99; ++logNo) {
    SearchResult& result = results_[static_cast<std::size_t>(logNo - 1)];
    if (result.TimeToLive <= 0) continue;
    listed.push_back({logNo, result});
    --result.TimeToLive;
  }
  return listed;
}

SearchResult TSearchEngine::Result(int logNo) const {
  const std::lock_guard<std::mutex> guard(resultsLock_);
  return results_.at(static_cast<std::size_t>(logNo - 1));
}

}  // namespace ecr
