#pragma once
// The toolkit's platform of a window program, chosen before the application object is
// made. The toolkit ends the process when the platform it picks cannot reach a display, and
// a start from cron, ssh or a service has none. Where the user named no platform
// (QT_QPA_PLATFORM, -platform) and no X server answers at $DISPLAY, the program runs on a
// Wayland compositor that answers at $WAYLAND_DISPLAY when there is one (and the toolkit
// can use it), else on the offscreen platform, as it does without a desktop: no icon,
// nothing in its place.
//
// Main thread, before any other toolkit object.

#include <QApplication>

#include <memory>
#include <string_view>

namespace ecr {

inline constexpr std::string_view kNoDisplayLogLine = "No display to reach: running offscreen, without an icon.";

// The application object of a window program, on the platform chosen as above; when the
// choice ended on the offscreen platform the log says so (kNoDisplayLogLine). The program
// lives in the tray: only its main window's close ends it, not the close of its last window.
std::unique_ptr<QApplication> MakeProgramApplication(int& argc, char** argv);

// Chooses the platform as above (through QT_QPA_PLATFORM); true when it chose one.
bool SteerClearOfMissingDisplay(int argc, char** argv);

// Whether an X server takes a connection at `display` ($DISPLAY's form), and a Wayland
// compositor one at `waylandDisplay` (a socket path, or a name in `runtimeFolder`).
bool X11DisplayAnswers(const char* display);
bool WaylandDisplayAnswers(const char* waylandDisplay, const char* runtimeFolder);

}  // namespace ecr
