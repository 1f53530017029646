#pragma once
// TTestEngine, the worker of the line test: it takes and frees one register as fast as the
// line allows and counts how each take ended. The line object is the owner's; the engine
// opens it at the start and closes it at the end of its run. A failure inside the run
// (no line, a port that cannot be opened) ends the thread silently with the counts as
// they are.
//
// Threads: the owner sets Com and EcrNo while the engine is suspended, then resumes,
// terminates and waits for it. The counters are written only by the engine's thread and
// may be read from any thread at any time.

#include <atomic>
#include <cstdint>

#include "line/basic_communication_object.h"
#include "server_app/suspended_thread.h"

namespace ecr {

class TTestEngine {
 public:
  TTestEngine() = default;
  ~TTestEngine();  // terminates and waits for the thread
  TTestEngine(const TTestEngine&) = delete;
  TTestEngine& operator=(const TTestEngine&) = delete;

  int EcrNo = 1;
  TBasicCommunicationObject* Com = nullptr;

  void Resume();
  void Terminate() { thread_.Terminate(); }
  void WaitFor() { thread_.WaitFor(); }
  bool Running() const { return thread_.Running(); }

  std::int32_t CrcErrors() const { return crcErrors_.load(); }
  std::int32_t TimeoutErrors() const { return timeoutErrors_.load(); }
  std::int32_t ByteTimeoutErrors() const { return byteTimeoutErrors_.load(); }
  std::int32_t SentBlocks() const { return sentBlocks_.load(); }
  std::int32_t ReceivedBlocks() const { return receivedBlocks_.load(); }

 private:
  void Execute();

  std::atomic<std::int32_t> crcErrors_{0};
  std::atomic<std::int32_t> timeoutErrors_{0};
  std::atomic<std::int32_t> byteTimeoutErrors_{0};
  std::atomic<std::int32_t> sentBlocks_{0};
  std::atomic<std::int32_t> receivedBlocks_{0};
  SuspendedThread thread_;
};

}  // namespace ecr
