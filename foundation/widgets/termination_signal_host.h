#pragma once
// Puts the system's requests to end (TerminationSignals: SIGTERM, SIGHUP, SIGINT) on the Qt
// event loop: a socket notifier on the signal pipe calls the program's end-of-session
// handler on the main thread, between other events, the way the desktop's session end
// reaches a window program.
//
// Until the program sets its handler (once its start is complete: settings loaded, main
// window made), a request is kept, and any dialog or box that holds the start up is
// rejected, so that the start goes on (or gives up) and the kept request is handled as soon
// as the handler is set. Without this, a request that comes while the start waits in a
// box would wait for the user, and the program would not end.
//
// Threads: main thread only. Make it after the application object and before the windows.

#include <QObject>

#include <functional>

#include "platform/termination_signals.h"

class QSocketNotifier;

namespace ecr {

class TerminationSignalHost : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignalHost(QObject* parent = nullptr);
  ~TerminationSignalHost() override;

  // From now on each request calls `endSession`; a request kept before calls it at once.
  void SetHandler(std::function<void()> endSession);

  // Whether a request came while no handler was set (and has not been handed over yet).
  bool RequestKept() const { return kept_; }

 private:
  void OnReadable();

  TerminationSignals signals_;
  QSocketNotifier* notifier_ = nullptr;
  std::function<void()> endSession_;
  bool kept_ = false;
};

}  // namespace ecr
