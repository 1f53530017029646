#include "foundation/code_tables.h"

#include <stdexcept>

namespace ecr {

namespace {

enum class Base { Latin, Cyrillic };

// One row as the exception lists give it: "d>w" or "a-b>c-d" (ranges map in order) or
// "a-b>c" (a whole range to one byte), hexadecimal, separated by ", ".
struct RowSource {
  std::string_view Name;
  std::uint16_t LangId;
  Base BaseTable;
  std::string_view FromEcrExceptions;
  std::string_view ToEcrExceptions;
};

constexpr RowSource kRegisterServerRows[] = {
    {"Bulgarian", 0x0402, Base::Cyrillic,
     "26>B9",
     ""},
    {"Lithuanian", 0x0427, Base::Cyrillic,
     "24>C0, 26>B9, 28>C6, 29>C1, 3F>D8, 5B>C8, 5C>CB, 5D>D0, 5E>DB, 5F>DE",
     "28>3C, 29>3E, 5C>2F, 5F>2D, 60>27, 7C>2F, 7E>27, 93>22, 94>22, C0>24, C1>29, C6>28, C8>5B, CB>5C, D0>5D, D8>3F, DB>5E, DE>5F, E0>24, E1>29, E6>28, E8>5B, EB>5C, F0>5D, F8>3F, FB>5E, FE>5F"},
    {"Polish", 0x0415, Base::Latin,
     "24>A5, 26>A5, 27>AF, 28>CA, 29>A3, 5B>C6, 5C>D1, 5D>D3, 5E>8C, 5F>8F, 60-7F>20",
     "24>20, 27-29>20, 8C>5E, 8F>5F, 9C>5E, 9F>5F, A3>29, A5>24, AF>27, B3>29, B9>24, BF>27, C6>5B, CA>28, D1>5C, D3>5D, E6>5B, EA>28, F1>5C, F3>5D"},
    {"Macedonian", 0x042F, Base::Cyrillic,
     "24>81, 26>B9, 28>8A, 29>8C, 3C>8D, 3E>8F, 7E>A3, 7F>BD",
     "81>24, 8A>28, 8C>29, 8D>3C, 8F>3E, 9A>28, 9C>29, 9D>3C, 9F>3E, A3>7E, B4>24, BC>7E, BD>7F, BE>7F"},
    {"Serbian (Cyrillic)", 0x0C1A, Base::Cyrillic,
     "26>B9, 5B>C6, 5C>C8, 5D>D0, 5E>8A, 5F>8E, 69>A3, 79>80, 7A>8A, 7B>8C, 7C>8E, 7D>8F, 7E>BC, 7F>9E",
     "7B>28, 7C>21, 7D>29, 7E>27, 7F>21, 80>79, 8A>7A, 8C>7B, 8E>7C, 8F>7D, 90>79, 9A>7A, 9C>7B, 9E>7C, 9F>7D, A3>69, BC>7E"},
    {"Serbian (Latin)", 0x081A, Base::Latin,
     "26>B9, 5B>C6, 5C>C8, 5D>D0, 5E>8A, 5F>8E, 60-68>C0-C8, 69>A3, 6A-78>CA-D8, 79>80, 7A>8A, 7B>8C, 7C>8E, 7D>8F, 7E>6A, 7F>9E",
     "6A>7E, 7B>28, 7C>21, 7D>29, 7E>27, 7F>21, 8A>5E, 8E>5F, 9A>5E, 9E>7F, C6>5B, C8>5C, D0>5D, E6>5B, E8>5C, F0>5D"},
    {"Estonian", 0x0425, Base::Latin,
     "26>B9, 5B>C4, 5C>D6, 5D>DC, 5E>D5, 60-7A>40-5A, 7B>C4, 7C>D6, 7D>DC, 7E>D5, 7F>5F",
     "7B>28, 7C>21, 7D>29, 7E>27, 7F>21, C4>5B, D0>5D, D5>5E, D6>5C, DC>5D, E4>5B, F0>5D, F5>5E, F6>5C, FC>5D"},
    {"Swedish", 0x041D, Base::Latin,
     "26>B9, 5B>C5, 5C>C4, 5D>D6, 5E>5F, 60-7A>40-5A, 7B>C5, 7C>C4, 7D>D6, 7E>5F, 7F>5F",
     "C4>5C, C5>5B, D6>5D, E4>5C, E5>5B, F6>5D"},
    {"Mongolian", 0x0450, Base::Cyrillic,
     "26>B9, 5B>5F, 5C>5F, 5D>A8",
     "A8>5D"},
    {"Czech", 0x0405, Base::Latin,
     "26>B9, 5B>C1, 5C>C9, 5D>CD, 5E>D3, 5F>DA, 60>DD, 61>20, 62>C8, 63>20, 64>20, 65>CF, 66-69>20, 6A>CC, 6B>20, 6C>D2, 6D>D8, 6E>8A, 6F>20, 70>8D, 71>D9, 72>8E, 73-7F>20",
     "8A>6E, 8D>70, 8E>72, 9A>6E, 9D>70, 9E>72, C1>5B, C8>62, C9>5C, CC>6A, CD>5D, CF>65, D2>6C, D3>5E, D8>6D, D9>71, DA>5F, DD>60, E1>5B, E8>62, E9>5C, EC>6A, ED>5D, EF>65, F2>6C, F3>5E, F8>6D, F9>71, FA>5F, FD>60"},
    {"Slovak", 0x041B, Base::Latin,
     "26>B9, 5B>C1, 5C>C9, 5D>CD, 5E>D3, 5F>DA, 60>DD, 61>C4, 62>C8, 63>D4, 64>20, 65>CF, 66-6A>20, 6B>C5, 6C>D2, 6D>C0, 6E>8A, 6F>20, 70>8D, 71>20, 72>8E, 73>BC, 74-7F>20",
     "8A>6E, 8D>70, 8E>72, 9A>6E, 9D>70, 9E>72, BC>73, BE>73, C0>6D, C1>5B, C4>61, C5>6B, C8>62, C9>5C, CD>5D, CF>65, D2>6C, D3>5E, D4>63, DA>5F, DD>60, E0>6D, E1>5B, E4>61, E5>6B, E8>62, E9>5C, ED>5D, EF>65, F2>6C, F3>5E, F4>63, FA>5F, FD>60"},
    {"Romanian", 0x0418, Base::Latin,
     "5B>C3, 5C>C2, 5D>CE, 5E>AA, 5F>DE, 60-7F>20",
     "5B-5F>20, 7B-7F>20, AA>5E, BA>5E, C2>5C, C3>5B, CE>5D, DE>5F, E2>5C, E3>5B, EE>5D, FE>5F"},
    {"Greek", 0x0408, Base::Cyrillic,
     "24>80, 5B>C3, 5C>C2, 5D>CE, 5E>AA, 5F>DE, 60>60, 72-78>D3-D9, 79-7F>20",
     "24>20, 5B-5F>20, 60>60, 7B-7F>20, 80>24, AA>5E, BA>5E, C0>20, D2>20, D3-D9>72-78, DA-DF>20, F2>20, F3-F9>72-78, FA-FF>20"},
};

constexpr RowSource kControllerPolishRow = {"Polish", 0x0415, Base::Cyrillic,
     "24>A5, 26>B9, 27>8E, 28>CA, 29>A3, 5B>C6, 5C>D1, 5D>D3, 5E>8C, 5F>AF",
     "8C>5E, 8E>27, 8F>5F, 9C>5E, 9E>27, 9F>5F, A3>29, A5>24, AF>5F, B3>29, B9>24, BF>5F, C6>5B, CA>28, D1>5C, D3>5D, E6>5B, EA>28, F1>5C, F3>5D"};

CodeTable BaseTable(Base base) {
  CodeTable t{};
  const auto to = [&t](unsigned w) -> std::uint8_t& { return t[128 + w]; };
  for (unsigned d = 0; d < 0x80; ++d) t[d] = static_cast<std::uint8_t>(d);
  for (unsigned w = 0x00; w <= 0x5F; ++w) to(w) = static_cast<std::uint8_t>(w);
  to(0x60) = 0x20;
  for (unsigned w = 0x61; w <= 0x7F; ++w) to(w) = static_cast<std::uint8_t>(w - 0x20);
  for (unsigned w = 0x80; w <= 0xFF; ++w) to(w) = 0x20;
  if (base == Base::Cyrillic) {
    // The register's capitals at 60-7F.
    for (unsigned d = 0x60; d <= 0x7A; ++d) t[d] = static_cast<std::uint8_t>(0xC0 + (d - 0x60));
    t[0x7B] = 0xDC;
    t[0x7C] = 0xDE;
    t[0x7D] = 0xDF;
    t[0x7E] = 0xDB;
    t[0x7F] = 0xDD;
    for (unsigned d = 0x60; d <= 0x7F; ++d) to(t[d]) = static_cast<std::uint8_t>(d);
    for (unsigned w = 0xE0; w <= 0xFF; ++w) to(w) = to(w - 0x20);
  }
  return t;
}

unsigned Hex(std::string_view text) {
  unsigned value = 0;
  for (const char c : text) {
    value <<= 4;
    if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
    else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
    else throw std::logic_error("bad code table entry");
  }
  return value;
}

void SplitRange(std::string_view text, unsigned& first, unsigned& last) {
  const auto dash = text.find('-');
  first = Hex(text.substr(0, dash));
  last = dash == std::string_view::npos ? first : Hex(text.substr(dash + 1));
}

// Writes the entries of `list` over the window starting at `offset` of the table.
void ApplyExceptions(CodeTable& table, std::size_t offset, std::string_view list) {
  while (!list.empty()) {
    const auto comma = list.find(", ");
    const std::string_view entry = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 2);
    const auto arrow = entry.find('>');
    unsigned from = 0, fromLast = 0, to = 0, toLast = 0;
    SplitRange(entry.substr(0, arrow), from, fromLast);
    SplitRange(entry.substr(arrow + 1), to, toLast);
    for (unsigned b = from; b <= fromLast; ++b) {
      table[offset + b] = static_cast<std::uint8_t>(to == toLast ? to : to + (b - from));
    }
  }
}

TLanguageStru LanguageOf(const RowSource& row, int index) { return TLanguageStru{row.Name, index, row.LangId}; }

CodeTable TableOf(const RowSource& row) {
  CodeTable table = BaseTable(row.BaseTable);
  ApplyExceptions(table, 0, row.FromEcrExceptions);
  ApplyExceptions(table, 128, row.ToEcrExceptions);
  return table;
}

}  // namespace

