#pragma once
// Close requests of second starts while a program still starts. Its window cannot close
// yet, but a box may hold the start up (a failed keep-awake binding, a controller that was
// not found), and on a machine without a person only the request can end it. So, until the
// program binds its own handler: a close request that carries the password is taken as a
// request to end (TerminationSignalHost::RequestEnd): every box of the start is rejected,
// and the close follows once the start is through; any other request is taken and changes
// nothing, as it would in the running program. The sender learns that a running copy took
// its request in both cases.
//
// Main thread only. The password is asked for each request, from settings that the
// program has loaded before its first box can show.

#include <functional>
#include <string>

#include "foundation/self_messenger.h"
#include "foundation/widgets/termination_signal_host.h"

namespace ecr {

// Sets the messenger's handler; the program replaces it with its own once it has started.
void KeepCloseRequestsWhileStarting(TSelfMessenger& messenger, TerminationSignalHost& endRequests,
                                    std::function<std::string()> password);

}  // namespace ecr
