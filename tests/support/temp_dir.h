#pragma once
// A fresh folder under $TMPDIR (else /tmp) for one test, removed with everything in it when
// the object goes. Throws std::runtime_error when no folder can be made.

#include <filesystem>
#include <string>

namespace ecr {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadWholeFile(const std::filesystem::path& path);

}  // namespace ecr
