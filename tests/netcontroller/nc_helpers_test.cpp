#include <gtest/gtest.h>

#include <stdexcept>

#include "netcontroller/busy_wait.h"
#include "netcontroller/nc_fields.h"
#include "netcontroller/nc_message_header.h"
#include "netcontroller/nc_numbers.h"
#include "netcontroller/register_mask.h"
#include "platform/tick_count.h"

namespace ecr::nc {
namespace {

using namespace std::string_literals;

TEST(NcMessageHeader, PackWritesTheFiveBytesThenThePayload) {
    EXPECT_EQ(PackReplyHeader(13, 4, 0, 3, 0, "1;"), "\x0D\x04\x00\x03\x00"s + "1;");
    EXPECT_EQ(PackReplyHeader(1, 2, 0, 3, 4, std::string(300, 'x')).size(), 255u);
}

TEST(NcMessageHeader, UnpackTakesEverythingAfterTheHeaderAsBody) {
    RequestHeader header = UnpackRequestHeader("\x0D\x04\x02\x03\x07" "ab12;"s);
    EXPECT_EQ(header.SetNo, 13);
    EXPECT_EQ(header.Command, 4);
    EXPECT_EQ(header.BlockLen, 2);
    EXPECT_EQ(header.LogNo, 3);
    EXPECT_EQ(header.Fifth, 7);
    EXPECT_EQ(header.Body, "ab12;");  // the two Block bytes stay in the body

    EXPECT_EQ(UnpackRequestHeader("\x01\x02\x00\x03\x00"s).Body, "");
    RequestHeader shortMessage = UnpackRequestHeader("\x05\x06"s);
    EXPECT_EQ(shortMessage.SetNo, 5);
    EXPECT_EQ(shortMessage.Command, 6);
    EXPECT_EQ(shortMessage.BlockLen, 0);
    EXPECT_EQ(shortMessage.LogNo, 0);
    EXPECT_EQ(shortMessage.Body, "");
}

TEST(NcFields, GetAndCut) {
    struct Case {
        const char* text;
        std::size_t n;
        const char* field;
        const char* afterCut;
    };
    const Case cases[] = {
        {"1;2.50;ABC;", 3, "ABC", "1;2.50;"},
        {"1;2.50;ABC;", 4, "", "1;2.50;ABC;"},
        {"1;2", 2, "", "1;2"},
        {"a;;c;", 2, "", "a;c;"},
        {"a;;c;", 3, "c", "a;;"},
        {"a;b;c;", 2, "b", "a;c;"},
        {"a;b;c;", 1, "a", "b;c;"},
        {"", 1, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetField(c.text, c.n), c.field) << c.text << " #" << c.n;
        std::string text = c.text;
        EXPECT_EQ(CutField(text, c.n), c.field) << c.text << " #" << c.n;
        EXPECT_EQ(text, c.afterCut) << c.text << " #" << c.n;
    }
    std::string text = "a;";
    EXPECT_THROW(GetField(text, 0), std::out_of_range);
    EXPECT_THROW(CutField(text, 0), std::out_of_range);
}

TEST(NcFields, Insert) {
    struct Case {
        const char* text;
        std::size_t n;
        const char* result;
    };
    const Case cases[] = {
        {"a;b;", 2, "a;x;b;"}, {"a;b;", 3, "a;b;x;"}, {"a;b;", 1, "x;a;b;"},
        {"a;b;", 9, "a;b;x;"}, {"", 1, "x;"},         {"", 5, "x;"},
        {"a", 2, "ax;"},  // field 2 does not start inside "a"
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        InsertField(text, "x", c.n);
        EXPECT_EQ(text, c.result) << c.text << " #" << c.n;
    }
    std::string full(254, 'y');
    InsertField(full, "abc", 1);
    EXPECT_EQ(full.size(), 255u);
    EXPECT_EQ(full.substr(0, 4), "abc;");
}

TEST(NcNumbers, StrToAmountDef) {
    struct Case {
        const char* text;
        const char* systemSeparator;
        long double value;
    };
    const Case cases[] = {
        {"12.345678", ",", 12.3457L}, {"7,5", ",", 7.5L},     {"7,5", ".", -1.0L},
        {"", ",", -1.0L},             {"  -3.25 ", ",", -3.25L}, {"1e2", ",", 100.0L},
        {"abc", ",", -1.0L},          {"1.2.3", ",", -1.0L},  {"5", "", 5.0L},
        {"1d5", "D", 1.5L},           {"1E300", ",", -1.0L},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(static_cast<double>(StrToAmountDef(c.text, -1.0L, c.systemSeparator)),
                    static_cast<double>(c.value), 1e-9)
            << c.text << " with " << c.systemSeparator;
    }
    // The program's own "." works whatever the environment's locale says.
    EXPECT_NEAR(static_cast<double>(StrToAmountDef("2.5", 0)), 2.5, 1e-9);
    EXPECT_NEAR(static_cast<double>(StrToAmountDef("", 4.25L)), 4.25, 1e-9);
}

TEST(NcNumbers, DecimalPoint) {
    EXPECT_EQ(InsertDecimalPoint("345", 2), "3.45");
    EXPECT_EQ(InsertDecimalPoint("5", 2), ".5");
    EXPECT_EQ(InsertDecimalPoint("12", 2), ".12");
    EXPECT_EQ(InsertDecimalPoint("1.5", 2), "1.5");
    EXPECT_EQ(InsertDecimalPoint(std::string(255, '1'), 2).size(), 255u);
    EXPECT_EQ(RemoveDecimalPoint("1.5.0"), "15.0");
    EXPECT_EQ(RemoveDecimalPoint("15"), "15");
}

TEST(NcRegisterMask, BitsAreTakenModulo32) {
    std::uint32_t mask = 0;
    SetMaskBit(mask, 0);
    EXPECT_EQ(mask, 1u);
    SetMaskBit(mask, 33);
    EXPECT_EQ(mask, 3u);
    SetMaskBit(mask, 31);
    EXPECT_EQ(mask, 0x80000003u);
    ClearMaskBit(mask, 5);
    EXPECT_EQ(mask, 0x80000003u);
    ClearMaskBit(mask, 32);
    EXPECT_EQ(mask, 0x80000002u);
}

TEST(NcBusyWait, WaitsAtLeastTheTimeAsked) {
    const std::uint32_t start = TickCount();
    BusyWait(30);
    const std::uint32_t elapsed = TicksSince(start);
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 2000u);
    BusyWait(0);
}

}  // namespace
}  // namespace ecr::nc
