#pragma once
// The polling thread: the one thread that drives a register line. It walks its list of
// register numbers round-robin in ascending order, takes each register, and turns every
// good block into an exchange:
// - InLine (a block of at most 7 characters, the register's status): OnEcrInLine is raised;
//   a command handed over inside it with SetInLineCommand is sent at once, and the
//   register's answer is read (up to 8000 ms) and raised with OnInlReceived. A command the
//   register has acknowledged is run by it whatever happens meanwhile, so its answer is read
//   (and acknowledged) even when the exchange is cancelled after the command went out.
// - OnLine (more than 7 characters, a message of the register): OnOnlReceived is raised and
//   the thread waits up to 6000 ms for SetOnLineAnswer (which it then sends) or
//   CancelExchange (which ends the exchange at once, nothing sent). The exchange takes one
//   answer, from the moment OnOnlReceived is raised until the thread leaves the exchange;
//   SetOnLineAnswer says whether the thread took it, so that an answer is either sent (and
//   OnOnlSended raised) or refused to its caller, never dropped.
// A free frame follows every good take (at the start of the next pass) and starts every new
// cycle through the list after a failed one. Text is converted with the code table both
// ways: the events carry the Windows character set, the line the register's.
//
// Threads:
// - Set Com, the six events, the code table and the log before Resume; they are read by the
//   polling thread only afterwards.
// - AddEcr, RemoveEcr, ClearEcrs, NextEcr, SetOnLineAnswer, CancelExchange, StartNoise and
//   StopNoise may be called from any thread, the event handlers included.
// - SetInLineCommand belongs inside OnEcrInLine (a command set at any other moment is
//   dropped at the next good take).
// - Every event is raised on the polling thread.
// - Destruction (from the owner's thread) stops the handlers, ends the thread, waits for it
//   (up to the longest wait under way) and closes Com, which it does not own.

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "foundation/code_tables.h"
#include "line/basic_communication_object.h"
#include "line/ecr_poll_list.h"

namespace ecr {

class LogFile;

class TPolThread {
 public:
  // ErrC carries a LinkResult (never negative when passed).
  using TOnEcrBlk = std::function<void(TPolThread& sender, int ecr, const std::string& blk, std::uint8_t errC)>;
  using TCommandNotify = std::function<void(TPolThread& sender, int ecr, std::uint8_t errC)>;

  static constexpr int kInLineMaxLength = 7;
  static constexpr int kOnLineAnswerWaitMs = 6000;
  static constexpr int kInLineAnswerWaitMs = 8000;

  // Created suspended, with an empty list and the first code table of the register server.
  TPolThread();
  ~TPolThread();
  TPolThread(const TPolThread&) = delete;
  TPolThread& operator=(const TPolThread&) = delete;

  TBasicCommunicationObject* Com = nullptr;
  TCommandNotify OnOnlSended;
  TCommandNotify OnInlSended;
  TOnEcrBlk OnOnlReceived;
  TOnEcrBlk OnEcrInLine;
  TOnEcrBlk OnInlReceived;
  TOnEcrBlk OnNoAnswer;

  void SetCodeTable(const CodeTable& row);
  void SetLog(LogFile& log);  // default: the process log
  // Starts the thread (once).
  void Resume();
  // The thread body has ended (destruction, or an exception it logged).
  bool Finished() const { return finished_.load(); }

  // The list. AddEcr and RemoveEcr raise std::invalid_argument for a number outside 1..99
  // and AddEcr std::length_error when 99 are listed; AddEcr wakes a sleeping thread
  // whenever the list is not empty, whether it raised or not.
  void AddEcr(int ecr);
  void RemoveEcr(int ecr);
  void ClearEcrs();
  int NextEcr();
  int EcrCount() const;

  // The exchange under way sends nothing it has not begun to send and waits no further for
  // an application's answer. What is on the line runs to its end: an OnLine answer that the
  // thread has taken already is still sent, and a command that the register acknowledged
  // still has its answer read; after a command the register did not take, nothing is read.
  void CancelExchange();
  void SetInLineCommand(std::string_view text);
  // True when the OnLine exchange under way took the answer: the thread sends it and raises
  // OnOnlSended. False when no exchange takes one (none under way, its wait over by
  // time-out or cancel, or an answer taken already): nothing of it goes to the register.
  bool SetOnLineAnswer(std::string_view text);
  void StartNoise();
  void StopNoise();
  // The most data bytes a command or answer may have to go out whole on Com at its speed;
  // 0 without a line or at a speed the line cannot send at.
  std::size_t BlockCapacity() const;

  std::string StrToEcr(std::string_view text) const;
  std::string StrFromEcr(std::string_view text) const;

 private:
  void Execute();
  void RunPasses();
  void ServeBlock(int ecr, const std::string& block);
  void ServeOnLine(int ecr, const std::string& block);
  void ServeInLine(int ecr, const std::string& block);
  bool Cancelled();
  void Log(const std::string& text);
  void Raise(const TOnEcrBlk& event, int ecr, const std::string& blk, LinkResult errC);
  void Raise(const TCommandNotify& event, int ecr, LinkResult errC);
  bool Terminated() const;

  CodeTable code_table_;
  LogFile* log_ = nullptr;

  mutable std::mutex list_lock_;
  std::condition_variable wake_;
  TEcrList list_;
  bool terminated_ = false;  // guarded by list_lock_

  std::atomic<bool> handlers_detached_{false};
  std::atomic<bool> finished_{false};

  // What the request engine hands to the exchange under way. The thread decides under this
  // lock whether it takes an OnLine answer, so that an answer and the end of the wait never
  // cross; it holds the lock neither while it raises an event nor while it uses the line.
  std::mutex text_lock_;
  std::condition_variable answer_or_cancel_;
  bool cancel_ = false;
  bool inline_pending_ = false;
  std::string inline_command_;  // in the register's character set
  bool awaiting_answer_ = false;  // the OnLine exchange under way takes an answer
  bool answer_taken_ = false;
  std::string online_answer_;  // in the register's character set

  std::thread thread_;
};

}  // namespace ecr
