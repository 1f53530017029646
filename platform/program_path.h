#pragma once
// Where the running program lives, and the files that sit beside it. Every program keeps
// its log, settings and INI file next to its executable, named like it with another
// extension.
//
// Thread safety: all functions are safe to call from any thread.

#include <string>
#include <string_view>

namespace ecr {

// The real path of the running executable (resolved from /proc/self/exe); empty when the
// system cannot tell.
std::string ProgramPath();

// `path` with its extension replaced by `extension` (given with its dot, e.g. ".log").
// The extension is the part of the file name from its last "."; a file name without one
// (or whose only "." is its first character) gets `extension` appended:
// "/opt/x/harbendix" -> "/opt/x/harbendix.log", "/opt/x/a.b.exe" -> "/opt/x/a.b.log".
// The case of `extension` is kept as given.
std::string PathWithExtension(std::string_view path, std::string_view extension);

// ProgramPath() with `extension`; empty when the program's path is unknown.
std::string ProgramSidePath(std::string_view extension);

// The file name of `path` without its directory ("/opt/x/a.b.exe" -> "a.b.exe").
std::string_view FileNameOf(std::string_view path);

}  // namespace ecr
