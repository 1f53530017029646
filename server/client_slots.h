#pragma once
// The connection table that a socket server owns and drives: one listening socket, up to
// 500 client connections in slots numbered 1..500, each with its frame cutter, its send
// queue and its notifiers. It accepts, cuts every connection's stream into messages, sends
// frames and raises the owner's ClientEvents; how a failure of Listen or Send is reported,
// and with which text, stays with the owner.
//
// Threads: the owner is a QObject of the main thread, whose Qt event loop delivers the
// socket notifications; Listen, Close, the events and the destruction run there. Send,
// FindFree and QueuedBytes may be called from any thread.
//
// Sending never blocks: what the socket does not take at once waits in the slot's send
// queue and goes out, in order, when the socket is writable again, so frames always arrive
// whole. A frame that would pass kSendQueueLimit cuts the client off: it is shut down at
// once, and OnDisconnect follows, as if it had closed, once the owner calls DropLater.

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/client_events.h"
#include "server/frame_cutter.h"

class QObject;
class QSocketNotifier;

namespace ecr {

class ClientSlots {
 public:
  static constexpr int kClientSlots = 500;
  // Bytes a client's send queue may hold; a frame that would pass it closes the connection.
  static constexpr std::size_t kSendQueueLimit = 64 * 1024;

  struct Policy {
    int listenBacklog = 8;
    ClientFrameCutter::EmptyFrames emptyFrames = ClientFrameCutter::EmptyFrames::Skip;
    // Bytes one receive may take.
    std::size_t receiveSize = 4096;
    // Bytes one notification reads at most, receiving until the socket has no more, so
    // that one busy client cannot keep the others waiting.
    std::size_t readBudget = 64 * 1024;
    // One receive per notification, whatever it brings; the notifier fires again while
    // data is waiting.
    bool oneReceive = false;
    // When set: OnError(errno, this text) for a failing receive, before the connection is
    // handled as closed.
    std::optional<std::string> receiveFailureText;
    // When set: OnError(missing bytes + 1, this text) for a connection that ends inside a
    // frame, before its OnDisconnect.
    std::optional<std::string> frameCutText;
  };

  // The step of Listen that failed.
  enum class ListenStep { CreateSocket, SetNoDelay, SetKeepAlive, SetNonBlocking, Bind, Listen };
  struct ListenFailure {
    ListenStep step;
    int err;  // errno
  };

  struct SendOutcome {
    enum class Status {
      Done,         // sent, or queued to follow
      NotAssigned,  // free slot, or a client already cut off
      Failed,       // the socket failed; a frame begun on the stream shuts the connection
      QueueFull,    // the connection is shut down; the owner calls DropLater
    };
    Status status = Status::Done;
    int err = 0;                  // errno of Failed
    std::size_t bytesTaken = 0;   // bytes of the frame the socket took (Failed, QueueFull)
    int slot = 0;
    std::uint64_t generation = 0;
  };

  // Owner: the main-thread object that parents the notifiers and receives the queued calls;
  // events: the owner's, read when an event is raised.
  ClientSlots(QObject& owner, ClientEvents& events, Policy policy);
  ~ClientSlots();
  ClientSlots(const ClientSlots&) = delete;
  ClientSlots& operator=(const ClientSlots&) = delete;

  // Main thread. Listens on port (0 picks a free one) on any local address. On failure
  // nothing stays open. Nothing happens when already listening.
  std::optional<ListenFailure> Listen(std::uint16_t port);
  // Main thread. Stops listening and closes every client connection without OnDisconnect.
  void Close();
  bool Listening() const { return listening_; }
  // The port the listening socket is bound to; 0 while not listening.
  std::uint16_t BoundPort() const;

  // Any thread. The lowest free slot, 0 when all 500 are taken.
  int FindFree() const;
  // Any thread. Bytes of slot k's send queue that the socket has not taken yet.
  std::size_t QueuedBytes(int k) const;
  // Any thread; k in 1..500. Sends message (cut to 255 bytes) as one frame.
  SendOutcome Send(int k, std::string_view message);
  // Any thread. Raises OnDisconnect for a client cut off by Send and frees its slot, through
  // the main thread's event loop (the caller may hold a lock that OnDisconnect takes).
  void DropLater(const SendOutcome& cutOff);

 private:
  struct Slot {
    // Guarded by mutex_ (written on the main thread only, so the main thread may read
    // socket and generation without it).
    int socket = -1;
    sockaddr_in peer{};
    socklen_t peerLength = 0;
    std::string sendQueue;
    std::size_t sendOffset = 0;
    bool closing = false;
    std::uint64_t generation = 0;
    // Main thread only.
    ClientFrameCutter cutter;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
  };

  bool OnMainThread() const;
  void RaiseError(int err, const std::string& text);
  // Runs an event handler; an exception it raises goes to OnError with code 0 and its
  // message, from inside the catch: std::current_exception() in OnError is that exception.
  void RunHandler(const std::function<void()>& handler);
  void AcceptPending();
  void PauseAccepting();
  void ReadClient(int k, std::uint64_t generation);
  // Takes mutex_: true when a Send has cut the slot's client off.
  bool CutOff(const Slot& slot) const;
  void WriteClient(int k, std::uint64_t generation);
  void WantWrite(int k, std::uint64_t generation);
  void DropClient(int k, std::uint64_t generation);
  void FreeSlot(int k);
  // Under mutex_: sends what the queue holds; false on a socket error other than
  // would-block.
  static bool FlushQueueLocked(Slot& slot);

  QObject& owner_;
  ClientEvents& events_;
  const Policy policy_;
  mutable std::mutex mutex_;
  std::array<Slot, kClientSlots + 1> slots_;  // index 0 unused
  std::vector<char> receiveBuffer_;           // main thread only
  int listenSocket_ = -1;
  QSocketNotifier* acceptNotifier_ = nullptr;
  bool listening_ = false;
};

}  // namespace ecr
