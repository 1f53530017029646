#pragma once
// TfmPorts, the dialog that sets the serial port, the line speed and the TCP port of the
// register server. The port list is the computed SERIALCOMM list of the registry, sorted.
// On OK a stored port that is no longer listed becomes an empty port name; a TCP port
// text that is no number keeps the old port; a number outside 0..65535 is refused with an
// error box and the dialog stays open with the focus on the TCP port. Port names longer
// than the record's 6 characters are not offered, since they could not be stored.
// Main thread only.

#include <QDialog>

#include <cstdint>
#include <string>

#include "platform/registry.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace ecr {

class TfmPorts : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::size_t kPortNameMax = 6;
  static constexpr std::uint16_t kDefaultSpeed = 4800;

  explicit TfmPorts(Registry registry = Registry(), QWidget* parent = nullptr);

  // Fills the controls, runs modally, and on OK writes the three values back. Returns
  // the modal result.
  int EditPorts(std::uint16_t& speed, std::uint16_t& tcpPort, std::string& portName);

  QComboBox* cbSpeed = nullptr;
  QComboBox* cbComPort = nullptr;
  QLineEdit* eIPPort = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtnCancel = nullptr;

 private:
  void Confirm();

  const Registry registry_;
};

// How the dialog reads a TCP port text: a number in 0..65535, no number at all (the old
// port stays), or a number out of range (refused).
enum class TcpPortText { Valid, NotANumber, OutOfRange };
TcpPortText ParseTcpPort(const std::string& text, std::uint16_t& port);

}  // namespace ecr
