#include "foundation/widgets/toolkit_platform.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/log_file.h"

namespace ecr {
namespace {

bool Named(const char* value) { return value != nullptr && *value != '\0'; }

bool PlatformNamedByUser(int argc, char** argv) {
  if (Named(std::getenv("QT_QPA_PLATFORM"))) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "-platform" || argument == "--platform" || argument.starts_with("-platform=") ||
        argument.starts_with("--platform="))
      return true;
  }
  return false;
}

}  // namespace

bool X11DisplayAnswers(const char* display) {
  if (!Named(display)) return false;
  xcb_connection_t* connection = xcb_connect(display, nullptr);
  const bool connected = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return connected;
}

bool WaylandDisplayAnswers(const char* waylandDisplay, const char* runtimeFolder) {
  if (!Named(waylandDisplay)) return false;
  std::string path = waylandDisplay;
  if (path.front() != '/') {
    if (!Named(runtimeFolder)) return false;
    path = std::string(runtimeFolder) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

bool SteerClearOfMissingDisplay(int argc, char** argv) {
  if (PlatformNamedByUser(argc, argv) || X11DisplayAnswers(std::getenv("DISPLAY"))) return false;
  // The toolkit goes down the list and takes the first platform that starts.
  const bool wayland = WaylandDisplayAnswers(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_RUNTIME_DIR"));
  setenv("QT_QPA_PLATFORM", wayland ? "wayland;offscreen" : "offscreen", 1);
  return true;
}

std::unique_ptr<QApplication> MakeProgramApplication(int& argc, char** argv) {
  const bool steered = SteerClearOfMissingDisplay(argc, argv);
  auto application = std::make_unique<QApplication>(argc, argv);
  if (steered && QGuiApplication::platformName() == QLatin1String("offscreen")) LogWrite(kNoDisplayLogLine);
  QApplication::setQuitOnLastWindowClosed(false);
  return application;
}

}  // namespace ecr
