#include "foundation/code_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace ecr {
namespace {

// The reference tables of code_tables_reference.txt: program ("server" or "controller")
// to its rows, in order.
using ReferenceRows = std::map<std::string, std::vector<CodeTable>>;

ReferenceRows ReadReference() {
  std::ifstream file(ECR_CODE_TABLES_REFERENCE);
  EXPECT_TRUE(file.is_open()) << ECR_CODE_TABLES_REFERENCE;
  ReferenceRows rows;
  CodeTable* row = nullptr;
  std::size_t filled = 0;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    if (line[0] == '[') {
      EXPECT_TRUE(row == nullptr || filled == row->size()) << "short row before: " << line;
      std::string program;
      std::size_t index = 0;
      in.ignore(1) >> program >> index;
      std::vector<CodeTable>& list = rows[program];
      EXPECT_EQ(index, list.size() + 1) << line;
      row = &list.emplace_back();
      filled = 0;
      continue;
    }
    unsigned offset = 0;
    in >> std::hex >> offset;
    in.ignore(1);  // the ':'
    EXPECT_TRUE(row != nullptr && offset == filled) << line;
    if (row == nullptr || offset != filled) break;
    unsigned value = 0;
    while (in >> value) {
      EXPECT_TRUE(filled < row->size() && value <= 0xFF) << line;
      if (filled == row->size()) break;
      (*row)[filled++] = static_cast<std::uint8_t>(value);
    }
  }
  EXPECT_TRUE(row != nullptr && filled == row->size()) << "the last row is short";
  return rows;
}

// Where a byte of a table is read: FromEcr for 000-0FF, ToEcr for 080-17F.
std::string WindowsOf(std::size_t offset) {
  std::ostringstream text;
  text << std::hex << std::uppercase << std::setfill('0');
  if (offset < 0x100) text << "FromEcr(" << std::setw(2) << offset << ")";
  if (offset >= 0x80 && offset < 0x100) text << " = ";
  if (offset >= 0x80) text << "ToEcr(" << std::setw(2) << offset - 0x80 << ")";
  return text.str();
}

TEST(CodeTables, EveryByteOfEveryRowOfBothServersEqualsTheReference) {
  const ReferenceRows reference = ReadReference();
  const std::pair<std::string, const CodeTableSet*> programs[] = {{"server", &HarbendixCodeTables()},
                                                                   {"controller", &LontarosCodeTables()}};
  ASSERT_EQ(reference.size(), std::size(programs));
  for (const auto& [program, set] : programs) {
    ASSERT_EQ(reference.count(program), 1u) << program;
    const std::vector<CodeTable>& rows = reference.at(program);
    ASSERT_EQ(static_cast<int>(rows.size()), set->Count()) << program;
    for (int index = 1; index <= set->Count(); ++index) {
      const CodeTable& expected = rows[static_cast<std::size_t>(index - 1)];
      const CodeTable& actual = set->Table(index);
      const auto [at, _] = std::mismatch(expected.begin(), expected.end(), actual.begin());
      if (at == expected.end()) continue;
      const auto offset = static_cast<std::size_t>(at - expected.begin());
      const auto differing = std::inner_product(expected.begin(), expected.end(), actual.begin(), 0, std::plus<>(),
                                                std::not_equal_to<>());
      ADD_FAILURE() << program << " row " << index << " (" << GetCodeTableName(index, *set) << "): byte 0x"
                    << std::hex << std::uppercase << offset << ", " << WindowsOf(offset) << ", is 0x"
                    << int(actual[offset]) << ", the reference has 0x" << int(expected[offset]) << std::dec
                    << " (bytes of the row that differ: " << differing << ")";
    }
  }
}

TEST(CodeTables, TheFirstRowInFull) {
  const CodeTable& t = HarbendixCodeTables().Table(1);
  const std::uint8_t capitals[] = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA,
                                   0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5,
                                   0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDC, 0xDE, 0xDF, 0xDB, 0xDD};
  for (unsigned d = 0; d < 0x60; ++d) EXPECT_EQ(FromEcr(t, d), d == 0x26 ? 0xB9 : d) << d;
  for (unsigned d = 0x60; d < 0x80; ++d) {
    EXPECT_EQ(FromEcr(t, d), capitals[d - 0x60]) << d;
    EXPECT_EQ(ToEcr(t, capitals[d - 0x60]), d) << d;
    EXPECT_EQ(ToEcr(t, capitals[d - 0x60] + 0x20), d) << d;  // the small letter
  }
  for (unsigned w = 0; w < 0x60; ++w) EXPECT_EQ(ToEcr(t, w), w) << w;
  EXPECT_EQ(ToEcr(t, 0x60), 0x20);
  for (unsigned w = 0x61; w < 0x80; ++w) EXPECT_EQ(ToEcr(t, w), w - 0x20) << w;
  for (unsigned w = 0x80; w < 0xC0; ++w) EXPECT_EQ(ToEcr(t, w), 0x20) << w;
  // The windows overlap: a register byte 80 + x translates like the Windows byte x.
  for (unsigned x = 0; x < 0x80; ++x) EXPECT_EQ(FromEcr(t, 0x80 + x), ToEcr(t, x)) << x;
}

