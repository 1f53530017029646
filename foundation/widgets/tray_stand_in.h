#pragma once
// The window that stands in for a tray icon on a desktop without a notification area: a
// small window of the program's own with the icon's image and hint and a "&Menu" button.
// It reports what the user does on it as the tray reports it on the icon: the button and
// a right click (or the menu key) as a context request at a screen position, a double
// click as a double click. A close request minimises it: it is the way into the program,
// so closing it neither ends the program nor loses the way back.
//
// Threads: main thread only.

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

class QLabel;
class QPushButton;

namespace ecr {

class TrayStandIn : public QWidget {
  Q_OBJECT

 public:
  explicit TrayStandIn(QWidget* parent = nullptr);
  ~TrayStandIn() override;

  void SetImage(const QIcon& image);
  // The hint is the window's caption and its text.
  void SetHint(const QString& hint);
  QString Hint() const;

  QPushButton* MenuButton() const { return menuButton_; }

 signals:
  void Activated(QSystemTrayIcon::ActivationReason reason, QPoint screenPosition);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QLabel* image_ = nullptr;
  QLabel* hint_ = nullptr;
  QPushButton* menuButton_ = nullptr;
};

}  // namespace ecr
