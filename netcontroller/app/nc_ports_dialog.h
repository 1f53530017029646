#pragma once
// TfmPorts, the dialog of the register line's speed behind the controller (4800 or 9600)
// and of the TCP port. A stored speed other than those two shows as 4800 and becomes 4800
// in the caller's value at once, also when the dialog is then cancelled. On OK the port
// is the number typed, of which only the low 16 bits are kept (70000 gives 4464); a text
// that is no number leaves the port as it was.
//
// Threads: main thread only.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace ecr::nc {

// A whole number as typed: blanks around it, an optional sign, decimal digits, within 32
// bits; nullopt for anything else.
std::optional<std::int32_t> PortEntryNumber(const QString& text);

class TfmPorts : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::uint16_t kSpeed4800 = 4800;
  static constexpr std::uint16_t kSpeed9600 = 9600;

  explicit TfmPorts(QWidget* parent = nullptr);

  // Caption := the application title; fills the controls from Speed and Port and runs
  // modally. After mrOk both hold the dialog's values; after mrCancel only the speed
  // correction above has happened. The references are used only while the dialog runs.
  int Execute(std::uint16_t& Speed, std::uint16_t& Port);

  QComboBox* cbSpeed = nullptr;
  QLineEdit* eIPPort = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtnCancel = nullptr;

 private:
  void Confirm();

  std::uint16_t* speed_ = nullptr;
  std::uint16_t* port_ = nullptr;
};

}  // namespace ecr::nc
