#include "server/client_message.h"

#include <gtest/gtest.h>

#include <string>

namespace ecr {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text.push_back(static_cast<char>(value));
  return text;
}

TEST(BuildClientMessage, WritesHeaderBlockAndPayload) {
  EXPECT_EQ(BuildClientMessage(1, 2, 7, 0, "", "HARBENDIX;"), Bytes({1, 2, 0, 7, 0}) + "HARBENDIX;");
  EXPECT_EQ(BuildClientMessage(254, 128, 3, 0, "1;128;", "S;4;"),
            Bytes({254, 128, 6, 3, 0}) + "1;128;S;4;");
  // The block is binary: zero bytes and ";" pass unchanged.
  EXPECT_EQ(BuildClientMessage(13, 160, 9, 22, Bytes({0, ';', 255}), "x"),
            Bytes({13, 160, 3, 9, 22, 0, ';', 255}) + "x");
}

TEST(BuildClientMessage, CutsTheWholeToItsFirst255Bytes) {
  struct Case {
    std::size_t block;
    std::size_t payload;
  };
  for (const Case c : {Case{0, 300}, Case{250, 10}, Case{251, 0}, Case{255, 5}, Case{300, 300}}) {
    SCOPED_TRACE(testing::Message() << "block " << c.block << " payload " << c.payload);
    const std::string message =
        BuildClientMessage(5, 4, 1, 0, std::string(c.block, 'b'), std::string(c.payload, 'p'));
    const std::size_t block = std::min<std::size_t>(c.block, 255);
    EXPECT_EQ(message.size(), std::min<std::size_t>(255, 5 + block + std::min<std::size_t>(c.payload, 255)));
    // BlockLen states the whole block even when the cut loses part of it.
    EXPECT_EQ(static_cast<std::uint8_t>(message[2]), block);
    const ClientMessage parsed = ParseClientMessage(message);
    EXPECT_EQ(parsed.Block, std::string(std::min<std::size_t>(block, 250), 'b'));
    if (block >= 250) {
      EXPECT_EQ(parsed.Payload, "");
    }
  }
}

TEST(ParseClientMessage, SplitsHeaderBlockAndPayload) {
  struct Case {
    std::string message;
    ClientMessage expected;
  };
  const Case cases[] = {
      {Bytes({1, 2, 0, 7, 0}) + "pw;", {1, 2, 0, 7, 0, "", "pw;"}},
      {Bytes({254, 128, 2, 3, 9}) + "AB" + "rest;", {254, 128, 2, 3, 9, "AB", "rest;"}},
      // Exactly five bytes: empty block and payload.
      {Bytes({255, 1, 0, 0, 0}), {255, 1, 0, 0, 0, "", ""}},
      // BlockLen beyond the message: the block is what is there.
      {Bytes({1, 1, 9, 1, 0}) + "abc", {1, 1, 9, 1, 0, "abc", ""}},
      // Shorter than a header: missing header bytes read as 0.
      {Bytes({3, 4}), {3, 4, 0, 0, 0, "", ""}},
      {"", {0, 0, 0, 0, 0, "", ""}},
      {Bytes({1, 2, 3, 4}), {1, 2, 3, 4, 0, "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "message of " << c.message.size() << " bytes");
    const ClientMessage parsed = ParseClientMessage(c.message);
    EXPECT_EQ(parsed.SetNo, c.expected.SetNo);
    EXPECT_EQ(parsed.Command, c.expected.Command);
    EXPECT_EQ(parsed.BlockLen, c.expected.BlockLen);
    EXPECT_EQ(parsed.LogNo, c.expected.LogNo);
    EXPECT_EQ(parsed.ErrorCode, c.expected.ErrorCode);
    EXPECT_EQ(parsed.Block, c.expected.Block);
    EXPECT_EQ(parsed.Payload, c.expected.Payload);
  }
}

TEST(ParseClientRequest, DropsTheBlockButSkipsItsBytes) {
  const ClientMessage parsed = ParseClientRequest(Bytes({5, 4, 2, 8, 0}) + "XYpay;");
  EXPECT_EQ(parsed.BlockLen, 2);
  EXPECT_EQ(parsed.Block, "");
  EXPECT_EQ(parsed.Payload, "pay;");
}

TEST(DecimalPoint, InsertAndRemove) {
  struct InsertCase {
    std::string text;
    std::size_t n;
    std::string expected;
  };
  for (const InsertCase& c : {InsertCase{"345", 2, "3.45"}, InsertCase{"5", 2, ".5"},
                              InsertCase{"12", 2, ".12"}, InsertCase{"", 2, "."},
                              InsertCase{"1.5", 2, "1.5"}, InsertCase{"-150", 2, "-1.50"},
                              InsertCase{"0", 2, ".0"}, InsertCase{"1234", 3, "1.234"}}) {
    EXPECT_EQ(InsertDecimalPoint(c.text, c.n), c.expected) << c.text;
  }
  EXPECT_EQ(InsertDecimalPoint(std::string(255, '9'), 2).size(), 255u);
  for (const auto& [text, expected] : std::initializer_list<std::pair<std::string, std::string>>{
           {"1.5.0", "15.0"}, {"12.50", "1250"}, {"150", "150"}, {".", ""}, {"", ""}}) {
    EXPECT_EQ(RemoveDecimalPoint(text), expected) << text;
  }
}

TEST(ReplyErrorText, EveryCodeAndTheDefault) {
  const std::pair<int, const char*> texts[] = {
      {0, "No error"},
      {1, "Wrong mode"},
      {2, "SET is taken by other client"},
      {3, "ECR is busy (has pending command)"},
      {4, "SET is not yours"},
      {5, "Syntax error in command"},
      {6, "Answer from application come too late"},
      {7, "No requset"},
      {8, "Wrong SET password"},
      {9, "Overrun"},
      {10, "TimeOut - communication erorr"},
      {11, "TimeOut (TIMER)"},
      {12, "ECR in seans"},
      {13, "ECR reports \"Error\" in command"},
      {14, "Unknown command"},
      {15, "No ACK or NAK"},
      {16, "No BEG after NAK"},
      {17, "Bad line - communication erorr"},
      {18, "Buffer overflow"},
      {19, "Unknown SET"},
      {20, "Wrong ECR number"},
      {21, "Invalid byte - communication erorr"},
      {22, "Command to ECR is not executed"},
  };
  for (const auto& [code, text] : texts) EXPECT_EQ(ReplyErrorText(code), text) << code;
  for (int code : {23, 100, 101, 102, 254, 255}) {
    EXPECT_EQ(ReplyErrorText(code), "Unknown error\r\ncode:" + std::to_string(code));
  }
}

}  // namespace
}  // namespace ecr
