#include "server_app/server_options.h"

#include "foundation/code_tables.h"

namespace ecr {
namespace {
constexpr std::string_view kSection = "Options";
}

ServerOptions LoadOptions(const IniFile& ini, std::uint16_t userDefaultLangId) {
  ServerOptions options;
  std::uint16_t languageId = userDefaultLangId;
  // The identifier is 16 bits wide; a value that does not fit is treated like one that
  // is no number, so a hand-edited INI cannot stop the server from starting.
  if (const auto read = ini.findInteger(kSection, "LanguageID"); read && *read >= 0 && *read <= 0xFFFF)
    languageId = static_cast<std::uint16_t>(*read);
  options.OldFPMode = ini.findInteger(kSection, "OldFPMode") == 1;
  int index = 1;
  FindCodeTable(index, languageId);
  options.CodeTableIndex = index;
  options.LanguageID = languageId;
  return options;
}

bool SaveLanguageId(IniFile& ini, std::uint16_t languageId) {
  return ini.writeInteger(kSection, "LanguageID", languageId);
}

}  // namespace ecr
