#include "foundation/widgets/termination_signal_host.h"

#include <QSocketNotifier>

#include <utility>

#include "foundation/widgets/close_open_dialogs.h"

namespace ecr {

TerminationSignalHost::TerminationSignalHost(QObject* parent)
    : QObject(parent), notifier_(new QSocketNotifier(signals_.ReadableFd(), QSocketNotifier::Read, this)) {
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignalHost::OnReadable);
}

// The notifier goes first, before the pipe it watches is closed.
TerminationSignalHost::~TerminationSignalHost() { delete notifier_; }

void TerminationSignalHost::SetHandler(std::function<void()> endSession) {
  endSession_ = std::move(endSession);
  if (endSession_ && std::exchange(kept_, false)) endSession_();
}

void TerminationSignalHost::OnReadable() {
  if (signals_.Take().empty()) return;
  if (endSession_) {
    // A copy: the handler may end the program and with it this object's handler.
    const std::function<void()> endSession = endSession_;
    endSession();
    return;
  }
  kept_ = true;
  CloseOpenDialogs();
}

}  // namespace ecr
