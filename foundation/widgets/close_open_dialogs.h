#pragma once
// The end of a window program's message loop after its main window allowed the close. A
// close may come while a modal box or dialog runs its own loop (a close request of a second
// start, a request of the system to end): those dialogs are rejected first, then the message
// loop ends.
//
// Main thread only; connect CloseOpenDialogsAndQuit with a queued connection, so that it
// runs once the handler that closed the window has returned.

namespace ecr {

// Rejects every visible dialog and message box; their loops end once control is back in
// them.
void CloseOpenDialogs();
void CloseOpenDialogsAndQuit();

}  // namespace ecr
