#pragma once
// What the register server does with the errors that its socket server reports (OnError).
// An exception raised by the handler of a client's connect, data or disconnect event is
// written to the log as LogException writes it (where "TfmMain.IPServer", then the
// exception's class and message); the event counts as handled and the server goes on
// serving every client. No box is shown: the server runs unattended, and a modal box per
// failing event would pile up while clients go on sending. A failing receive, which comes
// without an exception, is not logged: the connection is handled as closed, as a client's
// own close.
//
// Threads: OnError is raised on the main thread; log may be written from any thread.

#include <string>

namespace ecr {

class ClientSocketServer;
class LogFile;

// Binds server.OnError to LogClientEventError on log; log outlives the binding.
void BindClientEventErrors(ClientSocketServer& server, LogFile& log);

// Writes the exception being handled while OnError runs (the socket server raises it from
// inside its catch of the handler's exception); nothing without one.
void LogClientEventError(LogFile& log, int err, const std::string& text);

}  // namespace ecr
