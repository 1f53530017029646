#pragma once
// The close request of a second start ("Q"): smQuit carrying the password, handed to the
// copy of the program that runs. The start that sends it needs no display and no toolkit:
// it is plain C++ and ends once the running copy has answered.
//
// Main thread only.

#include <chrono>
#include <string_view>

#include "foundation/self_messenger.h"
#include "platform/termination_signals.h"

namespace ecr {

// How long a sender waits for the copies it reached. A running copy answers at once from
// its event loop; this bounds the wait for one whose main thread is held (a start that
// searches its ports, a stop that waits for the line).
inline constexpr std::chrono::seconds kCloseRequestAnswerWait{30};

// Sends the request with `messenger` and waits for the answers (or until `cancelFd`
// becomes readable). The requesting process's exit status: 0 when a running copy took the
// request; otherwise 1, after saying on standard error that no running copy received it, or
// that none answered, so that a script, a service's stop or cron learns that the copy may
// still run.
int SendCloseRequest(TSelfMessenger& messenger, std::string_view password, int cancelFd = -1);

// The whole close request of a start: the program's messenger (its folder troubles go to
// the process log), the request, and the exit status of SendCloseRequest. A request to end
// (`endRequests`) stops the wait.
int CloseRunningCopy(std::string_view password, const TerminationSignals& endRequests);

}  // namespace ecr
