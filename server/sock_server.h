#pragma once
// The TCP server through which client applications reach the register server: it listens
// on one port, keeps up to 500 connections in slots numbered 1..500, cuts each
// connection's stream into client frames, reports every whole message with the number of
// its slot, and sends a message to a client as one frame.
//
// Threads: the object lives on the main thread, whose Qt event loop delivers the socket
// notifications; Open, Close, the events and the destruction run there. SendData and
// FindFreeClient may be called from any thread (the polling thread replies through them).
//
// Sending never blocks: what the socket does not take at once waits in the slot's send
// queue and goes out, in order, when the socket is writable again, so frames always
// arrive whole. A client that lets more than kSendQueueLimit bytes pile up is cut off and
// reported through OnDisconnect, as if it had closed the connection.

#include <netinet/in.h>
#include <sys/socket.h>

#include <QObject>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "server/client_sender.h"
#include "server/frame_cutter.h"
#include "server/sock_exception.h"

class QSocketNotifier;

namespace ecr {

class TSockServer : public QObject, public ClientSender {
 public:
  static constexpr int kClientSlots = 500;
  // Bytes a client's send queue may hold; a frame that would pass it closes the connection.
  static constexpr std::size_t kSendQueueLimit = 64 * 1024;
  static constexpr std::uint16_t kDefaultPort = 4999;

  explicit TSockServer(QObject* parent = nullptr);
  ~TSockServer() override;
  TSockServer(const TSockServer&) = delete;
  TSockServer& operator=(const TSockServer&) = delete;

  // Main thread. Listens on LocalPort (0 picks a free port, see BoundPort). Raises
  // ESockException and stays inactive on failure. Nothing happens when already active.
  void Open();
  // Main thread. Stops listening and closes every client connection without OnDisconnect.
  void Close();
  bool Active() const { return active_; }

  void SetLocalPort(std::uint16_t port) { localPort_ = port; }
  std::uint16_t LocalPort() const { return localPort_; }
  // The port the listening socket is bound to; 0 while not active.
  std::uint16_t BoundPort() const;

  // Any thread. The lowest free slot, 0 when all 500 are taken.
  int FindFreeClient() const;
  // Any thread. Sends Data (cut to 255 bytes) as one frame to client ID. Raises
  // ESockException for a bad ID, a free slot, a failing socket or a full send queue.
  void SendData(std::uint16_t ID, std::string_view Data) override;

  // Any thread. Bytes of client ID's send queue that the socket has not taken yet.
  std::size_t QueuedBytes(std::uint16_t ID) const;

  // Events, set on the main thread before Open; raised on the main thread.
  std::function<void(std::uint16_t ID)> OnConnect;
  std::function<void(std::uint16_t ID, const std::string& Data)> OnDataIn;
  std::function<void(std::uint16_t ID)> OnDisconnect;
  std::function<void(int Err, const std::string& Txt)> OnError;
  // The send queue of client ID has gone out completely.
  std::function<void(std::uint16_t ID)> OnReadyToSend;

 private:
  struct Slot {
    // Guarded by mutex_ (written on the main thread only, so the main thread may read
    // socket without it).
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
  // Runs an event handler; an exception it raises goes to OnError with code 0.
  void RunHandler(const std::function<void()>& handler);
  void AcceptPending();
  void PauseAccepting();
  void ReadClient(int k, std::uint64_t generation);
  void WriteClient(int k, std::uint64_t generation);
  void WantWrite(int k, std::uint64_t generation);
  void DropClient(int k, std::uint64_t generation);
  void FreeSlot(int k);
  // Under mutex_: sends what the queue holds; false on a socket error other than
  // would-block (errno kept).
  static bool FlushQueueLocked(Slot& slot);

  mutable std::mutex mutex_;
  std::array<Slot, kClientSlots + 1> slots_;  // index 0 unused
  int listenSocket_ = -1;
  QSocketNotifier* acceptNotifier_ = nullptr;
  bool active_ = false;
  std::uint16_t localPort_ = kDefaultPort;
};

}  // namespace ecr
