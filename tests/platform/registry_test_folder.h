#pragma once
// A temporary folder for one test, holding a registry tree of its own; removed at the end.
// And an environment variable changed for one scope, for the calls that find the registry
// through ECR_REGISTRY.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace ecr::test {

class RegistryTestFolder {
 public:
  RegistryTestFolder() = default;
  RegistryTestFolder(const RegistryTestFolder&) = delete;
  RegistryTestFolder& operator=(const RegistryTestFolder&) = delete;

  const std::filesystem::path& Folder() const { return folder_.Path(); }
  std::filesystem::path RegistryRoot() const { return Folder() / "registry"; }
  Registry MakeRegistry() const { return Registry(RegistryRoot()); }
  std::filesystem::path Machine() const { return RegistryRoot() / "HKEY_LOCAL_MACHINE"; }

  // A device key under HKEY_LOCAL_MACHINE, written straight to the folders so that tests
  // do not depend on the code under test to set themselves up. relative_path uses "/".
  void AddDeviceKey(const std::string& relative_path, std::string_view port_name,
                    std::string_view device_node) const {
    const std::filesystem::path key = Machine() / relative_path;
    std::filesystem::create_directories(key);
    WriteFile(key / "PORTNAME", port_name);
    WriteFile(key / "DeviceNode", device_node);
  }

  static void WriteFile(const std::filesystem::path& file, std::string_view data) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  static std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  TempDir folder_;
};

// Saves one environment variable and puts it back when the scope ends.
class SavedEnvironment {
 public:
  explicit SavedEnvironment(const char* name) : name_(name) {
    if (const char* value = ::getenv(name)) saved_ = value;
  }
  // Sets it at once (nullptr unsets it).
  SavedEnvironment(const char* name, const char* value) : SavedEnvironment(name) { Set(value); }
  ~SavedEnvironment() { Set(saved_ ? saved_->c_str() : nullptr); }
  SavedEnvironment(const SavedEnvironment&) = delete;
  SavedEnvironment& operator=(const SavedEnvironment&) = delete;

  void Set(const char* value) const {
    if (value) ::setenv(name_, value, 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

}  // namespace ecr::test
