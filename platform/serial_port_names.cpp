#include "platform/serial_port_names.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

#include "platform/registry_names.h"

namespace ecr {

namespace fs = std::filesystem;

namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

bool EndsWithHiddenSuffix(std::string_view component) {
  return component.ends_with(kHiddenKeySuffix);
}

void CollectDeviceKeys(const RegistryKey& key, const std::string& key_path,
                       std::vector<SerialDeviceKey>& found) {
  std::optional<std::string> port_name = key.ReadString(kPortNameValue);
  std::optional<std::string> device_node = key.ReadString(kDeviceNodeValue);
  if (port_name && device_node && !port_name->empty() && !device_node->empty())
    found.push_back({key_path, std::move(*port_name), std::move(*device_node)});
  for (const std::string& subkey_name : key.SubkeyNames()) {
    // Everything below a hidden key is hidden as well.
    if (EndsWithHiddenSuffix(subkey_name)) continue;
    std::optional<RegistryKey> subkey = key.OpenSubkey(subkey_name);
    if (subkey) CollectDeviceKeys(*subkey, key_path + "\\" + subkey_name, found);
  }
}

std::optional<long> ReadNumberFile(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!in || !std::getline(in, text)) return std::nullopt;
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin != end && (*begin == ' ' || *begin == '\t')) ++begin;
  long number = 0;
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || stop == begin) return std::nullopt;
  return number;
}

bool HasDeviceLink(const fs::path& tty_entry) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(tty_entry / "device", ec));
}

}  // namespace

bool IsHiddenDeviceKeyPath(std::string_view key_path) {
  std::optional<std::vector<std::string>> components = SplitRegistryPath(key_path);
  if (!components) return false;
  return std::any_of(components->begin(), components->end(),
                     [](const std::string& c) { return EndsWithHiddenSuffix(c); });
}

std::vector<SerialDeviceKey> ListSerialDeviceKeys(const Registry& registry) {
  SeedSerialDeviceTree(registry);
  std::vector<SerialDeviceKey> found;
  std::optional<RegistryKey> machine = registry.OpenKey(kMachine, "");
  if (!machine) return found;
  // The stored spelling of the tree's own name is kept in the paths.
  for (const std::string& name : machine->SubkeyNames()) {
    if (!RegistryNamesEqual(name, kDeviceTreeKey)) continue;
    std::optional<RegistryKey> tree = machine->OpenSubkey(name);
    if (tree) CollectDeviceKeys(*tree, name, found);
    break;
  }
  return found;
}

std::vector<SerialCommValue> ReadSerialComm(const Registry& registry) {
  std::vector<SerialCommValue> values;
  for (SerialDeviceKey& key : ListSerialDeviceKeys(registry))
    values.push_back({std::move(key.device_node), std::move(key.port_name)});
  return values;
}

std::vector<SerialCommValue> ReadSerialComm() { return ReadSerialComm(Registry()); }

std::optional<std::string> ResolveSerialPortName(const Registry& registry, std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  if (name.empty()) return std::nullopt;
  for (SerialDeviceKey& key : ListSerialDeviceKeys(registry)) {
    if (RegistryNamesEqual(key.port_name, name)) return std::move(key.device_node);
  }
  return std::nullopt;
}

std::optional<std::string> ResolveSerialPortName(std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  return ResolveSerialPortName(Registry(), name);
}

std::vector<std::string> ListSysfsSerialDevices(const fs::path& sysfs_tty_root) {
  std::vector<std::string> devices;
  std::error_code ec;
  fs::directory_iterator it(sysfs_tty_root, ec);
  if (ec) return devices;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path entry = it->path();
    std::string name = entry.filename().string();
    if (!HasDeviceLink(entry)) continue;
    // The kernel lists every possible 8250 port; only those with a UART behind them
    // report a type other than 0.
    if (name.starts_with("ttyS")) {
      std::optional<long> type = ReadNumberFile(entry / "type");
      if (!type || *type == 0) continue;
    }
    devices.push_back(std::move(name));
  }
  std::sort(devices.begin(), devices.end());
  return devices;
}

bool SeedSerialDeviceTree(const Registry& registry, const fs::path& sysfs_tty_root) {
  if (registry.OpenKey(kMachine, kDeviceTreeKey)) return false;
  std::optional<RegistryKey> machine = registry.CreateKey(kMachine, "");
  if (!machine) return false;

  // Built aside and put in place in one rename, so that a second process seeding at the
  // same time, or a reader, never sees half a tree.
  std::string work_template = (machine->Folder() / (std::string(kRegistryWorkPrefix) + "XXXXXX")).string();
  if (::mkdtemp(work_template.data()) == nullptr) return false;
  const fs::path work = work_template;
  const std::string work_name = work.filename().string();

  bool built = true;
  int number = 0;
  for (const std::string& tty : ListSysfsSerialDevices(sysfs_tty_root)) {
    std::optional<RegistryKey> device = machine->CreateSubkey(work_name + "\\Serial\\" + tty);
    const std::string port_name = "COM" + std::to_string(++number);
    if (!device || !device->WriteString(kPortNameValue, port_name) ||
        !device->WriteString(kDeviceNodeValue, "/dev/" + tty)) {
      built = false;
      break;
    }
  }
  const fs::path target = machine->Folder() / std::string(kDeviceTreeKey);
  std::error_code ec;
  if (!built || ::renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    fs::remove_all(work, ec);
    return false;
  }
  return true;
}

}  // namespace ecr
