#pragma once

// What a socket object needs from the event loop that runs it: to be told when its
// descriptor can be read or written. The window program implements it with socket
// notifiers on the main thread; tests implement it with poll().
//
// Threads: called on the event loop's thread only.

namespace ecr {

class SocketWatch {
public:
    virtual ~SocketWatch() = default;
    // Watch `fd` for the given readiness from now on (replacing what was watched before).
    virtual void WatchSocket(int fd, bool forRead, bool forWrite) = 0;
    // Stop watching `fd` (before it is closed).
    virtual void UnwatchSocket(int fd) = 0;
};

}  // namespace ecr
