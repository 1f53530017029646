#pragma once
// The registry as a directory tree. The root folder holds one folder per hive; a key is a
// folder, a string value is a regular file in it holding the data as bytes (no newline),
// and the default value of a key is the file "@". Key and value names are matched without
// regard to (ASCII) case and created with the case given.
//
// Key paths are relative to a hive, components separated by "\" ("Enum\Serial\ttyS0").
// Empty components (a leading, doubled or trailing "\") are ignored; a component or value
// name that is "." or "..", or holds "/" or a NUL byte, is refused, so that no name ever
// reaches outside the root.
//
// Threads: Registry and RegistryKey only hold paths; every call goes to the file system, so
// any thread may call anything. Several processes may work on one tree at once: a written
// value is replaced atomically, and a move is atomic where the file system allows it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

enum class RegistryHive { LocalMachine, CurrentUser };

// The folder name of a hive: "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string_view RegistryHiveName(RegistryHive hive);

// $ECR_REGISTRY when set and not empty, else $XDG_CONFIG_HOME/ecr-registry, else
// $HOME/.config/ecr-registry. Read on every call, so that tests may change it.
std::filesystem::path DefaultRegistryRoot();

// Name comparison used throughout the registry: ASCII letters without regard to case.
bool RegistryNamesEqual(std::string_view a, std::string_view b);

// One open key. It stays valid as long as its folder exists; a deleted or moved key makes
// later calls fail (empty lists, std::nullopt, false).
class RegistryKey {
 public:
  const std::filesystem::path& Folder() const { return folder_; }

  // Names as stored, sorted without regard to case (the order the registry lists them).
  std::vector<std::string> SubkeyNames() const;
  // The default value is listed with the empty name.
  std::vector<std::string> ValueNames() const;

  // value_name "" (or "@") is the default value. std::nullopt when absent or unreadable.
  std::optional<std::string> ReadString(std::string_view value_name) const;
  // Creates the value or replaces its data. False when the name is refused, a subkey of
  // that name exists, or the file cannot be written.
  bool WriteString(std::string_view value_name, std::string_view data) const;

  // path relative to this key; "" gives this key again.
  std::optional<RegistryKey> OpenSubkey(std::string_view path) const;
  // Opens the subkey, creating every missing component with the case given.
  std::optional<RegistryKey> CreateSubkey(std::string_view path) const;

 private:
  friend class Registry;
  explicit RegistryKey(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::filesystem::path folder_;
};

class Registry {
 public:
  // Uses DefaultRegistryRoot() as it is at construction.
  Registry();
  explicit Registry(std::filesystem::path root);

  const std::filesystem::path& Root() const { return root_; }

  // Open an existing key; "" is the hive itself. Never creates anything.
  std::optional<RegistryKey> OpenKey(RegistryHive hive, std::string_view path) const;
  // Open the key, creating the root, the hive and every missing component.
  std::optional<RegistryKey> CreateKey(RegistryHive hive, std::string_view path) const;
  // Delete a key with all its values and subkeys. False when it does not exist, path names
  // the hive itself, or the deletion failed.
  bool DeleteKey(RegistryHive hive, std::string_view path) const;
  // Move a key with all its values and subkeys to new_path (its parents are created).
  // Only when the old key exists and the new one does not, and neither lies inside the
  // other; otherwise nothing happens and the result is false. The old key is removed only
  // once the new one holds everything, so a failed move loses nothing.
  bool MoveKey(RegistryHive hive, std::string_view old_path, std::string_view new_path) const;

 private:
  std::filesystem::path HiveFolder(RegistryHive hive) const;
  std::filesystem::path root_;
};

}  // namespace ecr
