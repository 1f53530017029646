#include "server/sock_server.h"

#include <string>

namespace ecr {

namespace {

constexpr std::string_view kClassName = "TSockServer";

ClientSlots::Policy RegisterServerPolicy() {
  ClientSlots::Policy policy;
  policy.listenBacklog = 8;
  policy.emptyFrames = ClientFrameCutter::EmptyFrames::Skip;
  policy.receiveSize = 4096;
  policy.readBudget = 64 * 1024;
  policy.oneReceive = false;
  policy.receiveFailureText = "";
  return policy;
}

std::string_view ListenStepText(ClientSlots::ListenStep step) {
  switch (step) {
    case ClientSlots::ListenStep::CreateSocket: return "Socket error: ";
    case ClientSlots::ListenStep::SetNoDelay: return "SetSockOpt NODELAY error: ";
    case ClientSlots::ListenStep::SetKeepAlive: return "SetSockOpt KEEPALIVE error: ";
    case ClientSlots::ListenStep::SetNonBlocking: return "WSAAsyncSelect error: ";
    case ClientSlots::ListenStep::Bind: return "Bind error: ";
    case ClientSlots::ListenStep::Listen: return "Listen error: ";
  }
  return "Socket error: ";
}

}  // namespace

TSockServer::TSockServer(QObject* parent) : ClientSocketServer(parent, RegisterServerPolicy()) {}

void TSockServer::Open() {
  if (const auto failure = Slots().Listen(LocalPort())) {
    throw ESockException(std::string(ListenStepText(failure->step)) + SocketErrorText(failure->err));
  }
}

void TSockServer::SendData(std::uint16_t ID, std::string_view Data) {
  if (ID == 0 || ID > kClientSlots) {
    throw ESockException(std::string(kClassName) + " - SendData: Error client ID: " + std::to_string(ID));
  }
  const ClientSlots::SendOutcome outcome = Slots().Send(ID, Data);
  using Status = ClientSlots::SendOutcome::Status;
  switch (outcome.status) {
    case Status::Done:
      return;
    case Status::NotAssigned:
      throw ESockException(std::string(kClassName) +
                           " - SendData: Socket is NOT assigned ! Client ID: " + std::to_string(ID));
    case Status::Failed:
      throw ESockException(std::string(kClassName) + " SendData error: " + SocketErrorText(outcome.err));
    case Status::QueueFull:
      Slots().DropLater(outcome);
      throw ESockException(std::string(kClassName) +
                           " - SendData: Send queue full, connection closed. Client ID: " +
                           std::to_string(ID));
  }
}

}  // namespace ecr
