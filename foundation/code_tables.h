#pragma once
// The code tables that translate text between a register's 7-bit national character set
// and the Windows code page of a language, byte by byte, length unchanged. One table is
// 384 bytes read through two overlapping windows: FromEcr(d) = byte d (register byte to
// Windows byte), ToEcr(w) = byte 128 + w (Windows byte to register byte).
//
// The register server knows 13 tables, the network-controller server the first 6 (with a
// Polish table of its own). Rows are numbered from 1.
//
// Thread safety: the tables are immutable after their first use (built once, thread-safe
// static initialisation); every function may be called from any thread.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

using CodeTable = std::array<std::uint8_t, 384>;

// One row of a language list.
struct TLanguageStru {
  std::string_view Name;
  int Index = 0;             // 1-based, equal to the row's position
  std::uint32_t LangId = 0;  // Windows language identifier, 16 bits used
};

inline std::uint8_t FromEcr(const CodeTable& table, std::uint8_t registerByte) { return table[registerByte]; }
inline std::uint8_t ToEcr(const CodeTable& table, std::uint8_t windowsByte) {
  return table[128u + windowsByte];
}

// Whole texts, byte by byte.
std::string ConvertFromEcr(const CodeTable& table, std::string_view registerText);
std::string ConvertToEcr(const CodeTable& table, std::string_view windowsText);
void ConvertFromEcrInPlace(const CodeTable& table, std::string& text);
void ConvertToEcrInPlace(const CodeTable& table, std::string& text);

// The language list and tables of one program.
class CodeTableSet {
 public:
  CodeTableSet(std::vector<TLanguageStru> languages, std::vector<CodeTable> tables);
  int Count() const { return static_cast<int>(languages_.size()); }
  std::span<const TLanguageStru> LanguageList() const { return languages_; }
  // Table of row `index` (1..Count()); throws std::out_of_range otherwise.
  const CodeTable& Table(int index) const;

 private:
  std::vector<TLanguageStru> languages_;
  std::vector<CodeTable> tables_;
};

const CodeTableSet& HarbendixCodeTables();  // 13 rows
const CodeTableSet& LontarosCodeTables();   // 6 rows

// The row's name for 1..Count(), else an empty string.
std::string GetCodeTableName(int index, const CodeTableSet& set = HarbendixCodeTables());
// Clears `strings` and adds the names of every row in order (position p is row p + 1).
void FillCodeTableList(std::vector<std::string>& strings, const CodeTableSet& set = HarbendixCodeTables());
// Register server only: index := the first row whose LangId equals langId, else 1; then
// langId := that row's LangId, which is also returned.
std::uint16_t FindCodeTable(int& index, std::uint16_t& langId);

}  // namespace ecr
