#pragma once
// Puts the system's requests to end (TerminationSignals: SIGTERM, SIGHUP, SIGINT) on the Qt
// event loop: a socket notifier on the signal pipe calls the program's end-of-session
// handler on the main thread, between other events, the way the desktop's session end
// reaches a window program.
//
// Until the program sets its handler (once its start is complete: settings loaded, main
// window made), a request is kept. From the first kept request on, every dialog or box that
// is open or shows later is rejected (DialogRefusal), so that a start that waits in one box
// after another goes on (or gives up), the kept request is handled as soon as the handler
// is set, and no box holds the close. Without this, a request that comes while the start
// waits in a box would wait for the user, and the program would not end. A request that
// comes once the handler is set leaves the boxes to the handler: rejecting a dialog answers
// it (a not-ready dialog's rejection is a Cancel), and the close must not answer anything.
//
// A program takes the signals at the first moment of its main (TerminationSignals with
// Lifetime::UntilExit) and hands them to the host once the application object exists; a
// signal that came in between waits on the pipe and counts as kept.
//
// Threads: main thread only. Make it after the application object and before the windows.

#include <QObject>

#include <functional>
#include <memory>

#include "foundation/widgets/close_open_dialogs.h"
#include "platform/termination_signals.h"

class QSocketNotifier;

namespace ecr {

class TerminationSignalHost : public QObject {
  Q_OBJECT

 public:
  // Takes the signals itself, for its own lifetime.
  explicit TerminationSignalHost(QObject* parent = nullptr);
  // Watches signals taken before; they outlive the host.
  explicit TerminationSignalHost(TerminationSignals& taken, QObject* parent = nullptr);
  ~TerminationSignalHost() override;

  // From now on each request calls `endSession`; a request kept before, or a signal that
  // waits on the pipe, calls it at once.
  void SetHandler(std::function<void()> endSession);

  // A request to end that came another way (a close request carrying the password while
  // the program still starts): handled as a signal is, kept until the handler is set.
  void RequestEnd();

  // Whether a request came while no handler was set (and has not been handed over yet).
  bool RequestKept() const { return kept_; }

 private:
  void OnReadable();
  void OnRequest();

  std::unique_ptr<TerminationSignals> owned_;
  TerminationSignals& signals_;
  QSocketNotifier* notifier_ = nullptr;
  DialogRefusal refusal_;
  std::function<void()> endSession_;
  bool kept_ = false;
};

}  // namespace ecr
