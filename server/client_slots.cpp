#include "server/client_slots.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>

namespace ecr {

namespace {

// No "do not route" flag: Linux honours it, and it would cut off every client that is not
// on a directly attached network. No SIGPIPE from a client that has gone.
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kAcceptPauseMs = 100;

void SetFlag(int socket, int level, int option) {
  const int on = 1;
  setsockopt(socket, level, option, &on, sizeof on);
}

}  // namespace

ClientSlots::ClientSlots(QObject& owner, ClientEvents& events, Policy policy)
    : owner_(owner), events_(events), policy_(std::move(policy)), receiveBuffer_(policy_.receiveSize) {
  for (Slot& slot : slots_) slot.cutter = ClientFrameCutter(policy_.emptyFrames);
}

ClientSlots::~ClientSlots() {
  Close();
  for (int k = 1; k <= kClientSlots; ++k) FreeSlot(k);
}

bool ClientSlots::OnMainThread() const { return QThread::currentThread() == owner_.thread(); }

void ClientSlots::RaiseError(int err, const std::string& text) {
  if (events_.OnError) events_.OnError(err, text);
}

void ClientSlots::RunHandler(const std::function<void()>& handler) {
  // No exception may pass into the event loop: it is reported, and the event counts as
  // handled.
  try {
    handler();
  } catch (const std::exception& error) {
    RaiseError(0, error.what());
  } catch (...) {
    RaiseError(0, "unknown exception");
  }
}

std::optional<ClientSlots::ListenFailure> ClientSlots::Listen(std::uint16_t port) {
  if (listening_) return std::nullopt;
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return ListenFailure{ListenStep::CreateSocket, errno};
  // A half-opened socket is closed, so that a failed bind or listen keeps no port taken.
  const auto fail = [socket](ListenStep step) {
    const int err = errno;
    ::close(socket);
    return ListenFailure{step, err};
  };
  const int on = 1;
  if (setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return fail(ListenStep::SetNoDelay);
  if (setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return fail(ListenStep::SetKeepAlive);
  // A restart must be able to bind while connections of the last run linger in TIME_WAIT;
  // two servers still cannot listen on one port.
  SetFlag(socket, SOL_SOCKET, SO_REUSEADDR);
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return fail(ListenStep::SetNonBlocking);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail(ListenStep::Bind);
  }
  if (listen(socket, policy_.listenBacklog) != 0) return fail(ListenStep::Listen);

  listenSocket_ = socket;
  acceptNotifier_ = new QSocketNotifier(socket, QSocketNotifier::Read, &owner_);
  QObject::connect(acceptNotifier_, &QSocketNotifier::activated, &owner_, [this] { AcceptPending(); });
  listening_ = true;
  return std::nullopt;
}

void ClientSlots::Close() {
  if (acceptNotifier_ != nullptr) {
    acceptNotifier_->setEnabled(false);
    acceptNotifier_->deleteLater();
    acceptNotifier_ = nullptr;
  }
  if (listenSocket_ >= 0) {
    ::close(listenSocket_);
    listenSocket_ = -1;
  }
  if (!listening_) return;
  listening_ = false;
  // The connections end with the listening socket; no OnDisconnect is raised for them.
  for (int k = 1; k <= kClientSlots; ++k) FreeSlot(k);
}

std::uint16_t ClientSlots::BoundPort() const {
  if (listenSocket_ < 0) return 0;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

int ClientSlots::FindFree() const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (int k = 1; k <= kClientSlots; ++k) {
    if (slots_[static_cast<std::size_t>(k)].socket == -1) return k;
  }
  return 0;
}

std::size_t ClientSlots::QueuedBytes(int k) const {
  if (k <= 0 || k > kClientSlots) return 0;
  std::lock_guard<std::mutex> guard(mutex_);
  const Slot& slot = slots_[static_cast<std::size_t>(k)];
  return slot.sendQueue.size() - slot.sendOffset;
}

void ClientSlots::AcceptPending() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const int socket = accept4(listenSocket_, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) {
      const int err = errno;
      if (err == EINTR || err == ECONNABORTED) continue;
      if (err == EAGAIN || err == EWOULDBLOCK) return;
      RaiseError(err, "Accepting invalid socket");
      // Out of descriptors or memory: the pending connection stays readable, so wait a
      // moment instead of spinning on it.
      if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) PauseAccepting();
      return;
    }
    const int k = FindFree();
    if (k == 0) {
      // All slots taken: this connection is refused, the others go on undisturbed.
      ::close(socket);
      continue;
    }
    SetFlag(socket, IPPROTO_TCP, TCP_NODELAY);
    SetFlag(socket, SOL_SOCKET, SO_KEEPALIVE);
    Slot& slot = slots_[static_cast<std::size_t>(k)];
    std::uint64_t generation = 0;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      slot.socket = socket;
      slot.peer = peer;
      slot.peerLength = peerLength;
      slot.sendQueue.clear();
      slot.sendOffset = 0;
      slot.closing = false;
      generation = ++slot.generation;
    }
    slot.cutter.Reset();
    slot.readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, &owner_);
    QObject::connect(slot.readNotifier, &QSocketNotifier::activated, &owner_,
                     [this, k, generation] { ReadClient(k, generation); });
    slot.writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, &owner_);
    slot.writeNotifier->setEnabled(false);
    QObject::connect(slot.writeNotifier, &QSocketNotifier::activated, &owner_,
                     [this, k, generation] { WriteClient(k, generation); });
    RunHandler([&] {
      if (events_.OnConnect) events_.OnConnect(static_cast<std::uint16_t>(k));
    });
  }
}

