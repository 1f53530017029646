#pragma once
// TfmLanguageSelection, the dialog where the user picks the user-interface language for
// the next start. OK with another language asks for confirmation, stores the choice
// (LanguageSelection::SetLanguage) and offers to close the program so that it takes
// effect; errors keep the dialog open. Main thread only.

#include <QDialog>
#include <QPixmap>

#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace ecr {

class LanguageSelection;

class TfmLanguageSelection : public QDialog {
  Q_OBJECT

 public:
  // selection outlives the dialog.
  explicit TfmLanguageSelection(LanguageSelection& selection, QWidget* parent = nullptr);

  // ShowLanguageDialog: ChosenLanguage := NextLanguage, then the dialog runs modal.
  // Returns the modal result.
  int ShowLanguageDialog();
  // The user answered Yes to closing the program after a stored change.
  bool CloseRequested() const { return closeRequested_; }
  const std::string& ChosenLanguage() const { return chosenLanguage_; }

  QGroupBox* gbActiveLng = nullptr;
  QLabel* imgActiveLng = nullptr;
  QLabel* lblActiveLng = nullptr;
  QGroupBox* gbSelectedLng = nullptr;
  QLabel* imgSelectedLng = nullptr;
  QComboBox* cbLanguages = nullptr;
  QPushButton* bbtnOK = nullptr;
  QPushButton* bbtnCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void cbLanguagesChange();
  // FormCloseQuery of a close with OK.
  void ConfirmOk();
  QPixmap Flag(int cell) const;

  LanguageSelection& selection_;
  QPixmap pcFlags_;
  // NameToExt / ExtToName, made when the dialog is created.
  std::vector<std::pair<std::string, std::string>> extToName_;
  std::string chosenLanguage_;
  bool closeRequested_ = false;
};

}  // namespace ecr
