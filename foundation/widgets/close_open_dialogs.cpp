#include "foundation/widgets/close_open_dialogs.h"

#include <QApplication>
#include <QDialog>
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

}  // namespace ecr
