#pragma once
// What the socket servers of the register server and of the network-controller server have
// in common: a QObject of the main thread that owns the connection table (ClientSlots),
// raises its ClientEvents and listens on LocalPort. Each server adds Open and SendData
// with its own way of reporting failures.
//
// Threads: Close, SetLocalPort, the events and the destruction on the main thread;
// FindFreeClient and QueuedBytes on any thread.

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "server/client_events.h"
#include "server/client_sender.h"
#include "server/client_slots.h"

namespace ecr {

class ClientSocketServer : public QObject, public ClientSender, public ClientEvents {
 public:
  static constexpr int kClientSlots = ClientSlots::kClientSlots;
  // Bytes a client's send queue may hold; a frame that would pass it closes the connection.
  static constexpr std::size_t kSendQueueLimit = ClientSlots::kSendQueueLimit;
  static constexpr std::uint16_t kDefaultPort = 4999;

  ClientSocketServer(const ClientSocketServer&) = delete;
  ClientSocketServer& operator=(const ClientSocketServer&) = delete;

  // Main thread. Stops listening and closes every client connection without OnDisconnect.
  void Close() { slots_.Close(); }
  bool Active() const { return slots_.Listening(); }

  void SetLocalPort(std::uint16_t port) { localPort_ = port; }
  std::uint16_t LocalPort() const { return localPort_; }
  // The port the listening socket is bound to; 0 while not active.
  std::uint16_t BoundPort() const { return slots_.BoundPort(); }

  // Any thread. The lowest free slot, 0 when all 500 are taken.
  int FindFreeClient() const { return slots_.FindFree(); }
  // Any thread. Bytes of client ID's send queue that the socket has not taken yet.
  std::size_t QueuedBytes(std::uint16_t ID) const { return slots_.QueuedBytes(ID); }

 protected:
  ClientSocketServer(QObject* parent, ClientSlots::Policy policy)
      : QObject(parent), slots_(*this, *this, std::move(policy)) {}
  ~ClientSocketServer() override = default;

  ClientSlots& Slots() { return slots_; }

 private:
  ClientSlots slots_;
  std::uint16_t localPort_ = kDefaultPort;
};

}  // namespace ecr
