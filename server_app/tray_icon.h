#pragma once
// The register server's icon in the desktop's tray. It shows one of the two tray images
// and a hint, and reports clicks through signals; the owner decides what a click does.
// Where the desktop has no notification area a small window stands in for the icon
// (DesktopTrayIcon): its menu button is a right click, its double click a double click.
// Under the offscreen platform nothing shows and the program runs on without an icon.
// Main thread only.

#include <QObject>
#include <QPoint>
#include <QString>

#include "foundation/widgets/desktop_tray_icon.h"

namespace ecr {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(QObject* parent = nullptr);
  ~TrayIcon() override;

  // kTrayImageRunning or kTrayImageStopped (server_app/menu_glyphs.h).
  void SetImage(int entry);
  int Image() const { return image_; }

  void SetHint(const QString& hint);
  const QString& Hint() const { return desktop_.Hint(); }

  void Show();
  void Hide();
  bool Shown() const { return desktop_.Shown(); }

  // Whether an icon is really on the desktop (false where there is no tray).
  bool OnDesktop() const { return desktop_.OnDesktop(); }
  DesktopTrayIcon& Desktop() { return desktop_; }

 signals:
  // A single click with `button`, at `screenPosition` (the pointer's position).
  void Clicked(Qt::MouseButton button, QPoint screenPosition);
  void DoubleClicked();

 private:
  DesktopTrayIcon desktop_;
  int image_ = 1;
};

}  // namespace ecr
