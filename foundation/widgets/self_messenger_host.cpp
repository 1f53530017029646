#include "foundation/widgets/self_messenger_host.h"

#include <QSocketNotifier>

namespace ecr {

SelfMessengerHost::SelfMessengerHost(QObject* parent) : QObject(parent) { Watch(); }

SelfMessengerHost::SelfMessengerHost(std::string_view executablePath, QObject* parent)
    : QObject(parent), messenger_(executablePath) {
  Watch();
}

// The notifier is a child and goes first, before the descriptor it watches is closed.
SelfMessengerHost::~SelfMessengerHost() { delete notifier_; }

void SelfMessengerHost::Watch() {
  if (messenger_.ReadableFd() < 0) return;
  notifier_ = new QSocketNotifier(messenger_.ReadableFd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { messenger_.Receive(); });
}

}  // namespace ecr
