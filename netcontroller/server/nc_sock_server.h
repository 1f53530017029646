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
//
// The events (OnConnect, OnDataIn, OnDisconnect, OnError, OnReadyToSend), Close, the port
// and the slot queries are those of ClientSocketServer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/client_socket_server.h"

namespace ecr::nc {

class TSockServer : public ClientSocketServer {
 public:
  static constexpr std::size_t kReceiveBufferSize = 512;
  static constexpr int kListenBacklog = 1;

  explicit TSockServer(QObject* parent = nullptr);

  // Main thread. Listens on LocalPort (0 picks a free port, see BoundPort). A failing step
  // raises OnError(-1, its text) and leaves the server inactive with no socket left open.
  // Nothing happens when already active.
  void Open();
  // Any thread. Sends Data (cut to 255 bytes) as one frame to client ID. ID above 500:
  // OnError(ID, "ID too big"). ID 0 or a free slot: nothing. A failing socket or a full
  // send queue: OnError(bytes of the frame taken, or -1 when none, "Not all bytes sended").
  void SendData(std::uint16_t ID, std::string_view Data) override;

 private:
  // Main thread: OnError, when bound.
  void RaiseError(int err, const std::string& text);
  // Any thread: OnError on the main thread, at once when called there.
  void ReportError(int err, const std::string& text);
};

}  // namespace ecr::nc