std::string ConvertFromEcr(const CodeTable& table, std::string_view registerText) {
  std::string text(registerText);
  ConvertFromEcrInPlace(table, text);
  return text;
}

std::string ConvertToEcr(const CodeTable& table, std::string_view windowsText) {
  std::string text(windowsText);
  ConvertToEcrInPlace(table, text);
  return text;
}

void ConvertFromEcrInPlace(const CodeTable& table, std::string& text) {
  for (char& c : text) c = static_cast<char>(FromEcr(table, static_cast<std::uint8_t>(c)));
}

void ConvertToEcrInPlace(const CodeTable& table, std::string& text) {
  for (char& c : text) c = static_cast<char>(ToEcr(table, static_cast<std::uint8_t>(c)));
}

CodeTableSet::CodeTableSet(std::vector<TLanguageStru> languages, std::vector<CodeTable> tables)
    : languages_(std::move(languages)), tables_(std::move(tables)) {
  if (languages_.size() != tables_.size()) throw std::logic_error("code table list and tables differ in size");
}

const CodeTable& CodeTableSet::Table(int index) const {
  if (index < 1 || index > Count()) throw std::out_of_range("code table index out of range");
  return tables_[static_cast<std::size_t>(index - 1)];
}

const CodeTableSet& HarbendixCodeTables() {
  static const CodeTableSet set = [] {
    std::vector<TLanguageStru> languages;
    std::vector<CodeTable> tables;
    int index = 1;
    for (const RowSource& row : kRegisterServerRows) {
      languages.push_back(LanguageOf(row, index++));
      tables.push_back(TableOf(row));
    }
    return CodeTableSet(std::move(languages), std::move(tables));
  }();
  return set;
}

