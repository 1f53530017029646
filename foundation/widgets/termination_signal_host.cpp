#include "foundation/widgets/termination_signal_host.h"

#include <QSocketNotifier>

#include <utility>

namespace ecr {

TerminationSignalHost::TerminationSignalHost(QObject* parent)
    : QObject(parent), owned_(std::make_unique<TerminationSignals>()), signals_(*owned_) {
  notifier_ = new QSocketNotifier(signals_.ReadableFd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignalHost::OnReadable);
}

TerminationSignalHost::TerminationSignalHost(TerminationSignals& taken, QObject* parent)
    : QObject(parent), signals_(taken) {
  notifier_ = new QSocketNotifier(signals_.ReadableFd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignalHost::OnReadable);
}

// The notifier goes first, before the pipe it watches is closed.
TerminationSignalHost::~TerminationSignalHost() { delete notifier_; }

void TerminationSignalHost::SetHandler(std::function<void()> endSession) {
  // A signal that came before any event loop ran still waits on the pipe.
  if (!signals_.Take().empty()) OnRequest();
  endSession_ = std::move(endSession);
  if (endSession_ && std::exchange(kept_, false)) {
    const std::function<void()> handler = endSession_;
    handler();
  }
}

void TerminationSignalHost::RequestEnd() { OnRequest(); }

void TerminationSignalHost::OnReadable() {
  if (!signals_.Take().empty()) OnRequest();
}

void TerminationSignalHost::OnRequest() {
  if (endSession_) {
    // The handler decides what becomes of the open boxes: a dialog's own answer to a
    // rejection (a Cancel) may be what the close must not do.
    // A copy: the handler may end the program and with it this object's handler.
    const std::function<void()> endSession = endSession_;
    endSession();
    return;
  }
  // Nothing can end the program yet: no box may hold the start meanwhile.
  refusal_.Start();
  kept_ = true;
}

}  // namespace ecr
