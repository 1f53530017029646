#include "netcontroller/server/nc_sock_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <exception>
#include <vector>

namespace ecr::nc {

namespace {

// No "do not route" flag: Linux honours it, and it would cut off every client that is not
// on a directly attached network. No SIGPIPE from a client that has gone.
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kAcceptPauseMs = 100;
// The socket calls fail with this value; the texts say which step failed.
constexpr int kSocketFailure = -1;

void SetFlag(int socket, int level, int option) {
  const int on = 1;
  setsockopt(socket, level, option, &on, sizeof on);
}

}  // namespace

TSockServer::TSockServer(QObject* parent) : QObject(parent) {}

TSockServer::~TSockServer() {
  Close();
  for (int k = 1; k <= kClientSlots; ++k) FreeSlot(k);
}

bool TSockServer::OnMainThread() const { return QThread::currentThread() == thread(); }

void TSockServer::RaiseError(int err, const std::string& text) {
  if (OnError) OnError(err, text);
}

void TSockServer::ReportError(int err, const std::string& text) {
  if (OnMainThread()) {
    RaiseError(err, text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, err, text] { RaiseError(err, text); }, Qt::QueuedConnection);
}

void TSockServer::RunHandler(const std::function<void()>& handler) {
  // No exception may pass into the event loop: it is reported, and the event counts as
  // handled.
  try {
    handler();
  } catch (const std::exception& error) {
    RaiseError(0, error.what());
  }
}

void TSockServer::Open() {
  if (active_) return;
  // There is no socket library to start on this platform, so the first step cannot fail.
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) {
    RaiseError(kSocketFailure, "Unable to create socket");
    return;
  }
  // A half-opened socket is closed, so that a failed bind or listen keeps no port taken.
  const auto fail = [this, socket](const char* text) {
    ::close(socket);
    RaiseError(kSocketFailure, text);
  };
  const int on = 1;
  if (setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return fail("Seting socket NODELAY");
  if (setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return fail("Seting Socket KEEPALIVE");
  // A restart must be able to bind while connections of the last run linger in TIME_WAIT;
  // two servers still cannot listen on one port.
  SetFlag(socket, SOL_SOCKET, SO_REUSEADDR);
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return fail("AsynchSelect:FD_ACCEPT");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(localPort_);
  if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail("Binding socket and address");
  }
  if (listen(socket, kListenBacklog) != 0) return fail("Seting socket to listen");

  listenSocket_ = socket;
  acceptNotifier_ = new QSocketNotifier(socket, QSocketNotifier::Read, this);
  QObject::connect(acceptNotifier_, &QSocketNotifier::activated, this, [this] { AcceptPending(); });
  active_ = true;
}

void TSockServer::Close() {
  if (acceptNotifier_ != nullptr) {
    acceptNotifier_->setEnabled(false);
    acceptNotifier_->deleteLater();
    acceptNotifier_ = nullptr;
  }
  if (listenSocket_ >= 0) {
    ::close(listenSocket_);
    listenSocket_ = -1;
  }
  if (!active_) return;
  active_ = false;
  // The connections end with the listening socket; no OnDisconnect is raised for them.
  for (int k = 1; k <= kClientSlots; ++k) FreeSlot(k);
}

std::uint16_t TSockServer::BoundPort() const {
  if (listenSocket_ < 0) return 0;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

int TSockServer::FindFreeClient() const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (int k = 1; k <= kClientSlots; ++k) {
    if (slots_[static_cast<std::size_t>(k)].socket == -1) return k;
  }
  return 0;
}

std::size_t TSockServer::QueuedBytes(std::uint16_t ID) const {
  if (ID == 0 || ID > kClientSlots) return 0;
  std::lock_guard<std::mutex> guard(mutex_);
  const Slot& slot = slots_[ID];
  return slot.sendQueue.size() - slot.sendOffset;
}

void TSockServer::AcceptPending() {
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
    const int k = FindFreeClient();
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
    slot.readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    QObject::connect(slot.readNotifier, &QSocketNotifier::activated, this,
                     [this, k, generation] { ReadClient(k, generation); });
    slot.writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    slot.writeNotifier->setEnabled(false);
    QObject::connect(slot.writeNotifier, &QSocketNotifier::activated, this,
                     [this, k, generation] { WriteClient(k, generation); });
    RunHandler([&] {
      if (OnConnect) OnConnect(static_cast<std::uint16_t>(k));
    });
  }
}

