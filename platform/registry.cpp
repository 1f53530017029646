#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/registry_names.h"

namespace ecr {

namespace fs = std::filesystem;

namespace {

enum class EntryKind { Key, Value };

bool IsKind(const fs::path& entry, EntryKind kind) {
  std::error_code ec;
  // Symbolic links are neither keys nor values, so no walk can loop or leave the root.
  const fs::file_status status = fs::symlink_status(entry, ec);
  if (ec) return false;
  return kind == EntryKind::Key ? fs::is_directory(status) : fs::is_regular_file(status);
}

std::vector<std::string> ListEntries(const fs::path& folder, EntryKind kind) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return names;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    if (IsRegistryWorkName(name)) continue;
    if (!IsKind(it->path(), kind)) continue;
    names.push_back(std::move(name));
  }
  SortRegistryNames(names);
  return names;
}

// The stored entry of that kind named like `name`: the exact spelling first, else the first
// of the spellings that differ only in case.
std::optional<fs::path> FindEntry(const fs::path& folder, const std::string& name,
                                  EntryKind kind) {
  fs::path exact = folder / name;
  if (IsKind(exact, kind)) return exact;
  for (const std::string& candidate : ListEntries(folder, kind)) {
    if (RegistryNamesEqual(candidate, name)) return folder / candidate;
  }
  return std::nullopt;
}

std::optional<fs::path> WalkKeys(fs::path folder, const std::vector<std::string>& components) {
  for (const std::string& component : components) {
    std::optional<fs::path> next = FindEntry(folder, component, EntryKind::Key);
    if (!next) return std::nullopt;
    folder = std::move(*next);
  }
  return folder;
}

std::optional<fs::path> CreateKeys(fs::path folder, const std::vector<std::string>& components) {
  for (const std::string& component : components) {
    std::optional<fs::path> next = FindEntry(folder, component, EntryKind::Key);
    if (!next) {
      fs::path wanted = folder / component;
      if (::mkdir(wanted.c_str(), 0777) != 0 && errno != EEXIST) return std::nullopt;
      // Another process may have created a spelling of its own in the meantime.
      next = FindEntry(folder, component, EntryKind::Key);
      if (!next) return std::nullopt;
    }
    folder = std::move(*next);
  }
  return folder;
}

std::string FileNameOfValue(std::string_view value_name) {
  return value_name.empty() ? std::string(kDefaultValueFileName) : std::string(value_name);
}

bool ValidValueName(std::string_view value_name) {
  return value_name.empty() || (IsValidRegistryName(value_name) && !IsRegistryWorkName(value_name));
}

std::string UniqueWorkName() {
  static std::atomic<unsigned> counter{0};
  return std::string(kRegistryWorkPrefix) + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

bool WriteWholeFile(const fs::path& file, std::string_view data) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

// rename that fails with EEXIST instead of replacing an empty folder of the same name, so
// that two processes moving onto one name cannot both succeed.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

bool ComponentsEqual(const std::vector<std::string>& a, const std::vector<std::string>& b,
                     std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!RegistryNamesEqual(a[i], b[i])) return false;
  }
  return true;
}

bool IsPrefixOf(const std::vector<std::string>& prefix, const std::vector<std::string>& path) {
  return prefix.size() <= path.size() && ComponentsEqual(prefix, path, prefix.size());
}

}  // namespace

