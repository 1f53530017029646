#pragma once
// Tray icons in widget tests, which run under the offscreen platform: a desktop that can
// say it is a real one with or without a notification area, whose tray is embedded (clicks
// and double clicks) or a StatusNotifierItem host (single activations only), and the
// user's double click on a window.

#include <QApplication>
#include <QMouseEvent>
#include <QPointF>
#include <QWidget>

#include "foundation/widgets/tray_desktop.h"

namespace ecr::test {

// Installed for its lifetime; declare it before the windows and icons that ask it.
class FakeTrayDesktop final : public TrayDesktop {
 public:
  struct Kind {
    bool offscreen = false;
    bool statusNotifierHost = false;
    bool embeddedTray = false;
    // Whether the toolkit made the program's icon a StatusNotifierItem.
    bool iconIsItem = false;
  };

  explicit FakeTrayDesktop(Kind initial) : kind(initial), scope_(*this) {}

  bool Offscreen() const override { return kind.offscreen; }
  bool StatusNotifierHost() const override { return kind.statusNotifierHost; }
  bool EmbeddedTray() const override { return kind.embeddedTray; }
  bool ShowsStatusNotifierItem() const override { return kind.iconIsItem; }

  // What the desktop says from now on.
  Kind kind;

 private:
  ScopedTrayDesktop scope_;
};

// The desktops the tests play.
inline constexpr FakeTrayDesktop::Kind kNoDesktop{.offscreen = true};
inline constexpr FakeTrayDesktop::Kind kDesktopWithoutTray{};
// Clicks and double clicks.
inline constexpr FakeTrayDesktop::Kind kEmbeddedTray{.embeddedTray = true};
// Single activations only.
inline constexpr FakeTrayDesktop::Kind kStatusNotifierTray{.statusNotifierHost = true, .iconIsItem = true};
// A StatusNotifierItem host that the icon cannot reach: the toolkit made it for the embedded
// tray, which is not there.
inline constexpr FakeTrayDesktop::Kind kStatusNotifierHostOutOfReach{.statusNotifierHost = true};

// A left double click inside `window`, as the window system delivers it.
inline void DoubleClickOn(QWidget& window) {
  const QPointF inside(5, 5);
  QMouseEvent event(QEvent::MouseButtonDblClick, inside, window.mapToGlobal(inside), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(&window, &event);
}

}  // namespace ecr::test
