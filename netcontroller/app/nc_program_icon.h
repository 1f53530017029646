#pragma once
// The network-controller server's own picture: the window frames, the tray icon and the
// about box show it. Drawn here, so the program needs no image files beside it.
//
// Threads: main thread only (needs the application object).

#include <QIcon>

namespace ecr::nc {

QIcon ProgramIcon();

}  // namespace ecr::nc
