#include "foundation/close_request.h"

#include <cstdio>

#include "foundation/log_file.h"

namespace ecr {

int SendCloseRequest(TSelfMessenger& messenger, std::string_view password, int cancelFd) {
  switch (messenger.SendAndAwait(smQuit, password, kCloseRequestAnswerWait, cancelFd)) {
    case TSelfMessenger::SendOutcome::Taken:
      return 0;
    case TSelfMessenger::SendOutcome::NotTaken:
      std::fputs("The close request reached no running copy.\n", stderr);
      return 1;
    case TSelfMessenger::SendOutcome::Unanswered:
      break;
  }
  std::fputs("No running copy answered the close request.\n", stderr);
  return 1;
}

int CloseRunningCopy(std::string_view password, const TerminationSignals& endRequests) {
  TSelfMessenger messenger;
  for (const std::string& line : MessengerLogLines(messenger)) LogWrite(line);
  return SendCloseRequest(messenger, password, endRequests.ReadableFd());
}

}  // namespace ecr
