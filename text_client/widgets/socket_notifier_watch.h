#pragma once

// Puts a TSockClient on the Qt event loop: socket notifiers on the client's descriptor call
// HandleReadable and HandleWritable whenever the socket is ready, on the main thread, as
// the socket messages of a window did.
//
// Threads: main thread only (the thread whose event loop runs the notifiers).

#include <QObject>

#include "text_client/sock_client.h"
#include "text_client/socket_watch.h"

class QSocketNotifier;

namespace ecr {

class SocketNotifierWatch : public QObject, public SocketWatch {
    Q_OBJECT

public:
    explicit SocketNotifierWatch(QObject* parent = nullptr);
    ~SocketNotifierWatch() override;

    // The client whose events the notifiers raise; set before its first connection.
    void Attach(TSockClient& client) { client_ = &client; }

    void WatchSocket(int fd, bool forRead, bool forWrite) override;
    void UnwatchSocket(int fd) override;

    int WatchedDescriptor() const { return fd_; }

private:
    void Drop();

    TSockClient* client_ = nullptr;
    int fd_ = -1;
    QSocketNotifier* read_ = nullptr;
    QSocketNotifier* write_ = nullptr;
};

}  // namespace ecr
