#pragma once
// Edits one positive whole number of the caller (the next notification id). Only a
// number of at least 1 is accepted; anything else shows "Bad number!" and stays open.
//
// Thread safety: main thread only.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

class QLineEdit;
class QPushButton;

namespace ecr {

// The entry read as a whole number: optional sign and decimal digits, blanks around them
// allowed, within 32 bits; empty or anything else counts as 0.
std::int32_t OffsetEntryValue(const QString& entry);

class TfmOffset : public QDialog {
  Q_OBJECT

 public:
  explicit TfmOffset(QWidget* parent = nullptr);

  // Shows `value` and runs modally; after mrOk `value` holds the accepted number, after
  // mrCancel it is unchanged. `value` is only referred to while the dialog runs.
  int EditOffset(std::int32_t& value);
  int ModalResult() const { return result(); }

  QLineEdit* eOffset = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtncancel = nullptr;

 public slots:
  void reject() override;

 private:
  void Confirm();

  std::int32_t* value_ = nullptr;
};

}  // namespace ecr
