#pragma once
// The register server started as a real process: a copy of the program in a temporary
// folder of its own (so it has its own settings file, log and lock), a registry of its
// own naming the serial ports, and the program run offscreen with bounded waits.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/server_settings.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ecr::testing {

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// Waits, checking every 20 ms, until condition holds or timeout passes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

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

  // A device key that names portName (COM1 ...) for devicePath.
  void MapPort(const std::string& portName, const std::string& devicePath) const {
    const auto key = Registry() / "HKEY_LOCAL_MACHINE" / "Enum" / "Serial" / portName;
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

// One run of the program in a folder; killed at destruction if still running.
class HarbendixProcess {
 public:
  HarbendixProcess(const HarbendixFolder& folder, const std::vector<std::string>& arguments,
                   const std::string& outputName = "output.txt")
      : outputPath_(folder.Dir() / outputName) {
    std::vector<std::string> env;
    const auto replaced = [](const std::string& entry) {
      for (const char* name : {"QT_QPA_PLATFORM=", "ECR_REGISTRY=", "XDG_RUNTIME_DIR=", "LC_ALL=",
                               "LC_MESSAGES=", "LANG="}) {
        if (entry.rfind(name, 0) == 0) return true;
      }
      return false;
    };
    for (char** e = environ; *e != nullptr; ++e) {
      if (!replaced(*e)) env.emplace_back(*e);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("ECR_REGISTRY=" + folder.Registry().string());
    env.push_back("XDG_RUNTIME_DIR=" + folder.Dir().string());
    env.push_back("LANG=C");
    std::vector<std::string> args{folder.Program().string()};
    args.insert(args.end(), arguments.begin(), arguments.end());

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, folder.Dir().c_str());
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~HarbendixProcess() {
    if (Running()) {
      kill(pid_, SIGKILL);
      Wait(std::chrono::seconds(10));
    }
  }
  HarbendixProcess(const HarbendixProcess&) = delete;
  HarbendixProcess& operator=(const HarbendixProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  bool Running() const { return pid_ > 0 && !status_; }
  // The exit status once the process has ended within timeout (nullopt: still running).
  std::optional<int> Wait(std::chrono::milliseconds timeout) {
    WaitUntil([&] { return Poll(); }, timeout);
    return status_;
  }
  std::string Output() const { return ReadWholeFile(outputPath_); }

 private:
  bool Poll() {
    if (status_ || pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_.has_value();
  }

  std::filesystem::path outputPath_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A client application on one TCP connection to the server, sending and receiving whole
// frames.
class TestClient {
 public:
  // Connects to 127.0.0.1:port, retrying until timeout (the server may still be starting).
  TestClient(std::uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    WaitUntil(
        [&] {
          fd_ = socket(AF_INET, SOCK_STREAM, 0);
          sockaddr_in address{};
          address.sin_family = AF_INET;
          address.sin_port = htons(port);
          address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return true;
          close(fd_);
          fd_ = -1;
          return false;
        },
        timeout);
  }
  ~TestClient() {
    if (fd_ >= 0) close(fd_);
  }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::string& message) {
    std::string frame(1, static_cast<char>(message.size()));
    frame += message;
    return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
  }
  // The next whole message, or nullopt when none arrived within timeout.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      if (!buffer_.empty() && buffer_.size() >= 1u + static_cast<unsigned char>(buffer_[0])) {
        const std::size_t length = static_cast<unsigned char>(buffer_[0]);
        std::string message = buffer_.substr(1, length);
        buffer_.erase(0, 1 + length);
        return message;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[512];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

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
