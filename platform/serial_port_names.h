#pragma once
// Serial port names (COM1, COM2, ...) on top of the registry stand-in.
//
// Every serial device is a device key somewhere under HKEY_LOCAL_MACHINE\Enum holding the
// string values PORTNAME ("COM3") and DeviceNode ("/dev/ttyUSB0"). A device key is hidden
// when any component of its path ends with "Removed"; hidden keys name no port.
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM is computed from the visible device
// keys on every read. When HKEY_LOCAL_MACHINE\Enum does not exist yet, the calls below that
// read the device keys first create it from the machine's serial devices.
//
// Threads: any thread; every call reads the registry afresh.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace ecr {

inline constexpr std::string_view kDeviceTreeKey = "Enum";
inline constexpr std::string_view kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline constexpr std::string_view kPortNameValue = "PORTNAME";
inline constexpr std::string_view kDeviceNodeValue = "DeviceNode";
inline constexpr std::string_view kHiddenKeySuffix = "Removed";
inline constexpr const char* kDefaultSysfsTtyRoot = "/sys/class/tty";

// One visible device key that carries both values.
struct SerialDeviceKey {
  std::string key_path;     // relative to HKEY_LOCAL_MACHINE, "Enum\Serial\ttyUSB0"
  std::string port_name;    // PORTNAME as stored
  std::string device_node;  // DeviceNode as stored
  bool operator==(const SerialDeviceKey&) const = default;
};

// One value of SERIALCOMM: named by the device node, holding the port name.
struct SerialCommValue {
  std::string name;  // DeviceNode
  std::string data;  // PORTNAME
  bool operator==(const SerialCommValue&) const = default;
};

// True when any component of the "\"-separated path ends with "Removed" (case counts).
bool IsHiddenDeviceKeyPath(std::string_view key_path);

// Visible device keys below HKEY_LOCAL_MACHINE\Enum, in registry order (depth first,
// subkeys sorted without regard to case). Seeds Enum first when it is missing.
std::vector<SerialDeviceKey> ListSerialDeviceKeys(const Registry& registry);

// The computed SERIALCOMM values, one per visible device key, in the order above.
std::vector<SerialCommValue> ReadSerialComm(const Registry& registry);
std::vector<SerialCommValue> ReadSerialComm();  // on Registry()

// A name starting with "/" is a device path and is returned as it is. Any other name is
// looked up among the visible device keys by PORTNAME without regard to case; the first
// match gives its DeviceNode. std::nullopt when no visible key carries the name (the port
// then fails to open exactly as a missing port does).
std::optional<std::string> ResolveSerialPortName(const Registry& registry, std::string_view name);
std::optional<std::string> ResolveSerialPortName(std::string_view name);  // on Registry()

// The serial devices of the machine: every entry of sysfs_tty_root with a "device" link,
// ttyS* only when its "type" file holds a non-zero number; tty names, sorted.
std::vector<std::string> ListSysfsSerialDevices(
    const std::filesystem::path& sysfs_tty_root = kDefaultSysfsTtyRoot);

// When HKEY_LOCAL_MACHINE\Enum does not exist, creates it with one key Enum\Serial\<tty>
// per device of ListSysfsSerialDevices, numbered COM1, COM2, ... in that order, DeviceNode
// "/dev/<tty>". Enum is created even when no device is found, so seeding happens once.
// Returns true when it seeded.
bool SeedSerialDeviceTree(const Registry& registry,
                          const std::filesystem::path& sysfs_tty_root = kDefaultSysfsTtyRoot);

}  // namespace ecr
