#include "server_app/standard_server_windows.h"

#include <QString>

#include "foundation/code_tables.h"
#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"

namespace ecr {

bool StandardServerWindows::AskPassword(const std::string& adminPassword) {
  TfmPassword dialog;
  return dialog.AskPassword(QString::fromStdString(adminPassword)) == mrOk;
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

void StandardServerWindows::UpdateStatus(const StatusTexts& texts) { status_ = texts; }

// The access and ports dialogs, the language dialog, the register search, the line test
// and the status window are windows of their own that plug in here; until they do, their
// items leave the settings as they are.
bool StandardServerWindows::EditAccess(ServerSettings&, std::string&) { return false; }

void StandardServerWindows::EditPorts(ServerSettings&) {}

void StandardServerWindows::ShowLanguageDialog() {}

void StandardServerWindows::SearchForEcrs(const std::string&) {}

void StandardServerWindows::TestLine(const std::string&, std::uint16_t) {}

void StandardServerWindows::ShowStatus() {}

void StandardServerWindows::OpenHelp() {}

}  // namespace ecr
