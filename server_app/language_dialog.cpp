#include "server_app/language_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "platform/program_path.h"
#include "server_app/language_flags.h"
#include "server_app/language_selection.h"
#include "server_app/language_table.h"

namespace ecr {
namespace {

QString Upper(const std::string& text) { return QString::fromStdString(text).toUpper(); }

}  // namespace

TfmLanguageSelection::TfmLanguageSelection(LanguageSelection& selection, QWidget* parent)
    : QDialog(parent), selection_(selection), pcFlags_(FlagStrip()) {
  setObjectName("fmLanguageSelection");
  setWindowTitle(QCoreApplication::translate("TfmLanguageSelection", "Language Selection"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  gbActiveLng = new QGroupBox(QCoreApplication::translate("TfmLanguageSelection", "Active Language"), this);
  gbActiveLng->setObjectName("gbActiveLng");
  imgActiveLng = new QLabel(gbActiveLng);
  imgActiveLng->setObjectName("imgActiveLng");
  lblActiveLng = new QLabel(gbActiveLng);
  lblActiveLng->setObjectName("lblActiveLng");
  auto* activeRow = new QHBoxLayout(gbActiveLng);
  activeRow->addWidget(imgActiveLng);
  activeRow->addWidget(lblActiveLng, 1);

  gbSelectedLng = new QGroupBox(QCoreApplication::translate("TfmLanguageSelection", "Selected Language"), this);
  gbSelectedLng->setObjectName("gbSelectedLng");
  imgSelectedLng = new QLabel(gbSelectedLng);
  imgSelectedLng->setObjectName("imgSelectedLng");
  cbLanguages = new QComboBox(gbSelectedLng);
  cbLanguages->setObjectName("cbLanguages");
  cbLanguages->setEditable(false);
  bbtnOK = new QPushButton(QCoreApplication::translate("TfmLanguageSelection", "OK"), gbSelectedLng);
  bbtnOK->setObjectName("bbtnOK");
  bbtnOK->setDefault(true);
  bbtnCancel = new QPushButton(QCoreApplication::translate("TfmLanguageSelection", "Cancel"), gbSelectedLng);
  bbtnCancel->setObjectName("bbtnCancel");
  auto* selectedColumn = new QVBoxLayout(gbSelectedLng);
  auto* choiceRow = new QHBoxLayout;
  choiceRow->addWidget(imgSelectedLng);
  choiceRow->addWidget(cbLanguages, 1);
  selectedColumn->addLayout(choiceRow);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch(1);
  buttonRow->addWidget(bbtnOK);
  buttonRow->addWidget(bbtnCancel);
  selectedColumn->addLayout(buttonRow);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gbActiveLng);
  layout->addWidget(gbSelectedLng);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // FormCreate: the languages that have a module beside the program.
  extToName_ = selection_.ExtToName();

  connect(cbLanguages, &QComboBox::currentIndexChanged, this, [this] { cbLanguagesChange(); });
  connect(bbtnOK, &QPushButton::clicked, this, &TfmLanguageSelection::ConfirmOk);
  connect(bbtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QPixmap TfmLanguageSelection::Flag(int cell) const { return FlagCell(pcFlags_, cell); }

int TfmLanguageSelection::ShowLanguageDialog() {
  chosenLanguage_ = selection_.NextLanguage();
  closeRequested_ = false;
  return exec() == QDialog::Accepted ? mrOk : mrCancel;
}

void TfmLanguageSelection::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const QSignalBlocker quiet(cbLanguages);
  cbLanguages->clear();
  imgSelectedLng->setPixmap(Flag(selection_.NextFlag()));
  // The list is sorted by name, as the combo box of the layout is.
  std::vector<std::pair<std::string, std::string>> byName = extToName_;
  std::stable_sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  int next = -1;
  for (const auto& [ext, name] : byName) {
    cbLanguages->addItem(QString::fromStdString(name), QString::fromStdString(ext));
    if (SameExtension(ext, selection_.NextLanguage())) next = cbLanguages->count() - 1;
  }
  // The list shows no choice when none is stored (the combo box would select its first
  // entry by itself): picking any entry then is a change, which OK stores.
  cbLanguages->setCurrentIndex(next);
  imgActiveLng->setPixmap(Flag(selection_.ActiveFlag()));
  QString activeName = QCoreApplication::translate("TfmLanguageSelection", "No Active Language");
  if (!selection_.ActiveLanguage().empty()) {
    for (const auto& [ext, name] : extToName_) {
      if (SameExtension(ext, selection_.ActiveLanguage())) activeName = QString::fromStdString(name);
    }
  }
  lblActiveLng->setText(activeName);
}

void TfmLanguageSelection::cbLanguagesChange() {
  chosenLanguage_ = cbLanguages->currentData().toString().toStdString();
  imgSelectedLng->setPixmap(Flag(LanguageSelection::FlagIndex(chosenLanguage_)));
}

void TfmLanguageSelection::ConfirmOk() {
  if (chosenLanguage_ == selection_.NextLanguage()) {
    accept();
    return;
  }
  if (ShowMsgBox(this, QCoreApplication::translate("TfmLanguageSelection", "Are sure you want to change language?"), kMsgConfirmation,
                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  switch (selection_.SetLanguage(chosenLanguage_)) {
    case slStored:
      closeRequested_ =
          ShowMsgBox(this,
                     QCoreApplication::translate("TfmLanguageSelection", "Language changed.\r\nThe program needs restart for chages to take effect.\r\n"
                        "Close program now?"),
                     kMsgConfirmation, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
      accept();
      break;
    case slModuleMissing:
      ShowMsgBox(this,
                 QCoreApplication::translate("TfmLanguageSelection", "%1\r\nnot found")
                     .arg(QString::fromStdString(PathWithExtension(selection_.ProgramPath(), ".")) +
                          Upper(chosenLanguage_)),
                 kMsgError);
      break;
    case slKeyNotOpened:
      ShowMsgBox(this, QCoreApplication::translate("TfmLanguageSelection", "Unable to open created Reg Key"), kMsgError);
      break;
    case slNothingToChange:
      accept();
      break;
    default:
      ShowMsgBox(this, QCoreApplication::translate("TfmLanguageSelection", "ERROR"), kMsgError);
      break;
  }
}

}  // namespace ecr
