#include "netcontroller/server/nc_sock_server.h"

#include <QMetaObject>
#include <QThread>

namespace ecr::nc {

namespace {

// The socket calls fail with this value; the texts say which step failed.
constexpr int kSocketFailure = -1;

ClientSlots::Policy ControllerServerPolicy() {
  ClientSlots::Policy policy;
  policy.listenBacklog = TSockServer::kListenBacklog;
  policy.emptyFrames = ClientFrameCutter::EmptyFrames::Report;
  policy.receiveSize = TSockServer::kReceiveBufferSize;
  policy.readBudget = TSockServer::kReceiveBufferSize;
  // One receive per notification keeps one busy client from holding up the others.
  policy.oneReceive = true;
  // A failing receive is handled as a close, with no report of its own.
  policy.receiveFailureText = std::nullopt;
  policy.frameCutText = "Bytes Missing";
  return policy;
}

const char* ListenStepText(ClientSlots::ListenStep step) {
  switch (step) {
    case ClientSlots::ListenStep::CreateSocket: return "Unable to create socket";
    case ClientSlots::ListenStep::SetNoDelay: return "Seting socket NODELAY";
    case ClientSlots::ListenStep::SetKeepAlive: return "Seting Socket KEEPALIVE";
    case ClientSlots::ListenStep::SetNonBlocking: return "AsynchSelect:FD_ACCEPT";
    case ClientSlots::ListenStep::Bind: return "Binding socket and address";
    case ClientSlots::ListenStep::Listen: return "Seting socket to listen";
  }
  return "Unable to create socket";
}

}  // namespace

TSockServer::TSockServer(QObject* parent) : ClientSocketServer(parent, ControllerServerPolicy()) {}

void TSockServer::RaiseError(int err, const std::string& text) {
  if (OnError) OnError(err, text);
}

void TSockServer::ReportError(int err, const std::string& text) {
  if (QThread::currentThread() == thread()) {
    RaiseError(err, text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, err, text] { RaiseError(err, text); }, Qt::QueuedConnection);
}

void TSockServer::Open() {
  // There is no socket library to start on this platform: the set-up begins with the socket.
  if (const auto failure = Slots().Listen(LocalPort())) RaiseError(kSocketFailure, ListenStepText(failure->step));
}

void TSockServer::SendData(std::uint16_t ID, std::string_view Data) {
  if (ID > kClientSlots) {
    ReportError(ID, "ID too big");
    return;
  }
  if (ID == 0) return;
  const ClientSlots::SendOutcome outcome = Slots().Send(ID, Data);
  using Status = ClientSlots::SendOutcome::Status;
  switch (outcome.status) {
    case Status::Done:
    case Status::NotAssigned:
      return;
    case Status::Failed:
      ReportError(outcome.bytesTaken > 0 ? static_cast<int>(outcome.bytesTaken) : kSocketFailure,
                  "Not all bytes sended");
      return;
    case Status::QueueFull:
      ReportError(static_cast<int>(outcome.bytesTaken), "Not all bytes sended");
      // After the report, through the event loop: the caller may hold a lock that
      // OnDisconnect takes.
      Slots().DropLater(outcome);
      return;
  }
}

}  // namespace ecr::nc
