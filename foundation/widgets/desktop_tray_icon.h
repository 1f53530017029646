#pragma once
// A program's icon in the desktop's notification area, kept reachable on every desktop. It
// holds the image, the hint and the popup menu, shows and hides the icon, and reports what
// the user does on it with the tray's own activation reasons (Activated).
//
// - Where the desktop has a tray, a QSystemTrayIcon shows the icon; the popup menu set here
//   is the icon's context menu, which the tray itself shows on a right click.
// - The icon is on the desktop only when a tray of the kind the toolkit made it for is
//   there (TrayDesktop): a StatusNotifierItem icon needs a StatusNotifierItem host, an
//   embedded icon the X11 system tray.
// - Where it is not (and the platform is not offscreen), a program that asks for it gets a
//   TrayStandIn window in the icon's place, with the same image and hint: its menu button
//   shows the same popup menu and is reported as a context request, its double click as a
//   double click. A program that asks for nothing in its place only learns that there is
//   no notification area (NoNotificationArea).
// - Under the offscreen platform nothing shows: there is no desktop.
// - While the icon is shown the desktop is asked every kTrayCheckMs which trays it has,
//   without waiting for its answer (TrayDesktop::Ask): the icon follows the answer when it
//   comes, and the main thread serves the program's sockets meanwhile. When a tray appears
//   a new QSystemTrayIcon is made and shown (the toolkit picks the kind of tray when it
//   makes the icon) and, once the icon is on the desktop, the stand-in goes; when the tray
//   goes away the stand-in comes back. TrayChanged reports both. Until the desktop's first
//   answer no stand-in shows.
//
// The QSystemTrayIcon exists even where the desktop has no tray (it is shown only where
// there is one), so that its activations can be raised in tests.
//
// Threads: main thread only.

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class QMenu;

namespace ecr {

class TrayStandIn;

class DesktopTrayIcon : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTrayCheckMs = 3000;

  // What stands in the icon's place where the desktop has no notification area.
  enum class WithoutTray { Nothing, StandInWindow };

  explicit DesktopTrayIcon(WithoutTray withoutTray, QObject* parent = nullptr);
  ~DesktopTrayIcon() override;

  void SetImage(const QIcon& image);
  void SetHint(const QString& hint);
  const QString& Hint() const { return hint_; }
  // Not owned; null for none.
  void SetPopupMenu(QMenu* menu);

  void Show();
  void Hide();
  bool Shown() const { return shown_; }

  // Whether the icon is really in a notification area (as of the last check).
  bool OnDesktop() const { return onDesktop_; }
  // A desktop without a notification area that the icon reaches (the offscreen platform is
  // no desktop at all). Before the icon is shown: without any tray.
  bool NoNotificationArea() const;
  // Whether the icon's tray reports single activations only, never a double click (the
  // icon is a StatusNotifierItem), as of the desktop's last answer.
  bool SingleActivationOnly() const;

  // The toolkit's icon, replaced when a tray appears.
  QSystemTrayIcon& SystemIcon() { return *icon_; }
  // The window in the icon's place; null while there is none.
  TrayStandIn* StandIn() const { return standIn_.get(); }

  // Asks the desktop which trays it has and follows what it knows now, and the answer when
  // it comes; the check timer calls it.
  void CheckTray();

 signals:
  // What the user did on the icon or its stand-in, at that screen position.
  void Activated(QSystemTrayIcon::ActivationReason reason, QPoint screenPosition);
  // The icon came onto the desktop (true) or left it (false) because a tray appeared or
  // went away.
  void TrayChanged(bool onDesktop);

 private:
  // Asks the desktop again; FollowDesktop runs when the answer comes.
  void AskDesktop();
  // Follows what the desktop knows now.
  void FollowDesktop();
  // Reads which trays the desktop has; true when that changed.
  bool ReadTrays();
  void MakeSystemIcon();
  // Shows the icon or the stand-in as the desktop and Shown() ask; true when the icon came
  // onto the desktop or left it.
  bool Follow();
  void StandInActivated(QSystemTrayIcon::ActivationReason reason, QPoint screenPosition);

  const WithoutTray withoutTray_;
  QIcon image_;
  QString hint_;
  QPointer<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::unique_ptr<TrayStandIn> standIn_;
  QTimer checkTimer_;
  bool shown_ = false;
  bool offscreen_ = false;
  bool statusNotifierHost_ = false;
  bool embeddedTray_ = false;
  bool onDesktop_ = false;
  int standInSignals_ = 0;  // how deep we are inside the stand-in's own signals
};

}  // namespace ecr