const CodeTableSet& LontarosCodeTables() {
  // The first six rows of the register server, with a Polish table of its own and no
  // language of its own for the Macedonian row.
  static const CodeTableSet set = [] {
    const CodeTableSet& server = HarbendixCodeTables();
    std::vector<TLanguageStru> languages(server.LanguageList().begin(), server.LanguageList().begin() + 6);
    std::vector<CodeTable> tables;
    for (int index = 1; index <= 6; ++index) tables.push_back(server.Table(index));
    tables[2] = TableOf(kControllerPolishRow);
    languages[3].LangId = 0xFFFF;
    return CodeTableSet(std::move(languages), std::move(tables));
  }();
  return set;
}

std::string GetCodeTableName(int index, const CodeTableSet& set) {
  if (index < 1 || index > set.Count()) return {};
  return std::string(set.LanguageList()[static_cast<std::size_t>(index - 1)].Name);
}

void FillCodeTableList(std::vector<std::string>& strings, const CodeTableSet& set) {
  strings.clear();
  for (const TLanguageStru& row : set.LanguageList()) strings.emplace_back(row.Name);
}

std::uint16_t FindCodeTable(int& index, std::uint16_t& langId) {
  const CodeTableSet& set = HarbendixCodeTables();
  index = 1;
  for (const TLanguageStru& row : set.LanguageList()) {
    if (row.LangId == langId) {
      index = row.Index;
      break;
    }
  }
  langId = static_cast<std::uint16_t>(set.LanguageList()[static_cast<std::size_t>(index - 1)].LangId);
  return langId;
}

}  // namespace ecr
