#pragma once
// One language module in use: a Qt translation file read whole into memory and installed
// as the application's translator, so that every translated text of the windows comes
// from it. The file is loaded by its exact name (no ".qm" is appended or searched for).
// Main thread only.

#include <QByteArray>
#include <QTranslator>

#include <string>
#include <vector>

namespace ecr {

class LanguageModule {
 public:
  LanguageModule() = default;
  ~LanguageModule();  // removes the translator again
  LanguageModule(const LanguageModule&) = delete;
  LanguageModule& operator=(const LanguageModule&) = delete;

  // Installs the first of the files that loads; false (built-in texts) when none does.
  bool InstallFirst(const std::vector<std::string>& candidates);
  // The file in use; empty when none.
  const std::string& Path() const { return path_; }

  // Whether the file loads as a language module (read, checked and released again).
  static bool Loads(const std::string& path);

 private:
  QByteArray data_;  // the translator reads its texts from here while installed
  QTranslator translator_;
  bool installed_ = false;
  std::string path_;
};

}  // namespace ecr
