#include "platform/program_path.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace ecr {

std::string ProgramPath() {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath("/proc/self/exe", nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string_view FileNameOf(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string PathWithExtension(std::string_view path, std::string_view extension) {
  const std::string_view name = FileNameOf(path);
  const auto dot = name.rfind('.');
  std::string result(path);
  if (dot != std::string_view::npos && dot > 0) {
    result.resize(path.size() - name.size() + dot);
  }
  result += extension;
  return result;
}

std::string ProgramSidePath(std::string_view extension) {
  const std::string program = ProgramPath();
  return program.empty() ? std::string() : PathWithExtension(program, extension);
}

}  // namespace ecr
