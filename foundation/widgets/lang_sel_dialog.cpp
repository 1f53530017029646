#include "foundation/widgets/lang_sel_dialog.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"

namespace ecr {

TfmLangSel::TfmLangSel(const CodeTableSet& tables, QWidget* parent) : QDialog(parent), tables_(tables) {
  lblCurrLng = new QLabel(this);
  lblCurrLng->setObjectName(QStringLiteral("lblCurrLng"));
  gbAvailable = new QGroupBox(QCoreApplication::translate("TfmLangSel", "Available code tables"), this);
  lbAllLangs = new QListWidget(gbAvailable);
  lbAllLangs->setObjectName(QStringLiteral("lbAllLangs"));
  lbAllLangs->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* groupLayout = new QVBoxLayout(gbAvailable);
  groupLayout->addWidget(lbAllLangs);
  OKBtn = new QPushButton(QCoreApplication::translate("TfmLangSel", "OK"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QCoreApplication::translate("TfmLangSel", "Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblCurrLng);
  layout->addWidget(gbAvailable);
  layout->addLayout(buttons);

  connect(OKBtn, &QPushButton::clicked, this, &TfmLangSel::Confirm);
  connect(CancelBtn, &QPushButton::clicked, this, &TfmLangSel::reject);
}

int TfmLangSel::SelectCodeTable(int& codeTable) {
  setWindowTitle(ApplicationTitle());
  lblCurrLng->setText(QCoreApplication::translate("TfmLangSel", "Current code table: %1")
                          .arg(QString::fromStdString(GetCodeTableName(codeTable, tables_))));
  std::vector<std::string> names;
  FillCodeTableList(names, tables_);
  lbAllLangs->clear();
  for (const std::string& name : names) lbAllLangs->addItem(QString::fromStdString(name));
  lbAllLangs->setCurrentRow(codeTable - 1);  // outside the list: no row selected
  codeTable_ = &codeTable;
  const int result = exec();
  codeTable_ = nullptr;
  return result;
}

void TfmLangSel::reject() { done(mrCancel); }

void TfmLangSel::Confirm() {
  const QList<QListWidgetItem*> selected = lbAllLangs->selectedItems();
  const int chosen = selected.isEmpty() ? 0 : lbAllLangs->row(selected.first()) + 1;
  if (codeTable_ == nullptr || chosen < 1 || chosen == *codeTable_) {
    done(mrCancel);
    return;
  }
  *codeTable_ = chosen;
  done(mrOk);
}

}  // namespace ecr
