#include "server_app/standard_server_windows.h"

#include <QApplication>
#include <QMetaObject>
#include <QString>

#include "foundation/code_tables.h"
#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"
#include "server_app/main_window.h"

namespace ecr {

StandardServerWindows::StandardServerWindows(WindowSetSetup setup) : windows_(std::move(setup)) {}

StandardServerWindows::~StandardServerWindows() { windows_.AttachEngine(nullptr); }

void StandardServerWindows::AttachMainWindow(TfmMain& window) {
  mainWindow_ = &window;
  attached_ = true;
  windows_.AttachEngine(&window.Engine());
  // The close runs once the language dialog and the menu action around it have ended.
  windows_.SetCloseMainWindow([this] {
    if (TfmMain* main = mainWindow_.data())
      QMetaObject::invokeMethod(main, [main] { main->miExitServClick(); }, Qt::QueuedConnection);
  });
  window.Menu().SetLanguageFlag(windows_.ActiveFlag());
  // The main window goes before this set does: its engine must not be read afterwards.
  QObject::connect(&window, &QObject::destroyed, &connections_, [this] { windows_.AttachEngine(nullptr); });
}

void StandardServerWindows::FindMainWindow() {
  if (attached_) return;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* main = qobject_cast<TfmMain*>(widget)) {
      AttachMainWindow(*main);
      return;
    }
  }
}

bool StandardServerWindows::AskPassword(const std::string& adminPassword) {
  TfmPassword dialog;
  return dialog.AskPassword(QString::fromStdString(adminPassword), kPasswordCapacity) == mrOk;
}

void StandardServerWindows::EditOffset(std::int32_t& nextNotifyId) {
  TfmOffset dialog;
  dialog.EditOffset(nextNotifyId);
}

bool StandardServerWindows::SelectCodeTable(int& codeTableIndex) {
  TfmLangSel dialog(HarbendixCodeTables());
  return dialog.SelectCodeTable(codeTableIndex) == mrOk;
}

void StandardServerWindows::ShowError(const std::string& text) {
  ShowMsgBox(nullptr, QString::fromStdString(text), kMsgError);
}

void StandardServerWindows::UpdateStatus(const StatusTexts& texts) {
  FindMainWindow();
  status_ = texts;
  windows_.UpdateStatus(texts);
}

bool StandardServerWindows::EditAccess(ServerSettings& settings, std::string& newAdminPassword) {
  return windows_.EditAccess(settings, newAdminPassword);
}

void StandardServerWindows::EditPorts(ServerSettings& settings) { windows_.EditPorts(settings); }

void StandardServerWindows::ShowLanguageDialog() {
  FindMainWindow();
  windows_.ShowLanguageDialog();
}

void StandardServerWindows::SearchForEcrs(const std::string& comPort) { windows_.SearchForEcrs(comPort); }

void StandardServerWindows::TestLine(const std::string& comPort, std::uint16_t comSpeed) {
  windows_.TestLine(comPort, comSpeed);
}

void StandardServerWindows::ShowStatus() {
  FindMainWindow();
  windows_.ShowStatus();
}

void StandardServerWindows::OpenHelp() { windows_.OpenHelp(); }

}  // namespace ecr
