#include "foundation/utf8_bytes.h"

#include <gtest/gtest.h>

namespace ecr {
namespace {

TEST(CutUtf8ToBytes, KeepsWholeCharactersWithinTheBytes) {
  struct Case {
    const char* text;
    std::size_t maxBytes;
    const char* kept;
  };
  const Case cases[] = {
      {"", 9, ""},
      {"secret", 9, "secret"},
      {"123456789", 9, "123456789"},
      {"123456789012", 9, "123456789"},
      // Two-byte letters: the fifth would need bytes 9 and 10.
      {"абвг", 9, "абвг"},
      {"абвгд", 9, "абвг"},
      {"абвгдежзийкл", 9, "абвг"},
      {"абвгд", 10, "абвгд"},
      // A letter after eight Latin ones fits only as a whole.
      {"12345678я", 9, "12345678"},
      {"1234567я", 9, "1234567я"},
      // Three- and four-byte characters.
      {"€€€€", 9, "€€€"},
      {"€€€€", 8, "€€"},
      {"12345😀", 9, "12345😀"},
      {"123456😀", 9, "123456"},
      {"абв", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.maxBytes));
    EXPECT_EQ(CutUtf8ToBytes(c.text, c.maxBytes), c.kept);
  }
}

}  // namespace
}  // namespace ecr
