#include "server/frame_cutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ecr {
namespace {

std::string Frame(std::size_t length, char fill) { return MakeClientFrame(std::string(length, fill)); }

TEST(ClientFrameCutter, ReassemblesFramesFromAnyPieces) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> expected;
  };
  const std::string f100 = Frame(100, 'a');
  const std::string f255 = Frame(255, 'z');
  const Case cases[] = {
      {"whole frame", {f100}, {std::string(100, 'a')}},
      {"40, 30 and 30 bytes after the length", {f100.substr(0, 41), f100.substr(41, 30), f100.substr(71)},
       {std::string(100, 'a')}},
      {"byte by byte", {}, {std::string(100, 'a')}},
      {"two frames in one piece", {f100 + Frame(3, 'b')}, {std::string(100, 'a'), "bbb"}},
      {"length byte alone", {f100.substr(0, 1), f100.substr(1)}, {std::string(100, 'a')}},
      {"empty frames are skipped", {std::string(1, '\0') + Frame(2, 'c') + std::string(2, '\0')}, {"cc"}},
      {"longest frame", {f255}, {std::string(255, 'z')}},
      {"incomplete frame yields nothing", {f100.substr(0, 50)}, {}},
      {"frame ends the piece, next begins", {f100 + f100.substr(0, 10), f100.substr(10)},
       {std::string(100, 'a'), std::string(100, 'a')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> pieces = c.pieces;
    if (pieces.empty()) {
      for (char byte : f100) pieces.emplace_back(1, byte);
    }
    ClientFrameCutter cutter;
    std::vector<std::string> got;
    for (const std::string& piece : pieces) {
      for (std::string& message : cutter.Feed(piece)) got.push_back(std::move(message));
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST(ClientFrameCutter, ResetDropsAPartialFrame) {
  ClientFrameCutter cutter;
  EXPECT_TRUE(cutter.Feed(Frame(10, 'x').substr(0, 5)).empty());
  EXPECT_FALSE(cutter.AtFrameStart());
  cutter.Reset();
  EXPECT_TRUE(cutter.AtFrameStart());
  EXPECT_EQ(cutter.Feed(Frame(2, 'y')), std::vector<std::string>{"yy"});
}

TEST(MakeClientFrame, LengthByteThenMessageCutTo255) {
  EXPECT_EQ(MakeClientFrame("abc"), std::string("\x03" "abc"));
  EXPECT_EQ(MakeClientFrame(""), std::string(1, '\0'));
  const std::string frame = MakeClientFrame(std::string(300, 'q'));
  EXPECT_EQ(frame.size(), 256u);
  EXPECT_EQ(static_cast<std::uint8_t>(frame[0]), 255);
}

}  // namespace
}  // namespace ecr
