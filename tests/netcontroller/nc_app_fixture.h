#pragma once
// Helpers of the network-controller server's window tests: answering message boxes and
// modal dialogs from inside their own loops (never blocking a test), pressing keys, waiting
// on the event loop with a bound, and a TCP client of the socket server that lives on the
// same main thread as the server.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/widgets/msg_box.h"

namespace ecr::nc::test {

using namespace std::chrono_literals;

// Processes events until condition holds or timeout passes; true when it held.
inline bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Processes events for a while.
inline void Pump(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

// Records every message box and answers it (Ok unless told otherwise).
class BoxRecorder {
 public:
  explicit BoxRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok)
      : scope_([this, answer](const MsgBoxRequest& request) {
          texts.push_back(request.text.toStdString());
          kinds.push_back(request.kind);
          return answer;
        }) {}
  std::vector<std::string> texts;
  std::vector<std::uint8_t> kinds;

 private:
  ScopedMsgBoxPresenter scope_;
};

// Answers the modal dialogs that open while it lives, in order, each with the next action
// (run from inside the dialog's own loop). A dialog with no action left is rejected and
// counted as unexpected, so that no test ever waits on a dialog nobody answers.
class ModalAnswerer : public QObject {
 public:
  using Action = std::function<void(QDialog&)>;

  ModalAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Check(); });
    timer_.start();
  }
  ModalAnswerer(const ModalAnswerer&) = delete;
  ModalAnswerer& operator=(const ModalAnswerer&) = delete;

  void Then(Action action) { actions_.push_back(std::move(action)); }
  int Answered() const { return answered_; }
  const std::vector<std::string>& Unexpected() const { return unexpected_; }
  bool AllUsed() const { return actions_.empty(); }

 private:
  // A dialog that hides has been answered; shown again it is a new one.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide && watched == current_) {
      current_->removeEventFilter(this);
      current_ = nullptr;
    }
    return false;
  }

  void Check() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible() || dialog == current_) return;
    if (current_ != nullptr) current_->removeEventFilter(this);
    current_ = dialog;
    dialog->installEventFilter(this);
    if (actions_.empty()) {
      unexpected_.push_back(dialog->metaObject()->className());
      dialog->reject();
      return;
    }
    Action action = std::move(actions_.front());
    actions_.pop_front();
    ++answered_;
    action(*dialog);
  }

  QTimer timer_;
  std::deque<Action> actions_;
  QPointer<QDialog> current_;
  int answered_ = 0;
  std::vector<std::string> unexpected_;
};

// The dialog as its own class, for the actions above.
template <typename Dialog>
Dialog& As(QDialog& dialog) {
  auto* typed = qobject_cast<Dialog*>(&dialog);
  if (typed == nullptr) throw std::logic_error(std::string("a dialog of another kind: ") + dialog.metaObject()->className());
  return *typed;
}

// One key pressed and released on widget (which takes the focus first), as the keyboard
// would send it: an unhandled key goes on to the widget's parents.
inline void KeyClick(QWidget* widget, Qt::Key key) {
  widget->setFocus();
  const QString text = key == Qt::Key_Return || key == Qt::Key_Enter ? QStringLiteral("\r") : QString();
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &release);
}

// A client application on one TCP connection to a server that runs on this thread: every
// wait processes events, so the server can accept, read and answer meanwhile.
class PumpedClient {
 public:
  explicit PumpedClient(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int result = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    if (result != 0 && errno != EINPROGRESS) {
      close(fd_);
      fd_ = -1;
      return;
    }
    connected_ = PumpUntil(
        [this] {
          pollfd p{fd_, POLLOUT, 0};
          if (poll(&p, 1, 0) <= 0) return false;
          int error = 0;
          socklen_t length = sizeof error;
          getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
          refused_ = error != 0;
          return true;
        },
        10s) && !refused_;
  }
  ~PumpedClient() {
    if (fd_ >= 0) close(fd_);
  }
  PumpedClient(const PumpedClient&) = delete;
  PumpedClient& operator=(const PumpedClient&) = delete;

  bool Connected() const { return fd_ >= 0 && connected_; }
  bool Send(const std::string& message) {
    std::string frame(1, static_cast<char>(message.size()));
    frame += message;
    return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
  }
  // The next whole message, or nullopt when none came within timeout.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout = 10s) {
    std::optional<std::string> message;
    PumpUntil(
        [&] {
          char chunk[512];
          const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
          if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
          if (!buffer_.empty() && buffer_.size() >= 1u + static_cast<unsigned char>(buffer_[0])) {
            const std::size_t length = static_cast<unsigned char>(buffer_[0]);
            message = buffer_.substr(1, length);
            buffer_.erase(0, 1 + length);
            return true;
          }
          return false;
        },
        timeout);
    return message;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool refused_ = false;
  std::string buffer_;
};

}  // namespace ecr::nc::test
