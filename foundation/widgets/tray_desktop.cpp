#include "foundation/widgets/tray_desktop.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

#include "foundation/widgets/session_bus_tray.h"

namespace ecr {
namespace {

const TrayDesktop*& InstalledDesktop() {
  static const TrayDesktop* installed = nullptr;
  return installed;
}

template <typename Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

bool SelectionHasOwner(xcb_connection_t* connection, const QByteArray& selection) {
  // Only an existing atom: a selection nobody ever named has no owner.
  const xcb_intern_atom_cookie_t atomCookie =
      xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(selection.size()), selection.constData());
  const XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(connection, atomCookie, nullptr), &std::free);
  if (!atom || atom->atom == XCB_ATOM_NONE) return false;
  const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(connection, atom->atom);
  const XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(connection, ownerCookie, nullptr),
                                                        &std::free);
  return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace

SystemTrayDesktop::SystemTrayDesktop() : bus_(new SessionBusTray(QCoreApplication::instance())) {}

SystemTrayDesktop::~SystemTrayDesktop() { delete bus_.data(); }

bool SystemTrayDesktop::Offscreen() const { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

bool SystemTrayDesktop::StatusNotifierHost() const { return bus_ && bus_->StatusNotifierHost(); }

bool SystemTrayDesktop::ShowsStatusNotifierItem() const { return bus_ && bus_->ShowsStatusNotifierItem(); }

bool SystemTrayDesktop::Answered() const { return !bus_ || bus_->Answered(); }

bool SystemTrayDesktop::Asking() const { return bus_ && bus_->Asking(); }

void SystemTrayDesktop::Ask(std::function<void()> answered) const {
  if (bus_) bus_->Ask(std::move(answered));
}

bool SystemTrayDesktop::EmbeddedTray() const {
  const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return false;
  const int screen = ScreenOfDisplayName(qEnvironmentVariable("DISPLAY"));
  return SelectionHasOwner(x11->connection(), "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen));
}

bool IsStatusNotifierItemName(const QString& busName, qint64 pid) {
  const QString tail = QLatin1String("StatusNotifierItem-") + QString::number(pid) + QLatin1Char('-');
  for (const QLatin1String domain : {QLatin1String("org.kde."), QLatin1String("org.freedesktop.")}) {
    const QString prefix = domain + tail;
    if (busName.size() > prefix.size() && busName.startsWith(prefix)) return true;
  }
  return false;
}

int ScreenOfDisplayName(const QString& displayName) {
  const QString afterColon = displayName.mid(displayName.lastIndexOf(QLatin1Char(':')) + 1);
  const qsizetype dot = afterColon.indexOf(QLatin1Char('.'));
  if (dot < 0) return 0;
  bool number = false;
  const int screen = afterColon.mid(dot + 1).toInt(&number);
  return number && screen >= 0 ? screen : 0;
}

const TrayDesktop& CurrentTrayDesktop() {
  static const SystemTrayDesktop system;
  const TrayDesktop* installed = InstalledDesktop();
  return installed != nullptr ? *installed : system;
}

ScopedTrayDesktop::ScopedTrayDesktop(const TrayDesktop& desktop) : previous_(InstalledDesktop()) {
  InstalledDesktop() = &desktop;
}

ScopedTrayDesktop::~ScopedTrayDesktop() { InstalledDesktop() = previous_; }

}  // namespace ecr
