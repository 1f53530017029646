#pragma once
// The network-controller server started as a real process: a copy of the program in a
// temporary folder of its own (its own settings file, log and lock), a registry of its own
// that maps COM1 onto a controller emulator, the program run offscreen, and a client
// application on a real TCP connection. Every wait is bounded.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/settings_store.h"
#include "netcontroller/server/nc_server_settings.h"
#include "platform/program_path.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ecr::nc::test {

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

  void MapPort(const std::string& portName, const std::string& devicePath) const {
    const auto key = Registry() / "HKEY_LOCAL_MACHINE" / "Enum" / "Test" / portName;
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

// One run of the program in a folder; killed at destruction if still running.
class LontarosProcess {
 public:
  LontarosProcess(const LontarosFolder& folder, const std::vector<std::string>& arguments,
                  const std::string& outputName = "output.txt")
      : outputPath_(folder.Dir() / outputName) {
    std::vector<std::string> env;
    const auto replaced = [](const std::string& entry) {
      for (const char* name : {"QT_QPA_PLATFORM=", "ECR_REGISTRY=", "XDG_RUNTIME_DIR=", "LC_ALL=", "LANG="}) {
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
  ~LontarosProcess() {
    if (Running()) {
      kill(pid_, SIGKILL);
      Wait(std::chrono::seconds(10));
    }
  }
  LontarosProcess(const LontarosProcess&) = delete;
  LontarosProcess& operator=(const LontarosProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running() { return pid_ > 0 && !Poll(); }
  // The wait status once the process has ended within timeout (nullopt: still running).
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

// A client application on one TCP connection, sending and receiving whole frames.
class BlockingClient {
 public:
  // Connects to 127.0.0.1:port, retrying until timeout (the server may still be starting).
  explicit BlockingClient(std::uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
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
  ~BlockingClient() {
    if (fd_ >= 0) close(fd_);
  }
  BlockingClient(const BlockingClient&) = delete;
  BlockingClient& operator=(const BlockingClient&) = delete;

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
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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

}  // namespace ecr::nc::test
