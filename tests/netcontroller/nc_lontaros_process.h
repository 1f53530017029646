#pragma once
// The network-controller server started as a real process: a copy of the program in a
// temporary folder of its own (its own settings file, log and lock), a registry of its own
// that maps COM1 onto a controller emulator, the program run offscreen, and a client
// application on a real TCP connection. Every wait is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "foundation/settings_store.h"
#include "netcontroller/server/nc_server_settings.h"
#include "platform/program_path.h"
#include "tests/support/child_process.h"
#include "tests/support/frame_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace ecr::nc::test {

using support::WaitUntil;

// The program of this build: named by the build, else found beside the tests' folder.
inline std::filesystem::path LontarosProgram() {
#ifdef ECR_LONTAROS_PATH
  return ECR_LONTAROS_PATH;
#else
  const std::filesystem::path tests = std::filesystem::path(ProgramPath()).parent_path();
  return tests.parent_path().parent_path() / "netcontroller" / "app" / "lontaros";
#endif
}

// A TCP port that nothing listened on a moment ago.
inline std::uint16_t FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

class LontarosFolder {
 public:
  LontarosFolder() {
    std::filesystem::copy_file(LontarosProgram(), Program());
    // An empty device tree: the program sees only the ports a test maps.
    std::filesystem::create_directories(Registry() / "HKEY_LOCAL_MACHINE" / "Enum");
  }
  LontarosFolder(const LontarosFolder&) = delete;
  LontarosFolder& operator=(const LontarosFolder&) = delete;

  std::filesystem::path Dir() const { return folder_.Path(); }
  std::filesystem::path Program() const { return Dir() / "lontaros"; }
  std::filesystem::path Registry() const { return Dir() / "registry"; }
  std::filesystem::path LogPath() const { return Dir() / "lontaros.log"; }
  std::filesystem::path SettingsPath() const { return Dir() / "lontaros.STG"; }

  // A start from cron finds its registry under its home: `registry` names that one.
  void MapPort(const std::string& portName, const std::string& devicePath) const {
    MapPortIn(Registry(), portName, devicePath);
  }
  static void MapPortIn(const std::filesystem::path& registry, const std::string& portName,
                        const std::string& devicePath) {
    const auto key = registry / "HKEY_LOCAL_MACHINE" / "Enum" / "Test" / portName;
    std::filesystem::create_directories(key);
    std::ofstream(key / "PORTNAME", std::ios::binary) << portName;
    std::ofstream(key / "DeviceNode", std::ios::binary) << devicePath;
  }
  // Written with the settings store itself, which is let go again before the program runs.
  void WriteSettings(NcServerSettings settings) const {
    TCodeStru store(SettingsPath().string(), settings);
    store.Save();
  }
  std::string Log() const { return ReadWholeFile(LogPath()); }
  bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeout);
  }

 private:
  TempDir folder_;
};

// One run of the program in its folder, offscreen, in the C locale, with the folder's
// registry and the folder as its runtime folder, and the `extra` variables; killed at
// destruction if still running. Wait gives the wait status.
class LontarosProcess : public ChildProcess {
 public:
  LontarosProcess(const LontarosFolder& folder, const std::vector<std::string>& arguments,
                  const std::string& outputName = "output.txt", const std::vector<std::string>& extra = {})
      : ChildProcess(folder.Program().string(), arguments,
                     {.workingFolder = folder.Dir(),
                      .environment = Environment(folder, extra),
                      .outputFile = folder.Dir() / outputName}) {}

 private:
  static std::vector<std::string> Environment(const LontarosFolder& folder, const std::vector<std::string>& extra) {
    std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen", "ECR_REGISTRY=" + folder.Registry().string(),
                                         "XDG_RUNTIME_DIR=" + folder.Dir().string(), "LC_ALL", "LANG=C"};
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
  }
};

// The variable that makes the program's keep-awake binding fail as on a system without
// the call: both of its error boxes show at the start.
inline const std::string kNoKeepAwakeLibrary = "ECR_KEEP_AWAKE_LIBRARY=libno-such-keep-awake-library.so.0";

// A client application on one TCP connection, sending and receiving whole frames.
using BlockingClient = FrameClient;

}  // namespace ecr::nc::test
