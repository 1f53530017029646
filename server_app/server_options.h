#pragma once
// The register server's INI options (section "Options" of the INI file beside the
// program): the code table, chosen through a Windows language identifier, and the old
// fiscal-printer mode. Plain C++; any thread (the main window calls it at every start).

#include <cstdint>

#include "platform/ini_file.h"

namespace ecr {

struct ServerOptions {
  // The identifier of the code table in use (after FindCodeTable replaced the read one).
  std::uint16_t LanguageID = 0x0402;
  int CodeTableIndex = 1;  // 1..13
  bool OldFPMode = false;
};

// Reads [Options] LanguageID (default userDefaultLangId) and OldFPMode (on only for 1),
// then maps the identifier to its code table. A LanguageID outside 0..65535 or that is no
// number counts as absent. Nothing is written; a missing file is not created.
ServerOptions LoadOptions(const IniFile& ini, std::uint16_t userDefaultLangId);

// Writes [Options] LanguageID as a decimal number; false when the file cannot be written.
bool SaveLanguageId(IniFile& ini, std::uint16_t languageId);

}  // namespace ecr
