#pragma once
// The TCP server through which client applications reach the network-controller server:
// it listens on one port (backlog 1), keeps up to 500 connections in slots numbered
// 1..500, cuts each connection's stream into client frames, reports every whole message
// (an empty frame as an empty message) with the number of its slot, and sends a message to
// a client as one frame. Nothing of it raises: every set-up and send failure goes to
// OnError with a fixed text.
//
// Each notification of a connection reads once, at most kReceiveBufferSize bytes; a frame
// may still arrive in any number of pieces, since each slot keeps its own partial frame.
// A connection that ends in the middle of a frame reports OnError(missing bytes + 1,
// "Bytes Missing") before its OnDisconnect.
//
// Sending never blocks: what the socket does not take at once waits in the slot's send
// queue and goes out, in order, when the socket is writable again, so frames always arrive
// whole. A client that lets more than kSendQueueLimit bytes pile up is cut off
// (OnError(0, "Not all bytes sended"), then OnDisconnect, as if it had closed).
//
// Threads: the object lives on the main thread, whose Qt event loop delivers the socket
// notifications; Open, Close, the destruction and every event run there. SendData,
// FindFreeClient and QueuedBytes may be called from any thread (the controller link's
// reader thread replies through SendData); an OnError of a SendData called on another
// thread is posted to the main thread.

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

class QSocketNotifier;

namespace ecr::nc {

class TSockServer : public QObject, public ClientSender {
 public:
  static constexpr int kClientSlots = 500;
  static constexpr std::size_t kReceiveBufferSize = 512;
  // Bytes a client's send queue may hold; a frame that would pass it closes the connection.
  static constexpr std::size_t kSendQueueLimit = 64 * 1024;
  static constexpr std::uint16_t kDefaultPort = 4999;
  static constexpr int kListenBacklog = 1;

  explicit TSockServer(QObject* parent = nullptr);
  ~TSockServer() override;
  TSockServer(const TSockServer&) = delete;
  TSockServer& operator=(const TSockServer&) = delete;

  // Main thread. Listens on LocalPort (0 picks a free port, see BoundPort). A failing step
  // raises OnError(-1, its text) and leaves the server inactive with no socket left open.
  // Nothing happens when already active.
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
  // Any thread. Sends Data (cut to 255 bytes) as one frame to client ID. ID above 500:
  // OnError(ID, "ID too big"). ID 0 or a free slot: nothing. A failing socket or a full
  // send queue: OnError(bytes of the frame taken, or -1 when none, "Not all bytes sended").
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
    // socket and generation without it).
    int socket = -1;
    sockaddr_in peer{};
    socklen_t peerLength = 0;
    std::string sendQueue;
    std::size_t sendOffset = 0;
    bool closing = false;
    std::uint64_t generation = 0;
    // Main thread only.
    ClientFrameCutter cutter{ClientFrameCutter::EmptyFrames::Report};
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
  };

  bool OnMainThread() const;
  // Main thread: OnError, when bound.
  void RaiseError(int err, const std::string& text);
  // Any thread: OnError on the main thread, at once when called there.
  void ReportError(int err, const std::string& text);
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
  // would-block.
  static bool FlushQueueLocked(Slot& slot);

  mutable std::mutex mutex_;
  std::array<Slot, kClientSlots + 1> slots_;  // index 0 unused
  std::array<char, kReceiveBufferSize> receiveBuffer_{};  // main thread only
  int listenSocket_ = -1;
  QSocketNotifier* acceptNotifier_ = nullptr;
  bool active_ = false;
  std::uint16_t localPort_ = kDefaultPort;
};

}  // namespace ecr::nc
