#pragma once
// TfmTestLine, the line test dialog: it starts a TTestEngine on a fresh line object for
// the server's port at the server's speed, shows its five counters every 300 ms, and
// stops it by "Stop test" or when the dialog closes (waiting for the take under way).
// Main thread only.

#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "line/basic_communication_object.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ecr {

class TTestEngine;

class TfmTestLine : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 300;

  explicit TfmTestLine(QWidget* parent = nullptr);
  ~TfmTestLine() override;

  // Set by the main window before showing: the server's port and speed.
  std::string PortName;
  std::int32_t Speed = 4800;
  // The line class made at each start (the serial line unless a test says otherwise).
  TCommunicationObjectClass LineClass;

  void StartTest();
  void StopTest();
  void ResetTestCounters();
  void EnableTestButtons(bool value);
  // TimerTimer: the counters into the panels.
  void ShowCounters();
  TTestEngine* Engine() const { return engine_.get(); }
  TBasicCommunicationObject* Com() const { return com_.get(); }

  QLineEdit* eECR = nullptr;
  QLabel* lblInfo = nullptr;
  QLabel* pnlSndBlocks = nullptr;
  QLabel* pnlRcvBlocks = nullptr;
  QLabel* pnlCRC_Errors = nullptr;
  QLabel* pnlByteTimeOut_Errors = nullptr;
  QLabel* pnlTimeOut_Errors = nullptr;
  QPushButton* btnStartTest = nullptr;
  QPushButton* btnStopTest = nullptr;
  QPushButton* btnClose = nullptr;
  QTimer Timer;

 public slots:
  void done(int result) override;  // FormClose

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void btnStartTestClick();

  std::unique_ptr<TTestEngine> engine_;
  std::unique_ptr<TBasicCommunicationObject> com_;
};

}  // namespace ecr
