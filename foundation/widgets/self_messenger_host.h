#pragma once
// Puts a TSelfMessenger on the Qt event loop: a socket notifier on the messenger's
// descriptor calls Receive() whenever messages wait, so the handler runs on the main
// thread between other events, as window messages did. Give it the application object
// as parent so that it lives as long as the application. The socket folders that the
// messenger skipped go to the process log, one line each, and so does the reason when the
// messenger could not open at all.
//
// Thread safety: main thread only (the thread of the event loop that owns it).

#include <QObject>
#include <string_view>

#include "foundation/self_messenger.h"

class QSocketNotifier;

namespace ecr {

class SelfMessengerHost : public QObject {
  Q_OBJECT

 public:
  // The running program's messenger.
  explicit SelfMessengerHost(QObject* parent = nullptr);
  // The messenger of the program at `executablePath` (sockets in InstanceSocketFolders()).
  explicit SelfMessengerHost(std::string_view executablePath, QObject* parent = nullptr);
  // The same with the socket folders given.
  SelfMessengerHost(std::string_view executablePath, InstanceFolders folders, QObject* parent = nullptr);
  ~SelfMessengerHost() override;

  TSelfMessenger& Messenger() { return messenger_; }

 private:
  void Watch();

  TSelfMessenger messenger_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace ecr