void ClientSlots::PauseAccepting() {
  if (acceptNotifier_ == nullptr) return;
  acceptNotifier_->setEnabled(false);
  QTimer::singleShot(kAcceptPauseMs, &owner_, [this] {
    if (acceptNotifier_ != nullptr) acceptNotifier_->setEnabled(true);
  });
}

bool ClientSlots::CutOff(const Slot& slot) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return slot.closing;
}

void ClientSlots::ReadClient(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  if (slot.generation != generation || slot.socket < 0) return;
  // Cut off by Send: what it still sends is not read any more.
  if (CutOff(slot)) {
    DropClient(k, generation);
    return;
  }
  std::size_t budget = policy_.readBudget;
  for (;;) {
    const ssize_t n = recv(slot.socket, receiveBuffer_.data(), receiveBuffer_.size(), 0);
    if (n > 0) {
      budget -= std::min(budget, static_cast<std::size_t>(n));
      const std::vector<std::string> messages =
          slot.cutter.Feed(std::string_view(receiveBuffer_.data(), static_cast<std::size_t>(n)));
      for (const std::string& message : messages) {
        RunHandler([&] {
          if (events_.OnDataIn) events_.OnDataIn(static_cast<std::uint16_t>(k), message);
        });
        // A handler may have ended this connection, or a reply cut it off.
        if (slot.generation != generation || slot.socket < 0) return;
        if (CutOff(slot)) {
          DropClient(k, generation);
          return;
        }
      }
      if (policy_.oneReceive || budget == 0) return;
      continue;
    }
    if (n == 0) {
      DropClient(k, generation);
      return;
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) return;
    if (policy_.receiveFailureText) RaiseError(err, *policy_.receiveFailureText);
    // The connection is broken; without the close its notifier would fire for ever.
    DropClient(k, generation);
    return;
  }
}