std::string_view RegistryHiveName(RegistryHive hive) {
  return hive == RegistryHive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

fs::path DefaultRegistryRoot() {
  if (const char* root = std::getenv("ECR_REGISTRY"); root && *root) return root;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    return fs::path(config) / "ecr-registry";
  fs::path home;
  if (const char* env_home = std::getenv("HOME"); env_home && *env_home) {
    home = env_home;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
      home = found->pw_dir;
    else
      home = "/";
  }
  return home / ".config" / "ecr-registry";
}

// ---------------------------------------------------------------------------- RegistryKey

std::vector<std::string> RegistryKey::SubkeyNames() const {
  return ListEntries(folder_, EntryKind::Key);
}

std::vector<std::string> RegistryKey::ValueNames() const {
  std::vector<std::string> names = ListEntries(folder_, EntryKind::Value);
  for (std::string& name : names) {
    if (name == kDefaultValueFileName) name.clear();
  }
  SortRegistryNames(names);
  return names;
}

std::optional<std::string> RegistryKey::ReadString(std::string_view value_name) const {
  if (!ValidValueName(value_name)) return std::nullopt;
  std::optional<fs::path> file = FindEntry(folder_, FileNameOfValue(value_name), EntryKind::Value);
  if (!file) return std::nullopt;
  std::ifstream in(*file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool RegistryKey::WriteString(std::string_view value_name, std::string_view data) const {
  if (!ValidValueName(value_name)) return false;
  const std::string wanted = FileNameOfValue(value_name);
  std::optional<fs::path> existing = FindEntry(folder_, wanted, EntryKind::Value);
  const fs::path target = existing ? *existing : folder_ / wanted;
  if (IsKind(target, EntryKind::Key)) return false;
  // Written aside and renamed over the old data, so that a reader in another process sees
  // either the old or the new data, never a part.
  const fs::path work = folder_ / UniqueWorkName();
  if (!WriteWholeFile(work, data) || ::rename(work.c_str(), target.c_str()) != 0) {
    std::error_code ec;
    fs::remove(work, ec);
    return false;
  }
  return true;
}

std::optional<RegistryKey> RegistryKey::OpenSubkey(std::string_view path) const {
  std::optional<std::vector<std::string>> components = SplitRegistryPath(path);
  if (!components) return std::nullopt;
  if (!IsKind(folder_, EntryKind::Key)) return std::nullopt;
  std::optional<fs::path> folder = WalkKeys(folder_, *components);
  if (!folder) return std::nullopt;
  return RegistryKey(std::move(*folder));
}

std::optional<RegistryKey> RegistryKey::CreateSubkey(std::string_view path) const {
  std::optional<std::vector<std::string>> components = SplitRegistryPath(path);
  if (!components) return std::nullopt;
  if (!IsKind(folder_, EntryKind::Key)) return std::nullopt;
  std::optional<fs::path> folder = CreateKeys(folder_, *components);
  if (!folder) return std::nullopt;
  return RegistryKey(std::move(*folder));
}

// ------------------------------------------------------------------------------- Registry

Registry::Registry() : root_(DefaultRegistryRoot()) {}

Registry::Registry(fs::path root) : root_(std::move(root)) {}

fs::path Registry::HiveFolder(RegistryHive hive) const {
  return root_ / std::string(RegistryHiveName(hive));
}

std::optional<RegistryKey> Registry::OpenKey(RegistryHive hive, std::string_view path) const {
  std::error_code ec;
  const fs::path hive_folder = HiveFolder(hive);
  if (!fs::is_directory(hive_folder, ec)) return std::nullopt;
  return RegistryKey(hive_folder).OpenSubkey(path);
}

std::optional<RegistryKey> Registry::CreateKey(RegistryHive hive, std::string_view path) const {
  if (!SplitRegistryPath(path)) return std::nullopt;
  std::error_code ec;
  const fs::path hive_folder = HiveFolder(hive);
  fs::create_directories(hive_folder, ec);
  if (!fs::is_directory(hive_folder, ec)) return std::nullopt;
  return RegistryKey(hive_folder).CreateSubkey(path);
}

bool Registry::DeleteKey(RegistryHive hive, std::string_view path) const {
  std::optional<std::vector<std::string>> components = SplitRegistryPath(path);
  if (!components || components->empty()) return false;
  std::optional<RegistryKey> key = OpenKey(hive, path);
  if (!key) return false;
  std::error_code ec;
  fs::remove_all(key->Folder(), ec);
  return !ec;
}

bool Registry::MoveKey(RegistryHive hive, std::string_view old_path,
                       std::string_view new_path) const {
  std::optional<std::vector<std::string>> old_components = SplitRegistryPath(old_path);
  std::optional<std::vector<std::string>> new_components = SplitRegistryPath(new_path);
  if (!old_components || !new_components) return false;
  if (old_components->empty() || new_components->empty()) return false;
  if (IsPrefixOf(*old_components, *new_components) ||
      IsPrefixOf(*new_components, *old_components))
    return false;
  std::optional<RegistryKey> old_key = OpenKey(hive, old_path);
  if (!old_key || OpenKey(hive, new_path)) return false;

  std::vector<std::string> parent_components = *new_components;
  const std::string leaf = parent_components.back();
  parent_components.pop_back();
  std::optional<RegistryKey> hive_key = OpenKey(hive, "");
  if (!hive_key) return false;
  std::optional<fs::path> parent = CreateKeys(hive_key->Folder(), parent_components);
  if (!parent) return false;
  // A spelling of the new name that differs only in case counts as the new key existing.
  if (FindEntry(*parent, leaf, EntryKind::Key)) return false;
  const fs::path target = *parent / leaf;

  if (RenameNoReplace(old_key->Folder(), target) == 0) return true;
  if (errno != EXDEV && errno != EINVAL && errno != ENOSYS) return false;

  // Different file systems: copy everything aside, put the copy in place, then delete.
  const fs::path work = *parent / UniqueWorkName();
  std::error_code ec;
  // Links are neither keys nor values: following one could copy from outside the tree or
  // loop for ever.
  fs::copy(old_key->Folder(), work, fs::copy_options::recursive | fs::copy_options::skip_symlinks,
           ec);
  if (ec || ::rename(work.c_str(), target.c_str()) != 0) {
    fs::remove_all(work, ec);
    return false;
  }
  fs::remove_all(old_key->Folder(), ec);
  return true;
}

}  // namespace ecr
