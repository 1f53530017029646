#pragma once
// The end of a window program's message loop after its main window allowed the close. A
// close may come while a modal box or dialog runs its own loop (a close request of a second
// start, a request of the system to end): those dialogs are rejected first, then the message
// loop ends.
//
// Main thread only; connect CloseOpenDialogsAndQuit with a queued connection, so that it
// runs once the handler that closed the window has returned.

#include <QObject>

namespace ecr {

// Rejects every visible dialog and message box; their loops end once control is back in
// them.
void CloseOpenDialogs();
void CloseOpenDialogsAndQuit();

// While started: rejects every dialog and message box that is open or shows later, so that
// none holds the program. A program that has been asked to end uses it, from the request
// until it ends: a start that shows one box after another goes on through all of them.
class DialogRefusal : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  ~DialogRefusal() override;

  // Rejects the open dialogs and, from now on, each one that shows. Again: nothing more.
  void Start();
  bool Started() const { return started_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool started_ = false;
};

}  // namespace ecr
