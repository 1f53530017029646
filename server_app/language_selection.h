#pragma once
// The language unit's state for the whole process: which module has been in use since
// the start (ActiveLanguage), which one is stored for the next start (NextLanguage), their
// flags, the languages that have a module beside the program, and the help file. The
// choice is stored by SetLanguage and applies only after a restart.
//
// Plain C++; flags are cell numbers of the flag strip (language_flags.h). Main thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace ecr {

// Results of SetLanguage.
enum SetLanguageResult : int {
  slStored = 0,
  slModuleMissing = 1,
  slKeyNotOpened = 2,
  slError = 4,
  slNothingToChange = -1,
};

class LanguageSelection {
 public:
  // Whether a file loads as a language module.
  using ModuleLoads = std::function<bool(const std::string& path)>;

  // The language unit's initialization: the active language from the stored choice or
  // the thread's language, checked by loading its module, and the help file.
  LanguageSelection(std::string programPath, Registry registry, std::uint16_t threadLangId,
                    ModuleLoads moduleLoads);

  const std::string& ProgramPath() const { return programPath_; }
  const std::string& ActiveLanguage() const { return activeLanguage_; }
  const std::string& NextLanguage() const { return nextLanguage_; }
  int ActiveFlag() const { return activeFlag_; }
  int NextFlag() const { return nextFlag_; }
  const std::string& HelpFile() const { return helpFile_; }

  // Stores ext as the language of the next start (see SetLanguageResult).
  int SetLanguage(const std::string& ext);

  // Ext=Name for each known language that has a module beside the program, in the order
  // of the language list; Ext is spelt as the file spells it.
  std::vector<std::pair<std::string, std::string>> ExtToName() const;

  // The flag cell of an extension: "" 0, bgr 1, enu 2, rus 3, ukr 4, fra 5, lth 6, eti 7;
  // any other (or empty) 0. Without regard to case.
  static int FlagIndex(const std::string& ext);

 private:
  const std::string programPath_;
  const Registry registry_;
  std::string activeLanguage_;
  std::string nextLanguage_;
  int activeFlag_ = 0;
  int nextFlag_ = 0;
  std::string helpFile_;
};

}  // namespace ecr
