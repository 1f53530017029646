#include "foundation/code_tables.h"

#include <gtest/gtest.h>

namespace ecr {
namespace {

struct BytePair {
  int row;
  bool fromEcr;  // true: register byte -> Windows byte; false: Windows byte -> register byte
  std::uint8_t in, out;
};

constexpr bool F = true;   // FromEcr
constexpr bool T = false;  // ToEcr

// Pairs taken from the base tables and each row's exceptions.
const BytePair kServerPairs[] = {
    // 1 Bulgarian (base C)
    {1, F, 0x26, 0xB9}, {1, F, 0x41, 0x41}, {1, F, 0x60, 0xC0}, {1, F, 0x7A, 0xDA}, {1, F, 0x7B, 0xDC},
    {1, F, 0x7F, 0xDD}, {1, T, 0x26, 0x26}, {1, T, 0x61, 0x41}, {1, T, 0x60, 0x20}, {1, T, 0x7B, 0x5B},
    {1, T, 0x80, 0x20}, {1, T, 0xC0, 0x60}, {1, T, 0xE0, 0x60}, {1, T, 0xDB, 0x7E}, {1, T, 0xFB, 0x7E},
    {1, T, 0xDF, 0x7D}, {1, T, 0xFF, 0x7D},
    // 2 Lithuanian (base C)
    {2, F, 0x24, 0xC0}, {2, F, 0x3F, 0xD8}, {2, F, 0x5F, 0xDE}, {2, F, 0x60, 0xC0}, {2, T, 0x28, 0x3C},
    {2, T, 0x93, 0x22}, {2, T, 0x94, 0x22}, {2, T, 0xC0, 0x24}, {2, T, 0xE0, 0x24}, {2, T, 0xFE, 0x5F},
    {2, T, 0xC2, 0x62},
    // 3 Polish (base L)
    {3, F, 0x24, 0xA5}, {3, F, 0x5E, 0x8C}, {3, F, 0x60, 0x20}, {3, F, 0x7F, 0x20}, {3, F, 0x41, 0x41},
    {3, T, 0x24, 0x20}, {3, T, 0x27, 0x20}, {3, T, 0x28, 0x20}, {3, T, 0x29, 0x20}, {3, T, 0xA5, 0x24},
    {3, T, 0xF3, 0x5D}, {3, T, 0x61, 0x41}, {3, T, 0x80, 0x20},
    // 4 Macedonian (base C)
    {4, F, 0x24, 0x81}, {4, F, 0x7E, 0xA3}, {4, F, 0x7F, 0xBD}, {4, F, 0x60, 0xC0}, {4, T, 0x81, 0x24},
    {4, T, 0xBE, 0x7F}, {4, T, 0xA3, 0x7E}, {4, T, 0xE0, 0x60},
    // 5 Serbian (Cyrillic) (base C)
    {5, F, 0x69, 0xA3}, {5, F, 0x7E, 0xBC}, {5, F, 0x60, 0xC0}, {5, T, 0x7B, 0x28}, {5, T, 0x90, 0x79},
    {5, T, 0xBC, 0x7E}, {5, T, 0xC0, 0x60},
    // 6 Serbian (Latin) (base L)
    {6, F, 0x60, 0xC0}, {6, F, 0x68, 0xC8}, {6, F, 0x6A, 0xCA}, {6, F, 0x78, 0xD8}, {6, F, 0x7E, 0x6A},
    {6, T, 0x6A, 0x7E}, {6, T, 0x9E, 0x7F}, {6, T, 0xE8, 0x5C}, {6, T, 0x61, 0x41}, {6, T, 0xC0, 0x20},
    // 7 Estonian (base L)
    {7, F, 0x60, 0x40}, {7, F, 0x7A, 0x5A}, {7, F, 0x7B, 0xC4}, {7, F, 0x7F, 0x5F}, {7, T, 0x7D, 0x29},
    {7, T, 0xC4, 0x5B}, {7, T, 0xFC, 0x5D},
    // 8 Swedish (base L)
    {8, F, 0x5E, 0x5F}, {8, F, 0x60, 0x40}, {8, F, 0x7B, 0xC5}, {8, T, 0xC4, 0x5C}, {8, T, 0xF6, 0x5D},
    {8, T, 0x61, 0x41},
    // 9 Mongolian (base C)
    {9, F, 0x5B, 0x5F}, {9, F, 0x5D, 0xA8}, {9, F, 0x60, 0xC0}, {9, T, 0xA8, 0x5D}, {9, T, 0xC0, 0x60},
    // 10 Czech (base L)
    {10, F, 0x60, 0xDD}, {10, F, 0x61, 0x20}, {10, F, 0x6E, 0x8A}, {10, F, 0x73, 0x20}, {10, F, 0x7F, 0x20},
    {10, T, 0x8A, 0x6E}, {10, T, 0xFD, 0x60}, {10, T, 0xD9, 0x71},
    // 11 Slovak (base L)
    {11, F, 0x61, 0xC4}, {11, F, 0x73, 0xBC}, {11, F, 0x74, 0x20}, {11, T, 0xBC, 0x73}, {11, T, 0xBE, 0x73},
    {11, T, 0xE0, 0x6D},
    // 12 Romanian (base L)
    {12, F, 0x5B, 0xC3}, {12, F, 0x60, 0x20}, {12, F, 0x7F, 0x20}, {12, T, 0x5B, 0x20}, {12, T, 0x5F, 0x20},
    {12, T, 0x7B, 0x20}, {12, T, 0xFE, 0x5F}, {12, T, 0x61, 0x41},
    // 13 Greek (base C)
    {13, F, 0x24, 0x80}, {13, F, 0x60, 0x60}, {13, F, 0x61, 0xC1}, {13, F, 0x71, 0xD1}, {13, F, 0x72, 0xD3},
    {13, F, 0x78, 0xD9}, {13, F, 0x79, 0x20}, {13, F, 0x7F, 0x20}, {13, T, 0x24, 0x20}, {13, T, 0x60, 0x60},
    {13, T, 0x80, 0x24}, {13, T, 0xC0, 0x20}, {13, T, 0xC1, 0x61}, {13, T, 0xE1, 0x61}, {13, T, 0xD3, 0x72},
    {13, T, 0xF9, 0x78}, {13, T, 0xDA, 0x20}, {13, T, 0xFF, 0x20},
};

// The controller server's own Polish row (base C).
const BytePair kControllerPolishPairs[] = {
    {3, F, 0x26, 0xB9}, {3, F, 0x27, 0x8E}, {3, F, 0x5F, 0xAF}, {3, F, 0x60, 0xC0},
    {3, T, 0x8E, 0x27}, {3, T, 0xAF, 0x5F}, {3, T, 0xBF, 0x5F}, {3, T, 0xE0, 0x60},
};

void ExpectPairs(const CodeTableSet& set, std::span<const BytePair> pairs) {
  for (const auto& p : pairs) {
    const CodeTable& table = set.Table(p.row);
    const std::uint8_t got = p.fromEcr ? FromEcr(table, p.in) : ToEcr(table, p.in);
    EXPECT_EQ(got, p.out) << "row " << p.row << (p.fromEcr ? " FromEcr " : " ToEcr ") << std::hex << int(p.in);
  }
}

TEST(CodeTables, EveryRowOfTheRegisterServerTranslatesBothWays) { ExpectPairs(HarbendixCodeTables(), kServerPairs); }

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
  ExpectPairs(controller, kControllerPolishPairs);
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
