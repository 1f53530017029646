#pragma once
// The language modules of the register server: files lying beside the program, named like
// it with a language's three-letter abbreviation as extension ("harbendix.BGR"), and the
// per-user choice of the module for the next start, kept in the registry under
// HKEY_CURRENT_USER\Software\EcrLine\Locales. The stored value is named by the program
// file's full path with every "/" written as "\" (a registry value name cannot hold "/");
// its data is the extension. Extensions are compared without regard to letter case.
//
// Plain C++; the functions read the file system and the registry afresh on every call and
// may be called from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace ecr {

inline constexpr std::string_view kLocalesKeyPath = "Software\\EcrLine\\Locales";

// The program path without its extension, "." and ext: the name a module would have.
std::string LanguageModulePath(std::string_view programPath, std::string_view ext);
// The module file beside the program whose extension equals ext without regard to case;
// std::nullopt when there is none (or ext is empty or could not be an extension).
std::optional<std::string> FindLanguageModule(std::string_view programPath, std::string_view ext);
// The extensions (without the dot) of every file named like the program, in name order.
std::vector<std::string> LanguageModuleExtensions(std::string_view programPath);

// The name of the stored value for a program.
std::string LocalesValueName(std::string_view programPath);
// The stored extension: the value named by the program's path, else the key's default
// value; std::nullopt when the key or both values are missing.
std::optional<std::string> StoredLanguage(const Registry& registry, std::string_view programPath);

// The module files to try at process start, in order of preference: the stored
// extension, the thread language's abbreviation, its first two letters. Empty entries are
// left out; the first file that loads supplies the texts.
std::vector<std::string> StartupModuleCandidates(const Registry& registry, std::string_view programPath,
                                                 std::uint16_t threadLangId);

// The help file: the first that exists of the program path without its extension + active
// + ".hlp", the same with "_" before active, and the program path with ".hlp"; the last
// when none exists.
std::string ChooseHelpFile(std::string_view programPath, std::string_view activeLanguage);

}  // namespace ecr