bool ClientSlots::FlushQueueLocked(Slot& slot) {
  while (slot.sendOffset < slot.sendQueue.size()) {
    const ssize_t n = send(slot.socket, slot.sendQueue.data() + slot.sendOffset,
                           slot.sendQueue.size() - slot.sendOffset, kSendFlags);
    if (n > 0) {
      slot.sendOffset += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (slot.sendOffset == slot.sendQueue.size()) {
    slot.sendQueue.clear();
    slot.sendOffset = 0;
  } else if (slot.sendOffset > slot.sendQueue.size() / 2) {
    slot.sendQueue.erase(0, slot.sendOffset);
    slot.sendOffset = 0;
  }
  return true;
}

void ClientSlots::WriteClient(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  bool drained = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (slot.generation != generation || slot.socket < 0) return;
    if (!FlushQueueLocked(slot)) {
      // The peer is gone; the read side reports the close.
      slot.sendQueue.clear();
      slot.sendOffset = 0;
    }
    drained = slot.sendQueue.empty();
  }
  if (!drained) return;
  if (slot.writeNotifier != nullptr) slot.writeNotifier->setEnabled(false);
  RunHandler([&] {
    if (events_.OnReadyToSend) events_.OnReadyToSend(static_cast<std::uint16_t>(k));
  });
}

void ClientSlots::WantWrite(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  if (slot.generation != generation || slot.writeNotifier == nullptr) return;
  slot.writeNotifier->setEnabled(true);
}

void ClientSlots::DropClient(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  if (slot.generation != generation || slot.socket < 0) return;
  if (!slot.cutter.AtFrameStart() && policy_.frameCutText) {
    RaiseError(static_cast<int>(slot.cutter.MissingBytes()) + 1, *policy_.frameCutText);
  }
  RunHandler([&] {
    if (events_.OnDisconnect) events_.OnDisconnect(static_cast<std::uint16_t>(k));
  });
  FreeSlot(k);
}

void ClientSlots::FreeSlot(int k) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  for (QSocketNotifier** notifier : {&slot.readNotifier, &slot.writeNotifier}) {
    if (*notifier == nullptr) continue;
    (*notifier)->setEnabled(false);
    // It may be the notifier whose signal is being handled right now.
    (*notifier)->deleteLater();
    *notifier = nullptr;
  }
  slot.cutter.Reset();
  std::lock_guard<std::mutex> guard(mutex_);
  if (slot.socket >= 0) ::close(slot.socket);
  slot.socket = -1;
  slot.sendQueue.clear();
  slot.sendOffset = 0;
  slot.closing = false;
  ++slot.generation;
}

ClientSlots::SendOutcome ClientSlots::Send(int k, std::string_view message) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  const std::string frame = MakeClientFrame(message);
  SendOutcome outcome;
  outcome.slot = k;
  bool wantWrite = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (slot.socket < 0 || slot.closing) {
      outcome.status = SendOutcome::Status::NotAssigned;
      return outcome;
    }
    outcome.generation = slot.generation;
    const bool wasEmpty = slot.sendQueue.empty();
    std::string_view rest = frame;
    if (wasEmpty) {
      while (!rest.empty()) {
        const ssize_t n = send(slot.socket, rest.data(), rest.size(), kSendFlags);
        if (n > 0) {
          rest.remove_prefix(static_cast<std::size_t>(n));
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        outcome.status = SendOutcome::Status::Failed;
        outcome.err = n < 0 ? errno : EPIPE;
        outcome.bytesTaken = frame.size() - rest.size();
        if (outcome.bytesTaken > 0) {
          // Part of the frame is on the stream; the rest can never follow it whole.
          slot.closing = true;
          shutdown(slot.socket, SHUT_RDWR);
        }
        return outcome;
      }
    }
    if (!rest.empty()) {
      if (slot.sendQueue.size() - slot.sendOffset + rest.size() > kSendQueueLimit) {
        // The client does not read: cut it off rather than let its queue grow. The frame
        // went nowhere (a queue is only kept while it is not empty).
        slot.closing = true;
        slot.sendQueue.clear();
        slot.sendOffset = 0;
        shutdown(slot.socket, SHUT_RDWR);
        outcome.status = SendOutcome::Status::QueueFull;
        outcome.bytesTaken = frame.size() - rest.size();
        return outcome;
      }
      slot.sendQueue.append(rest);
      wantWrite = wasEmpty;
    }
  }
  if (!wantWrite) return outcome;
  const std::uint64_t generation = outcome.generation;
  if (OnMainThread()) {
    WantWrite(k, generation);
  } else {
    QMetaObject::invokeMethod(&owner_, [this, k, generation] { WantWrite(k, generation); },
                              Qt::QueuedConnection);
  }
  return outcome;
}

void ClientSlots::DropLater(const SendOutcome& cutOff) {
  const int k = cutOff.slot;
  const std::uint64_t generation = cutOff.generation;
  QMetaObject::invokeMethod(&owner_, [this, k, generation] { DropClient(k, generation); },
                            Qt::QueuedConnection);
}

}  // namespace ecr
