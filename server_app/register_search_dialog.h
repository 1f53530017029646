#pragma once
// TfmEcrSearch, the register search dialog: it checks the range and speeds typed in,
// starts a TSearchEngine on the server's port, shows the engine's log lines (the last 101)
// and, every 500 ms, the registers found lately; a register drops out of the list 10
// refreshes after it last answered. Stop, close and destruction end a running search,
// waiting at most for the probe under way. Main thread only.

#include <QDialog>
#include <QTimer>

#include <memory>
#include <string>

#include "line/basic_communication_object.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace ecr {

class TSearchEngine;

class TfmEcrSearch : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 500;
  static constexpr int kTimeToLive = 10;
  static constexpr int kMemoMaxLines = 101;

  explicit TfmEcrSearch(QWidget* parent = nullptr);
  ~TfmEcrSearch() override;  // FormDestroy: ends a running search

  // Set by the main window before showing: the server's serial port.
  std::string PortName;
  // The line class the engine instantiates (the serial line unless a test says otherwise).
  TCommunicationObjectClass LineClass;

  void StartSearch();
  void StopSearch();
  void RefreshEcrList();
  void EnableSearchControls(bool value);
  TSearchEngine* Engine() const { return engine_.get(); }

  QTreeWidget* lvECRs = nullptr;
  QPlainTextEdit* mActions = nullptr;
  QLabel* lblSpeeds = nullptr;
  QListWidget* cbSpeeds = nullptr;
  QLabel* lblFrom = nullptr;
  QLabel* lblTo = nullptr;
  QLineEdit* eFrom = nullptr;
  QLineEdit* eTo = nullptr;
  QPushButton* btnStartTest = nullptr;
  QPushButton* btnStopTest = nullptr;
  QPushButton* btnClose = nullptr;
  QTimer Timer;

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void btnStartTestClick();
  // The handler of the engine's log notification.
  void TakeSearchLog();

  std::unique_ptr<TSearchEngine> engine_;
};

}  // namespace ecr