TEST(CodeTables, TheControllerServerHasSixRowsAndAPolishTableOfItsOwn) {
  const CodeTableSet& controller = LontarosCodeTables();
  const CodeTableSet& server = HarbendixCodeTables();
  ASSERT_EQ(server.Count(), 13);
  ASSERT_EQ(controller.Count(), 6);
  for (const int row : {1, 2, 4, 5, 6}) EXPECT_EQ(controller.Table(row), server.Table(row)) << row;
  EXPECT_NE(controller.Table(3), server.Table(3));
  const std::uint32_t langIds[] = {0x0402, 0x0427, 0x0415, 0xFFFF, 0x0C1A, 0x081A};
  for (int row = 1; row <= 6; ++row) {
    const TLanguageStru& entry = controller.LanguageList()[static_cast<std::size_t>(row - 1)];
    EXPECT_EQ(entry.Index, row);
    EXPECT_EQ(entry.LangId, langIds[row - 1]);
    EXPECT_EQ(entry.Name, server.LanguageList()[static_cast<std::size_t>(row - 1)].Name);
  }
  EXPECT_THROW(controller.Table(7), std::out_of_range);
}

TEST(CodeTables, NamesAndTheList) {
  const char* names[] = {"Bulgarian", "Lithuanian", "Polish",  "Macedonian", "Serbian (Cyrillic)",
                         "Serbian (Latin)", "Estonian", "Swedish", "Mongolian", "Czech",
                         "Slovak", "Romanian", "Greek"};
  for (int i = 1; i <= 13; ++i) EXPECT_EQ(GetCodeTableName(i), names[i - 1]);
  EXPECT_EQ(GetCodeTableName(0), "");
  EXPECT_EQ(GetCodeTableName(14), "");
  EXPECT_EQ(GetCodeTableName(6, LontarosCodeTables()), "Serbian (Latin)");
  EXPECT_EQ(GetCodeTableName(7, LontarosCodeTables()), "");

  std::vector<std::string> list{"left over"};
  FillCodeTableList(list);
  ASSERT_EQ(list.size(), 13u);
  for (std::size_t p = 0; p < list.size(); ++p) EXPECT_EQ(list[p], names[p]);
  FillCodeTableList(list, LontarosCodeTables());
  EXPECT_EQ(list.size(), 6u);
}

TEST(CodeTables, FindCodeTableFallsBackToTheFirstRow) {
  struct Case {
    std::uint16_t langId;
    int index;
    std::uint16_t result;
  };
  const Case cases[] = {{0x0415, 3, 0x0415}, {0x0402, 1, 0x0402}, {0x0408, 13, 0x0408},
                        {0x0409, 1, 0x0402}, {0x0000, 1, 0x0402}, {0xFFFF, 1, 0x0402}};
  for (const auto& c : cases) {
    int index = -5;
    std::uint16_t langId = c.langId;
    EXPECT_EQ(FindCodeTable(index, langId), c.result) << std::hex << c.langId;
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(langId, c.result);
  }
}

TEST(CodeTables, WholeTextsKeepTheirLength) {
  const CodeTable& bulgarian = HarbendixCodeTables().Table(1);
  EXPECT_EQ(ConvertToEcr(bulgarian, "abc\xC0\xE0 1;"), "ABC\x60\x60 1;");
  EXPECT_EQ(ConvertFromEcr(bulgarian, std::string("A\x60&\0z", 5)), std::string("A\xC0\xB9\0\xDA", 5));
  const CodeTable& romanian = HarbendixCodeTables().Table(12);
  std::string text = "\x60\x61\x7F";
  ConvertFromEcrInPlace(romanian, text);
  EXPECT_EQ(text, "   ");
  text = "a[";
  ConvertToEcrInPlace(romanian, text);
  EXPECT_EQ(text, "A ");
}

}  // namespace
}  // namespace ecr
