#include "foundation/widgets/self_messenger_host.h"

#include <QSocketNotifier>

#include <utility>

#include "foundation/log_file.h"

namespace ecr {

SelfMessengerHost::SelfMessengerHost(QObject* parent) : QObject(parent) { Watch(); }

SelfMessengerHost::SelfMessengerHost(std::string_view executablePath, QObject* parent)
    : QObject(parent), messenger_(executablePath) {
  Watch();
}

SelfMessengerHost::SelfMessengerHost(std::string_view executablePath, InstanceFolders folders, QObject* parent)
    : QObject(parent), messenger_(executablePath, std::move(folders)) {
  Watch();
}

// The notifier is a child and goes first, before the descriptor it watches is closed.
SelfMessengerHost::~SelfMessengerHost() { delete notifier_; }

void SelfMessengerHost::Watch() {
  // Said in the log: a folder taken by another user would otherwise cut this program off
  // from its other starts without a trace.
  for (const std::string& line : MessengerLogLines(messenger_)) LogWrite(line);
  if (!messenger_.IsOpen()) return;
  notifier_ = new QSocketNotifier(messenger_.ReadableFd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { messenger_.Receive(); });
}

}  // namespace ecr
