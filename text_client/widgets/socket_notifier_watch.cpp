#include "text_client/widgets/socket_notifier_watch.h"

#include <QSocketNotifier>

namespace ecr {

SocketNotifierWatch::SocketNotifierWatch(QObject* parent) : QObject(parent) {}

SocketNotifierWatch::~SocketNotifierWatch() { Drop(); }

void SocketNotifierWatch::WatchSocket(int fd, bool forRead, bool forWrite) {
    if (fd != fd_) {
        Drop();
        fd_ = fd;
        read_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        write_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(read_, &QSocketNotifier::activated, this, [this] {
            if (client_) client_->HandleReadable();
        });
        connect(write_, &QSocketNotifier::activated, this, [this] {
            if (client_) client_->HandleWritable();
        });
    }
    read_->setEnabled(forRead);
    write_->setEnabled(forWrite);
}

void SocketNotifierWatch::UnwatchSocket(int fd) {
    if (fd == fd_) Drop();
}

void SocketNotifierWatch::Drop() {
    // The notifiers may be the ones whose signal is being handled: switch them off now and
    // free them when control is back in the event loop.
    for (QSocketNotifier* notifier : {read_, write_}) {
        if (!notifier) continue;
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    read_ = nullptr;
    write_ = nullptr;
    fd_ = -1;
}

}  // namespace ecr
