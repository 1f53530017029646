#include "foundation/widgets/start_up_close_requests.h"

#include <utility>

namespace ecr {

void KeepCloseRequestsWhileStarting(TSelfMessenger& messenger, TerminationSignalHost& endRequests,
                                    std::function<std::string()> password) {
  messenger.SetOnSelfEvent([&endRequests, password = std::move(password)](
                               TSelfMessenger&, int messageId, const std::string& text, bool loopBack) {
    // The rule of every program's running handler: another start's smQuit with the password.
    if (!loopBack && messageId == smQuit && text == password()) endRequests.RequestEnd();
  });
}

}  // namespace ecr
