#include "foundation/widgets/session_bus_tray.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QStringList>
#include <QVariant>

#include <utility>

#include "foundation/widgets/tray_desktop.h"

namespace ecr {
namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

SessionBusTray::SessionBusTray(QObject* parent) : QObject(parent) {}

void SessionBusTray::Ask(std::function<void()> answered) {
  if (answered) waiting_.push_back(std::move(answered));
  if (Asking()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    statusNotifierHost_ = false;
    showsItem_ = false;
    answered_ = true;
    waiting_.clear();
    return;
  }
  QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
  // A watcher that is not there is no tray; it must not be started for the question.
  get.setAutoStartService(false);
  const QDBusMessage names =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
  Send(bus.asyncCall(get, kWatcherAnswerMs), &SessionBusTray::TakeWatcherReply);
  Send(bus.asyncCall(names, kBusAnswerMs), &SessionBusTray::TakeNames);
}

void SessionBusTray::Send(const QDBusPendingCall& call, void (SessionBusTray::*take)(const QDBusMessage&)) {
  ++openCalls_;
  auto* watcher = new QDBusPendingCallWatcher(call, this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, take](QDBusPendingCallWatcher* finished) {
    (this->*take)(finished->reply());
    finished->deleteLater();
    CallFinished();
  });
}

void SessionBusTray::TakeWatcherReply(const QDBusMessage& reply) {
  statusNotifierHost_ = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                        reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void SessionBusTray::TakeNames(const QDBusMessage& reply) {
  showsItem_ = false;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
  const qint64 pid = QCoreApplication::applicationPid();
  for (const QString& name : reply.arguments().constFirst().toStringList())
    if (IsStatusNotifierItemName(name, pid)) showsItem_ = true;
}

void SessionBusTray::CallFinished() {
  if (--openCalls_ > 0) return;
  answered_ = true;
  // Taken out first: a handler may ask again.
  const std::vector<std::function<void()>> waiting = std::exchange(waiting_, {});
  for (const std::function<void()>& handler : waiting) handler();
}

}  // namespace ecr
