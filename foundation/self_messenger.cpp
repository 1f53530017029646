#include "foundation/self_messenger.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <utility>

#include "platform/program_path.h"

namespace ecr {

std::string SelfMessageName(std::string_view executablePath) {
  std::string name(executablePath);
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

std::uint16_t SelfMessageId(std::string_view name) {
  std::uint32_t hash = 2166136261u;  // 32-bit FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<std::uint16_t>(0xC000u | (hash & 0x3FFFu));
}

TSelfMessenger::TSelfMessenger() : TSelfMessenger(ProgramPath()) {}

TSelfMessenger::TSelfMessenger(std::string_view executablePath, InstanceFolders folders)
    : name_(SelfMessageName(executablePath)),
      messageId_(SelfMessageId(name_)),
      skippedFolders_(std::move(folders.skipped)),
      channel_(name_, std::move(folders.usable)) {
  skippedFolders_.insert(skippedFolders_.end(), channel_.SkippedFolders().begin(), channel_.SkippedFolders().end());
}

TSelfMessenger::TSelfMessenger(std::string_view executablePath, std::string socketFolder)
    : TSelfMessenger(executablePath, InstanceFolders{{std::move(socketFolder)}, {}}) {}

TSelfMessenger::~TSelfMessenger() {
  channel_.StopReceiving();
  while (auto notice = channel_.NextNotice())
    if (notice->senderId != AppId()) channel_.Answer(false);
}

int TSelfMessenger::Send(int msgId, std::string_view text) {
  return channel_.Post(messageId_, static_cast<std::int32_t>(msgId), text).othersReached;
}

namespace {

// The processes of the messengers a sender waits for, each watched by a pidfd where the
// system gives one (readable once the process has ended), else asked now and then.
class ProcessWatch {
 public:
  // How often a process without a pidfd is asked.
  static constexpr int kAskIntervalMs = 250;

  explicit ProcessWatch(const std::vector<std::uint64_t>& senderIds) {
    for (const std::uint64_t id : senderIds) {
      const auto pid = static_cast<pid_t>(id >> 32);
      const auto fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
      watched_.emplace(id, Watched{pid, fd, fd < 0 && errno == ESRCH});
    }
  }
  ~ProcessWatch() {
    for (const auto& [id, process] : watched_)
      if (process.pidfd >= 0) ::close(process.pidfd);
  }
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  // The pidfds of the processes of `ids` still to watch, for poll.
  void AddPollEntries(const std::set<std::uint64_t>& ids, std::vector<pollfd>& entries) const {
    for (const std::uint64_t id : ids)
      if (const auto found = watched_.find(id); found != watched_.end() && found->second.pidfd >= 0)
        entries.push_back(pollfd{found->second.pidfd, POLLIN, 0});
  }
  // Whether some process has no pidfd and must be asked now and then.
  bool NeedsAsking() const {
    return std::any_of(watched_.begin(), watched_.end(),
                       [](const auto& entry) { return entry.second.pidfd < 0 && !entry.second.ended; });
  }
  // Whether the process of the messenger `id` has ended.
  bool Ended(std::uint64_t id) {
    Watched& process = watched_.at(id);
    if (process.ended) return true;
    if (process.pidfd >= 0) {
      pollfd entry{process.pidfd, POLLIN, 0};
      process.ended = ::poll(&entry, 1, 0) == 1;
    } else {
      process.ended = ::kill(process.pid, 0) != 0 && errno == ESRCH;
    }
    return process.ended;
  }

 private:
  struct Watched {
    pid_t pid;
    int pidfd;
    bool ended;
  };
  std::map<std::uint64_t, Watched> watched_;
};

}  // namespace

TSelfMessenger::SendOutcome TSelfMessenger::SendAndAwait(int msgId, std::string_view text,
                                                         std::chrono::milliseconds wait, int cancelFd) {
  using Clock = std::chrono::steady_clock;
  const PostResult posted = channel_.Post(messageId_, static_cast<std::int32_t>(msgId), text);
  // The messengers reached that have neither answered nor ended.
  std::set<std::uint64_t> waiting(posted.reached.begin(), posted.reached.end());
  ProcessWatch processes(posted.reached);
  bool taken = false;
  const auto readAnswers = [&] {
    while (auto notice = channel_.NextNotice())
      if (notice->senderId != AppId()) channel_.Answer(false);
    for (const InstanceAnswer& answer : channel_.TakeAnswers()) {
      if (!waiting.contains(answer.answererId)) continue;
      taken = taken || answer.taken;
      waiting.erase(answer.answererId);
    }
  };
  const Clock::time_point deadline = Clock::now() + wait;
  bool cancelled = false;
  while (!taken && !waiting.empty() && !cancelled) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    std::vector<pollfd> entries{{channel_.ReadableFd(), POLLIN, 0}};
    if (cancelFd >= 0) entries.push_back(pollfd{cancelFd, POLLIN, 0});
    processes.AddPollEntries(waiting, entries);
    const int timeout = processes.NeedsAsking() ? std::min<int>(static_cast<int>(left), ProcessWatch::kAskIntervalMs)
                                                 : static_cast<int>(left);
    if (::poll(entries.data(), entries.size(), timeout) < 0 && errno != EINTR) break;
    // Answers first: a messenger that took the message answered before its process ended.
    readAnswers();
    std::erase_if(waiting, [&](std::uint64_t id) { return processes.Ended(id); });
    cancelled = cancelFd >= 0 && (entries[1].revents & POLLIN) != 0;
  }
  // What came before the sender stopped waiting still counts.
  channel_.StopReceiving();
  readAnswers();
  if (taken) return SendOutcome::Taken;
  return waiting.empty() ? SendOutcome::NotTaken : SendOutcome::Unanswered;
}

void TSelfMessenger::Receive() {
  while (auto notice = channel_.NextNotice()) {
    const bool loopBack = notice->senderId == AppId();
    const bool takes = notice->messageId == messageId_ && !busy_ && onSelfEvent_;
    // Answered before the handler runs, which may end the program.
    if (!loopBack) channel_.Answer(takes);
    if (!takes) continue;
    // The handler may replace itself (or run a nested event loop); call a copy, and clear
    // the flag however it returns.
    SelfEvent handler = onSelfEvent_;
    struct BusyScope {
      bool& flag;
      explicit BusyScope(bool& f) : flag(f) { flag = true; }
      ~BusyScope() { flag = false; }
    } scope(busy_);
    handler(*this, notice->param, channel_.ReadText(kMaxReceivedText), loopBack);
  }
}

std::string SkippedFolderLogLine(std::string_view skipped) {
  return "Instance message folder skipped: " + std::string(skipped);
}

std::string ClosedMessengerLogLine(std::string_view error) {
  return "Instance messages unavailable: " + std::string(error);
}

std::vector<std::string> MessengerLogLines(const TSelfMessenger& messenger) {
  std::vector<std::string> lines;
  for (const std::string& skipped : messenger.SkippedFolders()) lines.push_back(SkippedFolderLogLine(skipped));
  if (!messenger.IsOpen()) lines.push_back(ClosedMessengerLogLine(messenger.Error()));
  return lines;
}

}  // namespace ecr
