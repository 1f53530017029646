#include "text_client/version_compare.h"

#include <gtest/gtest.h>

namespace ecr {
namespace {

TEST(VersionCompare, Parsing) {
    struct Case {
        const char* text;
        VersionParts parts;
    };
    const Case cases[] = {
        {"1.0.20.0", {1, 0, 20, 0}},  {"v1.0.20.0", {1, 0, 20, 0}}, {"V1.0.20.0", {1, 0, 20, 0}},
        {"1.0.20", {0, 0, 0, 0}},     {"1.0.20.", {0, 0, 0, 0}},   {"1.0.20.0.1", {0, 0, 0, 0}},
        {"2a.0.1.x", {2, 0, 1, 0}},   {"", {0, 0, 0, 0}},          {"1.70000.0.0", {1, 65535, 0, 0}},
        {"1..3.4", {1, 0, 3, 4}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseVersionString(c.text), c.parts) << c.text;
}

TEST(VersionCompare, Helpers) {
    EXPECT_EQ(SplitString("1.0.20.0", '.'), (std::vector<std::string>{"1", "0", "20", "0"}));
    EXPECT_EQ(SplitString("1.0.20.", '.'), (std::vector<std::string>{"1", "0", "20"}));
    EXPECT_EQ(SplitString("..", '.'), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(DigitsToInt("a1b2"), 12);
    EXPECT_EQ(DigitsToInt("xyz"), 0);
    EXPECT_EQ(DigitsToInt("99999999999"), 0);
    EXPECT_TRUE(IsDigitChar('0'));
    EXPECT_FALSE(IsDigitChar('/'));
    EXPECT_FALSE(IsDigitChar(':'));
}

TEST(VersionCompare, MajorDecidesFirst) {
    EXPECT_GT(VersionStringToInt64("2.0.0.0"), VersionStringToInt64("1.65535.65535.65535"));
    EXPECT_GT(VersionStringToInt64("1.0.20.0"), VersionStringToInt64("1.0.19.9"));
    EXPECT_EQ(VersionStringToInt64("v1.0.20.0"), VersionToInt64({1, 0, 20, 0}));
    EXPECT_EQ(VersionToInt64({1, 2, 3, 4}), 0x0001000200030004ull);
}

}  // namespace
}  // namespace ecr
