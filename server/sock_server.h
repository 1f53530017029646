#pragma once
// The TCP server through which client applications reach the register server: it listens
// on one port (backlog 8), keeps up to 500 connections in slots numbered 1..500, cuts each
// connection's stream into client frames, reports every whole message with the number of
// its slot (empty frames are skipped), and sends a message to a client as one frame. Each
// notification of a connection reads up to 64 KiB. Set-up and SendData failures raise
// ESockException; a failing receive goes to OnError (its code, no text) before the
// connection is handled as closed. An exception that an event handler raises goes to
// OnError (code 0, its message) while it is being handled, so std::current_exception()
// there is that exception; the event counts as handled.
//
// Threads: the object lives on the main thread, whose Qt event loop delivers the socket
// notifications; Open, Close, the events and the destruction run there. SendData,
// FindFreeClient and QueuedBytes may be called from any thread (the polling thread replies
// through them).
//
// Sending never blocks: what the socket does not take at once waits in the slot's send
// queue and goes out, in order, when the socket is writable again, so frames always
// arrive whole. A client that lets more than kSendQueueLimit bytes pile up is cut off and
// reported through OnDisconnect, as if it had closed the connection.
//
// The events (OnConnect, OnDataIn, OnDisconnect, OnError, OnReadyToSend), Close, the port
// and the slot queries are those of ClientSocketServer.

#include <cstdint>
#include <string_view>

#include "server/client_socket_server.h"
#include "server/sock_exception.h"

namespace ecr {

class TSockServer : public ClientSocketServer {
 public:
  explicit TSockServer(QObject* parent = nullptr);

  // Main thread. Listens on LocalPort (0 picks a free port, see BoundPort). Raises
  // ESockException and stays inactive on failure. Nothing happens when already active.
  void Open();
  // Any thread. Sends Data (cut to 255 bytes) as one frame to client ID. Raises
  // ESockException for a bad ID, a free slot, a failing socket or a full send queue.
  void SendData(std::uint16_t ID, std::string_view Data) override;
};

}  // namespace ecr
