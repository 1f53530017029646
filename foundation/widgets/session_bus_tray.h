#pragma once
// What the session bus says about the StatusNotifierItem tray, asked without waiting: the
// main thread, which also serves every client socket, must never stand still while a panel
// (or the bus) is slow to answer.
//
// One question is two calls sent at once: the property IsStatusNotifierHostRegistered of
// the watcher org.kde.StatusNotifierWatcher (a watcher that does not answer within
// kWatcherAnswerMs counts as no tray), and the bus's list of names, in which this process
// owns "org.kde.StatusNotifierItem-<pid>-<n>" (or its "org.freedesktop." twin) while it
// shows an icon as a StatusNotifierItem. Their replies come back through the event loop.
// A question still open is never asked a second time; who asks meanwhile hears the answer
// of the open one.
//
// Threads: main thread only.

#include <QObject>

#include <functional>
#include <vector>

class QDBusMessage;
class QDBusPendingCall;

namespace ecr {

class SessionBusTray : public QObject {
  Q_OBJECT

 public:
  static constexpr int kWatcherAnswerMs = 1000;
  static constexpr int kBusAnswerMs = 1000;

  explicit SessionBusTray(QObject* parent = nullptr);

  // As of the last answer; false before the first.
  bool StatusNotifierHost() const { return statusNotifierHost_; }
  bool ShowsStatusNotifierItem() const { return showsItem_; }
  // Whether an answer has come since this object was made.
  bool Answered() const { return answered_; }
  // Whether a question is open.
  bool Asking() const { return openCalls_ > 0; }

  // Asks again, unless a question is open, and returns at once. `answered` (may be empty)
  // runs on this thread once the answer is in. Without a session bus the answer is "no
  // tray" at once: it is in place when Ask returns and `answered` does not run.
  void Ask(std::function<void()> answered);

 private:
  void Send(const QDBusPendingCall& call, void (SessionBusTray::*take)(const QDBusMessage&));
  void TakeWatcherReply(const QDBusMessage& reply);
  void TakeNames(const QDBusMessage& reply);
  void CallFinished();

  bool statusNotifierHost_ = false;
  bool showsItem_ = false;
  bool answered_ = false;
  int openCalls_ = 0;
  std::vector<std::function<void()>> waiting_;
};

}  // namespace ecr
