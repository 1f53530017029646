#pragma once
// The register server started as a real process: a copy of the program in a temporary
// folder of its own (so it has its own settings file, log and lock), a registry of its
// own naming the serial ports, and the program run offscreen with bounded waits.

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "server/server_settings.h"
#include "tests/support/child_process.h"
#include "tests/server_app/loopback_ports.h"
#include "tests/support/frame_client.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace ecr::testing {

using ecr::ReadWholeFile;
using support::WaitUntil;

// The settings file as the documented format has it, written without the program's own
// settings store: 12 key bytes, their xor, the record xor-ed with both, and the checksum.
inline std::string EncodeSettingsFile(const ServerSettings& settings) {
  std::uint8_t key[12];
  for (int i = 0; i < 11; ++i) key[i] = 0x11 + 0x10 * (i % 3);  // 0x11, 0x21, 0x31 ...
  key[11] = 0x5A;
  std::uint8_t check = 0;
  for (const std::uint8_t k : key) check ^= k;
  std::string file(reinterpret_cast<const char*>(key), 12);
  file.push_back(static_cast<char>(check));
  const auto* record = static_cast<const std::uint8_t*>(settings.data());
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ServerSettings::size(); ++i) {
    const std::uint8_t stored = record[i] ^ key[i % 12] ^ check;
    file.push_back(static_cast<char>(stored));
    sum += static_cast<std::uint32_t>(i * i) * stored;
  }
  for (int b = 0; b < 4; ++b) file.push_back(static_cast<char>((sum >> (8 * b)) & 0xFF));
  return file;
}

class HarbendixFolder {
 public:
  HarbendixFolder() {
    std::filesystem::copy_file(ECR_HARBENDIX_PATH, Program());
    std::filesystem::create_directories(Registry() / "HKEY_LOCAL_MACHINE" / "Enum");
  }
  HarbendixFolder(const HarbendixFolder&) = delete;
  HarbendixFolder& operator=(const HarbendixFolder&) = delete;

  std::filesystem::path Dir() const { return dir_; }
  std::filesystem::path Program() const { return dir_ / "harbendix"; }
  std::filesystem::path Registry() const { return dir_ / "registry"; }
  std::filesystem::path LogPath() const { return dir_ / "harbendix.log"; }
  std::filesystem::path SettingsPath() const { return dir_ / "harbendix.STG"; }
  std::filesystem::path IniPath() const { return dir_ / "harbendix.INI"; }

  // A device key that names portName (COM1 ...) for devicePath, in the folder's registry
  // or in `registry` (a start from cron finds its registry under its home).
  void MapPort(const std::string& portName, const std::string& devicePath) const {
    MapPortIn(Registry(), portName, devicePath);
  }
  static void MapPortIn(const std::filesystem::path& registry, const std::string& portName,
                        const std::string& devicePath) {
    const auto key = registry / "HKEY_LOCAL_MACHINE" / "Enum" / "Serial" / portName;
    std::filesystem::create_directories(key);
    std::ofstream(key / "PORTNAME", std::ios::binary) << portName;
    std::ofstream(key / "DeviceNode", std::ios::binary) << devicePath;
  }
  void WriteSettings(const ServerSettings& settings) const {
    std::ofstream(SettingsPath(), std::ios::binary) << EncodeSettingsFile(settings);
  }
  void WriteIni(const std::string& text) const { std::ofstream(IniPath(), std::ios::binary) << text; }
  std::string Log() const { return ReadWholeFile(LogPath()); }
  bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout =
                                               std::chrono::seconds(20)) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeout);
  }

 private:
  TempDir folder_;
  std::filesystem::path dir_ = folder_.Path();
};

// A folder whose program serves COM1 on a register emulator (with register 7) and a free
// TCP port, behind the administrator password "pw", for which no prompt may wait.
struct ServingFolder {
  RegisterEmulator emulator;
  HarbendixFolder folder;
  ServerSettings settings;
  ServingFolder() {
    emulator.AddRegister(7);
    folder.MapPort("COM1", emulator.PortPath());
    settings.AdminPassword = "pw";
    settings.IPPort = FreePort();
    folder.WriteSettings(settings);
  }
};

// One run of the program in its folder, offscreen, in the C locale, with the folder's
// registry and the folder as its runtime folder; killed at destruction if still running.
// Wait gives the wait status.
class HarbendixProcess : public ChildProcess {
 public:
  HarbendixProcess(const HarbendixFolder& folder, const std::vector<std::string>& arguments,
                   const std::string& outputName = "output.txt")
      : ChildProcess(folder.Program().string(), arguments,
                     {.workingFolder = folder.Dir(),
                      .environment = {"QT_QPA_PLATFORM=offscreen", "ECR_REGISTRY=" + folder.Registry().string(),
                                      "XDG_RUNTIME_DIR=" + folder.Dir().string(), "LC_ALL", "LC_MESSAGES",
                                      "LANG=C"},
                      .outputFile = folder.Dir() / outputName}) {}
};

// A client application on one TCP connection to the server.
using TestClient = FrameClient;

// The nice value of a running process (field 19 of its stat line); nullopt when unknown.
inline std::optional<int> NiceOf(pid_t pid) {
  const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  const auto end = stat.rfind(')');
  if (end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(end + 2));
  std::string field;
  for (int i = 3; i <= 19 && fields >> field; ++i) {
    if (i == 19) return std::stoi(field);
  }
  return std::nullopt;
}

// The output speed a terminal device is set to, as its settings give it.
inline speed_t TerminalSpeed(const std::string& devicePath) {
  const int fd = open(devicePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  termios settings{};
  const bool read = fd >= 0 && tcgetattr(fd, &settings) == 0;
  if (fd >= 0) close(fd);
  return read ? cfgetospeed(&settings) : B0;
}

}  // namespace ecr::testing
