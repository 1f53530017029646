#pragma once
// A channel that another process opens and then neither serves nor closes: it stands for a
// copy of a program that hangs, or that is killed while it holds its channel.

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <string>

#include "platform/instance_channel.h"

namespace ecr::support {

class ChannelInAnotherProcess {
 public:
  // Returns once the process has reported whether its channel opened (at most 30 s).
  ChannelInAnotherProcess(const std::string& name, const std::string& folder) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      // Never closed: the process ends only by a signal, as a hung or killed copy does.
      auto* kept = new InstanceChannel(name, folder);
      const char opened = kept->IsOpen() ? 'y' : 'n';
      (void)!::write(ready[1], &opened, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char opened = 0;
    pollfd entry{ready[0], POLLIN, 0};
    opened_ = pid_ > 0 && ::poll(&entry, 1, 30000) == 1 && ::read(ready[0], &opened, 1) == 1 &&
              opened == 'y';
    ::close(ready[0]);
  }
  ~ChannelInAnotherProcess() { Kill(); }
  ChannelInAnotherProcess(const ChannelInAnotherProcess&) = delete;
  ChannelInAnotherProcess& operator=(const ChannelInAnotherProcess&) = delete;

  // The process runs and its channel is open.
  bool Opened() const { return opened_; }

  // Kills the process and waits for its end; once done, a second call does nothing.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool opened_ = false;
};

}  // namespace ecr::support
