#pragma once

// The selling client's icon in the desktop's tray: one of two images (running, stopped),
// the application title as hint, the popup menu, and a signal for the double click.
// Where the desktop has no notification area a small window stands in for the icon
// (DesktopTrayIcon): its menu button shows the popup menu, its double click is the icon's.
// Under the offscreen platform nothing shows and the program runs on without an icon.
//
// Threads: main thread only.

#include <QIcon>
#include <QObject>
#include <QString>

#include "foundation/widgets/desktop_tray_icon.h"

class QMenu;

namespace ecr {

inline constexpr int kTrayImageRunning = 0;
inline constexpr int kTrayImageStopped = 1;

// The tray image `entry` (drawn, not loaded); any other entry gives a null icon.
QIcon ClientTrayImage(int entry);

class ClientTrayIcon : public QObject {
    Q_OBJECT

public:
    explicit ClientTrayIcon(QObject* parent = nullptr);
    ~ClientTrayIcon() override;

    void SetImage(int entry);
    int Image() const { return image_; }
    void SetHint(const QString& hint);
    const QString& Hint() const { return desktop_.Hint(); }
    void SetPopupMenu(QMenu* menu);
    void Show();
    void Hide();
    bool Shown() const { return desktop_.Shown(); }
    DesktopTrayIcon& Desktop() { return desktop_; }

signals:
    void DoubleClicked();

private:
    DesktopTrayIcon desktop_;
    int image_ = kTrayImageStopped;
};

}  // namespace ecr
