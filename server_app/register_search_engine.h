#pragma once
// TSearchEngine, the worker of the register search: on a line object of its own it walks
// the chosen speeds and register numbers over and over, taking each register once per
// pass, until it is terminated. A register that answers with a short block (its status,
// acknowledged) is found InLine; one that answers with a longer block (a message of its
// own) is found OnLine and its block is refused, so the message stays unacknowledged for
// the real server. Each probe queues one log line for the dialog.
//
// Threads: the owner (the dialog, on the main thread) sets the engine up while it is
// suspended, resumes it, and may terminate and wait for it; the engine's thread runs the
// probes. The log queue and the result table are each guarded by a lock of their own, so
// GetSearchMessage and TakeListedResults may be called from the owner's thread at any
// time. The notification runs on the engine's thread after the queue's lock is released.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/basic_communication_object.h"
#include "server_app/suspended_thread.h"

namespace ecr {

struct SearchResult {
  int Speed = 0;
  std::string Mode;        // "OnLine" or "InLine"
  std::string SerialText;  // the first field of the register's block
  int TimeToLive = 0;      // above 0: listed
};

// One row of the list of found registers.
struct ListedEcr {
  int LogNo = 0;
  SearchResult Result;
};

// The texts of the search's log lines and modes, in the user's language. "%1" and "%2" in
// `testing` stand for the register number and the speed; they are filled in as text, so a
// translation can never act as a format string.
struct SearchTexts {
  std::string testing = "Testing for ECR %1 at speed %2 ... ";
  std::string none = "None";
  std::string exception = "Exception !";
  std::string inLine = "InLine";
  std::string onLine = "OnLine";
};

class TSearchEngine {
 public:
  static constexpr std::size_t kQueueMax = 101;

  TSearchEngine();
  ~TSearchEngine();  // terminates and waits for the thread
  TSearchEngine(const TSearchEngine&) = delete;
  TSearchEngine& operator=(const TSearchEngine&) = delete;

  // Only while suspended; once the thread runs each throws std::runtime_error
  // "Scan is running !".
  void SetNotifyWnd(std::function<void()> notify);
  void SetSearchPort(const std::string& portName);
  void SetLineClass(TCommunicationObjectClass lineClass);
  void SetFirstEcr(int first);
  void SetLastEcr(int last);
  void SetTimeToLive(int timeToLive);
  void SetTexts(SearchTexts texts);
  // The speed texts to scan, in order; filled by the owner before the start.
  std::vector<std::string> Speeds;

  void Resume();
  void Terminate() { thread_.Terminate(); }
  void WaitFor() { thread_.WaitFor(); }
  bool Running() const { return thread_.Running(); }

  // Queues a log line (at most kQueueMax, the oldest dropped) and notifies.
  void AddSearchMessage(const std::string& line);
  // Takes the oldest queued line; false when there is none.
  bool GetSearchMessage(std::string& line);

  // The registers listed now (TimeToLive above 0), by number, each counted down by one.
  std::vector<ListedEcr> TakeListedResults();
  // A copy of one entry (1..99), for tests.
  SearchResult Result(int logNo) const;

 private:
  void Execute();
  void TestEcrAt(int ecrNo, std::uint32_t speed);
  void RequireSuspended() const;

  SuspendedThread thread_;
  SearchTexts texts_;
  std::unique_ptr<TBasicCommunicationObject> com_;  // made in the thread, only during the run
  std::function<void()> notify_;
  std::string portName_;
  TCommunicationObjectClass lineClass_;
  int firstEcr_ = 1;
  int lastEcr_ = 8;
  int timeToLive_ = 10;

  std::mutex queueLock_;
  std::deque<std::string> searchQueue_;

  mutable std::mutex resultsLock_;
  std::array<SearchResult, 99> results_{};
};

}  // namespace ecr