void TSockServer::PauseAccepting() {
  if (acceptNotifier_ == nullptr) return;
  acceptNotifier_->setEnabled(false);
  QTimer::singleShot(kAcceptPauseMs, this, [this] {
    if (acceptNotifier_ != nullptr) acceptNotifier_->setEnabled(true);
  });
}

void TSockServer::ReadClient(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  if (slot.generation != generation || slot.socket < 0) return;
  // Cut off by SendData: what it still sends is not read any more.
  const auto cutOff = [this, &slot] {
    std::lock_guard<std::mutex> guard(mutex_);
    return slot.closing;
  };
  if (cutOff()) {
    DropClient(k, generation);
    return;
  }
  // One receive per notification keeps one busy client from holding up the others; the
  // notifier fires again while data is waiting.
  ssize_t n = 0;
  do {
    n = recv(slot.socket, receiveBuffer_.data(), receiveBuffer_.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    // The peer has closed, or the connection is broken; without the close a broken
    // connection's notifier would fire for ever.
    DropClient(k, generation);
    return;
  }
  const std::vector<std::string> messages =
      slot.cutter.Feed(std::string_view(receiveBuffer_.data(), static_cast<std::size_t>(n)));
  for (const std::string& message : messages) {
    RunHandler([&] {
      if (OnDataIn) OnDataIn(static_cast<std::uint16_t>(k), message);
    });
    // A handler may have ended this connection, or a reply cut it off.
    if (slot.generation != generation || slot.socket < 0) return;
    if (cutOff()) {
      DropClient(k, generation);
      return;
    }
  }
}

bool TSockServer::FlushQueueLocked(Slot& slot) {
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

void TSockServer::WriteClient(int k, std::uint64_t generation) {
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
    if (OnReadyToSend) OnReadyToSend(static_cast<std::uint16_t>(k));
  });
}

void TSockServer::WantWrite(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  if (slot.generation != generation || slot.writeNotifier == nullptr) return;
  slot.writeNotifier->setEnabled(true);
}

void TSockServer::DropClient(int k, std::uint64_t generation) {
  Slot& slot = slots_[static_cast<std::size_t>(k)];
  if (slot.generation != generation || slot.socket < 0) return;
  if (!slot.cutter.AtFrameStart()) {
    RaiseError(static_cast<int>(slot.cutter.MissingBytes()) + 1, "Bytes Missing");
  }
  RunHandler([&] {
    if (OnDisconnect) OnDisconnect(static_cast<std::uint16_t>(k));
  });
  FreeSlot(k);
}

void TSockServer::FreeSlot(int k) {
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

void TSockServer::SendData(std::uint16_t ID, std::string_view Data) {
  if (ID > kClientSlots) {
    ReportError(ID, "ID too big");
    return;
  }
  if (ID == 0) return;
  Slot& slot = slots_[ID];
  const std::string frame = MakeClientFrame(Data);
  std::uint64_t generation = 0;
  bool wantWrite = false;
  bool dropLater = false;
  int failedCount = 0;
  bool failed = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (slot.socket < 0 || slot.closing) return;
    generation = slot.generation;
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
        const std::size_t taken = frame.size() - rest.size();
        if (taken > 0) {
          // Part of the frame is on the stream; the rest can never follow it whole.
          slot.closing = true;
          shutdown(slot.socket, SHUT_RDWR);
        }
        failed = true;
        failedCount = taken > 0 ? static_cast<int>(taken) : kSocketFailure;
        rest = {};
      }
    }
    if (!failed && !rest.empty()) {
      if (slot.sendQueue.size() - slot.sendOffset + rest.size() > kSendQueueLimit) {
        // The client does not read: cut it off rather than let its queue grow. The frame
        // went nowhere (a queue is only kept while it is not empty).
        slot.closing = true;
        slot.sendQueue.clear();
        slot.sendOffset = 0;
        shutdown(slot.socket, SHUT_RDWR);
        failed = true;
        failedCount = static_cast<int>(frame.size() - rest.size());
        dropLater = true;
      } else {
        slot.sendQueue.append(rest);
        wantWrite = wasEmpty;
      }
    }
  }
  if (failed) ReportError(failedCount, "Not all bytes sended");
  if (dropLater) {
    // Raised through the event loop: the caller may hold a lock that OnDisconnect takes.
    QMetaObject::invokeMethod(this, [this, ID, generation] { DropClient(ID, generation); },
                              Qt::QueuedConnection);
  }
  if (!wantWrite) return;
  if (OnMainThread()) {
    WantWrite(ID, generation);
  } else {
    QMetaObject::invokeMethod(this, [this, ID, generation] { WantWrite(ID, generation); },
                              Qt::QueuedConnection);
  }
}

}  // namespace ecr::nc
