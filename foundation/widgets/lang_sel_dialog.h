#pragma once
// Picks the code table of a program from its language list (13 rows in the register
// server, 6 in the network-controller server). Choosing the table already in use ends
// with Cancel: nothing changed.
//
// Thread safety: main thread only.

#include <QDialog>

#include "foundation/code_tables.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace ecr {

class TfmLangSel : public QDialog {
  Q_OBJECT

 public:
  // `tables` must outlive the dialog (the program's fixed set).
  explicit TfmLangSel(const CodeTableSet& tables = HarbendixCodeTables(), QWidget* parent = nullptr);

  // Lists the tables with row `codeTable` (1-based) selected and runs modally. mrOk:
  // `codeTable` holds the newly chosen row. mrCancel: cancelled, the current row chosen
  // again, or no row selected; `codeTable` is unchanged.
  int SelectCodeTable(int& codeTable);
  int ModalResult() const { return result(); }

  QLabel* lblCurrLng = nullptr;
  QGroupBox* gbAvailable = nullptr;
  QListWidget* lbAllLangs = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 public slots:
  void reject() override;

 private:
  void Confirm();

  const CodeTableSet& tables_;
  int* codeTable_ = nullptr;
};

}  // namespace ecr
