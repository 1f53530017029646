#pragma once
// What the desktop offers a program's tray icon. Every tray icon asks through one
// replaceable seam, so that tests under the offscreen platform can play a desktop with a
// tray of either kind, or one without.
//
// Two kinds of tray exist on Linux desktops:
// - a StatusNotifierItem host, reached over D-Bus (KDE Plasma, GNOME with the AppIndicator
//   extension, every Wayland session): it reports a click on the icon as one activation and
//   never reports a double click;
// - the embedded tray of the X11 system tray protocol: it reports clicks and double clicks.
// The toolkit picks the kind when it makes an icon, so an icon reaches a tray only when it
// was made for that kind (ShowsStatusNotifierItem tells which kind the shown icon is).
//
// The desktop is asked without waiting (Ask): what takes a while to answer (the session
// bus) comes back through the event loop, so that the main thread, which also serves the
// program's sockets, never waits for a panel.
//
// Thread safety: main thread only.

#include <QPointer>
#include <QString>

#include <functional>

namespace ecr {

class TrayDesktop {
 public:
  virtual ~TrayDesktop() = default;

  // The offscreen platform (tests, servers without a display): there is no desktop at
  // all, so a program shows no icon and nothing in its place.
  virtual bool Offscreen() const = 0;
  // A StatusNotifierWatcher with a registered host is on the session bus (as of the last
  // answer).
  virtual bool StatusNotifierHost() const = 0;
  // The X11 system tray selection of the screen has an owner.
  virtual bool EmbeddedTray() const = 0;
  // This process shows an icon as a StatusNotifierItem: it owns a bus name
  // "org.kde.StatusNotifierItem-<pid>-<n>" (or its "org.freedesktop." twin), which such an
  // icon takes when it is shown and an embedded icon never does (as of the last answer).
  virtual bool ShowsStatusNotifierItem() const = 0;
  // Whether the desktop has answered since the program started; a desktop that answers at
  // once always has.
  virtual bool Answered() const { return true; }
  // Asks the desktop again and returns at once. Answers that come at once are in place when
  // it returns; when some take a while, `answered` runs on this thread once all are in. A
  // question still open is not asked twice: `answered` then comes with its answers.
  virtual void Ask(std::function<void()> answered) const { (void)answered; }
};

class SessionBusTray;

// The desktop the program runs on: the platform's name, the session bus and the X11
// display. A desktop without a session bus or an X11 display has no tray of that kind.
// The StatusNotifierItem answers come from the session bus (SessionBusTray); the X11 tray
// is asked over the toolkit's own connection to the display at every call.
class SystemTrayDesktop final : public TrayDesktop {
 public:
  SystemTrayDesktop();
  ~SystemTrayDesktop() override;  // drops a question still open
  SystemTrayDesktop(const SystemTrayDesktop&) = delete;
  SystemTrayDesktop& operator=(const SystemTrayDesktop&) = delete;

  bool Offscreen() const override;
  bool StatusNotifierHost() const override;
  bool EmbeddedTray() const override;
  bool ShowsStatusNotifierItem() const override;
  bool Answered() const override;
  void Ask(std::function<void()> answered) const override;
  // Whether a question to the session bus is open.
  bool Asking() const;

 private:
  // Lives in the application object, so that no reply reaches it once the application
  // (and its bus connection) is gone; null then.
  QPointer<SessionBusTray> bus_;
};

// Whether a bus name is the StatusNotifierItem name of process `pid`.
bool IsStatusNotifierItemName(const QString& busName, qint64 pid);
// The X11 screen number of a display name (":0.1" is screen 1; no number is screen 0).
int ScreenOfDisplayName(const QString& displayName);

// The desktop in use: the installed one, else the system's.
const TrayDesktop& CurrentTrayDesktop();

// Installs `desktop` (not owned) for its lifetime and puts the previous one back afterwards.
class ScopedTrayDesktop {
 public:
  explicit ScopedTrayDesktop(const TrayDesktop& desktop);
  ~ScopedTrayDesktop();
  ScopedTrayDesktop(const ScopedTrayDesktop&) = delete;
  ScopedTrayDesktop& operator=(const ScopedTrayDesktop&) = delete;

 private:
  const TrayDesktop* previous_;
};

}  // namespace ecr
