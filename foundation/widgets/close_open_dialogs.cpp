#include "foundation/widgets/close_open_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>

namespace ecr {

void CloseOpenDialogs() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QDialog*>(widget); dialog != nullptr && dialog->isVisible()) dialog->reject();
  }
}

void CloseOpenDialogsAndQuit() {
  CloseOpenDialogs();
  QCoreApplication::quit();
}

DialogRefusal::~DialogRefusal() {
  if (started_ && QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(this);
}

void DialogRefusal::Start() {
  if (started_) return;
  started_ = true;
  QCoreApplication::instance()->installEventFilter(this);
  CloseOpenDialogs();
}

bool DialogRefusal::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    // Queued: a dialog that runs its own loop is shown before the loop starts, and only a
    // running loop ends with the rejection.
    if (auto* dialog = qobject_cast<QDialog*>(watched); dialog != nullptr && dialog->isWindow())
      QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace ecr
