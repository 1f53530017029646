#pragma once
// TfmSelvaroStatus, the register server's status window: once a second while it is shown
// it lists the registers in use with their serial numbers, how each was last heard and
// which client holds which SET, and colours the indicator by whether polling runs. The
// main window writes the labels of its top panel (SetTexts). Every refresh also counts
// down each listed register's KeepAlive and sets its Mode to Off once it is spent, so a
// register not heard for more than 15 refreshes shows "Off".
//
// Main thread only. The engine's tables are read and the counters written under the
// engine's lock (RequestEngine::WithContext), since the polling thread changes them too.

#include <QTimer>
#include <QWidget>

#include <string>

#include "server_app/server_windows.h"

class QLabel;
class QTabWidget;
class QTableWidget;

namespace ecr {

class RequestEngine;
struct TEcr;

// The "SET:ID" text of a register: "s:id;" for each SET 1..14 with an owner, in SET
// order, cut at 80 characters.
std::string SetOwnersText(const TEcr& ecr);

// The indicator: a filled circle.
class StatusIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit StatusIndicator(QWidget* parent = nullptr);
  void SetColour(const QColor& colour);
  QColor Colour() const { return colour_; }
  QSize sizeHint() const override { return {20, 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor colour_;
};

class TfmSelvaroStatus : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 1000;
  static constexpr std::size_t kSetOwnersMax = 80;

  explicit TfmSelvaroStatus(QWidget* parent = nullptr);

  // The engine whose tables the window shows; null shows nothing in use. It outlives the
  // window or is detached first.
  void SetEngine(RequestEngine* engine) { engine_ = engine; }
  // The labels of the top panel and the grid's row count, as the service gives them.
  void SetTexts(const StatusTexts& texts);

  // Refreshes the grid and the indicator.
  void UpdateMonitor();

  QTabWidget* pgcStatusScreen = nullptr;
  QWidget* tabStatus = nullptr;
  QWidget* tabAbout = nullptr;
  StatusIndicator* shIndicator = nullptr;
  QLabel* lblSettings = nullptr;
  QLabel* lblLanguage = nullptr;
  QLabel* lblInfo = nullptr;
  QTableWidget* sgECRs = nullptr;
  QTimer tmrDisplay;
  QLabel* ProdName = nullptr;
  QLabel* Img = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void SetCell(int row, int column, const QString& text);

  RequestEngine* engine_ = nullptr;
};

}  // namespace ecr
