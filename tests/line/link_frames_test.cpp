// The register link's frames, its CRC and the cutting of received blocks, as byte tables.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "line/block_receiver.h"
#include "line/link_crc.h"
#include "line/link_frames.h"

namespace ecr {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out += static_cast<char>(v);
  return out;
}

TEST(LinkFrames, TakeFrameWritesTheLogicalNumberAsTwoDigits) {
  EXPECT_EQ(TakeFrame(7), Bytes({0x11, 0x11, 0x30, 0x37}));
  EXPECT_EQ(TakeFrame(99), Bytes({0x11, 0x11, 0x39, 0x39}));
  EXPECT_EQ(TakeFrame(1), Bytes({0x11, 0x11, 0x30, 0x31}));
  EXPECT_EQ(TakeFrame(123), Bytes({0x11, 0x11, 0x32, 0x33}));  // tens digit modulo 10
}

// "FF 13 13 13" as bytes.
std::string Hex(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at + 1 < text.size(); at += 3) {
    out += static_cast<char>(std::stoi(std::string(text.substr(at, 2)), nullptr, 16));
  }
  return out;
}

TEST(LinkFrames, EverySpeedSendsItsOwnFillBytes) {
  struct Row {
    int index;
    std::uint32_t speed;
    int fillCount;
    std::uint32_t byteTime;
    std::string_view fill;  // the fill bytes on one side of a frame, as sent
    std::size_t capacity;   // data bytes of the longest block that goes out whole
  };
  // The registers' own figures: the counts do not grow with the speed.
  const Row rows[] = {
      {0, 1200, 1, 83333, "FF", 252},
      {1, 2400, 2, 41666, "FF FF", 251},
      {2, 4800, 4, 20833, "FF FF FF FF", 249},
      {3, 9600, 9, 10416, "FF FF FF FF FF FF FF FF FF", 244},
      {4, 14400, 4, 6944, "FF FF FF FF", 249},
      {5, 19200, 7, 5208, "FF FF FF FF FF FF FF", 246},
      {6, 28800, 9, 3472, "FF FF FF FF FF FF FF FF FF", 244},
      {7, 38400, 15, 2604, "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF", 238},
  };
  ASSERT_EQ(SpeedTable.size(), std::size(rows));
  // The block of the five data bytes ABCDE after its fill: LF, data, CR, CRC 0x4896.
  const std::string abcde = Hex("0A 41 42 43 44 45 0D 48 96");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.speed);
    const std::string fill = Hex(row.fill);
    ASSERT_EQ(fill.size(), static_cast<std::size_t>(row.fillCount));
    const LinkSpeed& listed = SpeedTable[static_cast<std::size_t>(row.index)];
    EXPECT_EQ(listed.Speed, row.speed);
    EXPECT_EQ(listed.FillCount, row.fillCount);
    EXPECT_EQ(listed.ByteTime, row.byteTime);
    EXPECT_EQ(FindSpeedIndex(row.speed), row.index);
    const int n = FillCountOf(row.speed);
    EXPECT_EQ(FreeFrame(n), fill + Hex("13 13 13") + fill);
    EXPECT_EQ(PcDataBlock("ABCDE", n), fill + abcde);
    // The longest block ends in its CR and the CRC over all of it; one byte more is cut.
    EXPECT_EQ(BlockDataCapacity(n), row.capacity);
    const std::string longest(row.capacity, 'y');
    EXPECT_EQ(PcDataBlock(longest, n), fill + EcrDataBlock(longest));
    EXPECT_NE(PcDataBlock(longest + "y", n), fill + EcrDataBlock(longest + "y"));
  }
  // At 9600 bit/s: 21 bytes free a register, 18 carry a block of five data bytes.
  EXPECT_EQ(FreeFrame(FillCountOf(9600)).size(), 21u);
  EXPECT_EQ(PcDataBlock("12345", FillCountOf(9600)).size(), 18u);
}

TEST(LinkFrames, UnlistedSpeedsHaveNoRow) {
  for (const std::uint32_t speed : {0u, 300u, 4801u, 57600u, 115200u}) EXPECT_EQ(FindSpeedIndex(speed), -1) << speed;
  EXPECT_THROW(FillCountOf(57600), std::out_of_range);
}

TEST(LinkFrames, ShortFramesAndTheRegistersBlock) {
  EXPECT_EQ(AckFrame(), Bytes({0xFF, 0x06}));
  EXPECT_EQ(NakFrame(), Bytes({0xFF, 0x15}));
  EXPECT_EQ(NoiseFrame(), Bytes({0xFE, 0xFE}));
  EXPECT_EQ(EcrDataBlock("abc"), Bytes({0x0A, 'a', 'b', 'c', 0x0D, 0x3C, 0xDE}));
}

TEST(LinkFrames, PcBlockIsCutAt255BytesBeforeItsCrc) {
  const std::string data(260, 'x');
  const std::string block = PcDataBlock(data, 4);
  ASSERT_EQ(block.size(), 257u);
  const std::uint16_t crc = LinkCrc16(data + "\r");
  EXPECT_EQ(block.substr(0, 255), std::string(4, '\xFF') + "\n" + std::string(250, 'x'));
  EXPECT_EQ(static_cast<std::uint8_t>(block[255]), crc >> 8);
  // The longest block that goes out whole: 253 - n data bytes.
  const std::string longest = PcDataBlock(std::string(249, 'y'), 4);
  EXPECT_EQ(longest.size(), 4u + 1 + 249 + 1 + 2);
  EXPECT_EQ(longest[254], '\r');
}

TEST(LinkCrc, CheckValues) {
  EXPECT_EQ(LinkCrc16("abc"), 0xBC3C);
  EXPECT_EQ(LinkCrc16("abc\r"), 0x3CDE);
  EXPECT_EQ(LinkCrc16(""), 0);
}

TEST(LinkCrc, EqualsTheDirectForm) {
  const auto direct = [](std::string_view text) {
    std::uint16_t crc = 0;
    for (const char c : text) {
      crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(c) << 8);
      for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8001 : crc << 1);
    }
    return crc;
  };
  std::string text;
  for (int i = 0; i < 300; ++i) {
    text += static_cast<char>((i * 37 + 11) & 0xFF);
    ASSERT_EQ(LinkCrc16(text), direct(text)) << i;
  }
}

struct Received {
  std::vector<std::string> good;
  std::vector<std::string> bad;
};

Received FeedAll(const std::string& bytes) {
  BlockReceiver receiver;
  Received out;
  for (const char c : bytes) {
    if (receiver.Feed(static_cast<std::uint8_t>(c)) == BlockReceiver::Event::Complete) {
      (receiver.Good() ? out.good : out.bad).push_back(receiver.Text());
    }
  }
  return out;
}

TEST(BlockReceiver, CutsBlocksFromTheStream) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> good;
    std::vector<std::string> bad;
  };
  const std::string abc = EcrDataBlock("abc");
  std::string wrongCrc = abc;
  wrongCrc.back() = static_cast<char>(wrongCrc.back() ^ 0x40);
  const std::vector<Case> cases = {
      {"plain block", abc, {"abc"}, {}},
      {"fill, noise and an ACK before the LF", Bytes({0xFF, 0xFE, 0xFE, 0x06, 0x15, 'z'}) + abc, {"abc"}, {}},
      {"a second LF starts the block again", "\nxy" + abc, {"abc"}, {}},
      {"two blocks in a row", abc + EcrDataBlock("12345678"), {"abc", "12345678"}, {}},
      {"wrong CRC", wrongCrc, {}, {"abc"}},
      {"empty block", EcrDataBlock(""), {""}, {}},
      {"no LF at all", "abc\r\x3C\xDE", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Received r = FeedAll(c.bytes);
    EXPECT_EQ(r.good, c.good);
    EXPECT_EQ(r.bad, c.bad);
  }
}

TEST(BlockReceiver, EverySingleBitFlipIsCaught) {
  const std::string block = EcrDataBlock("12;3.50;CASH;");
  // Flips in data, CR and both CRC bytes (the LF opens the block and is outside the CRC).
  for (std::size_t at = 1; at < block.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string damaged = block;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
      if (damaged[at] == '\n' || (at < block.size() - 2 && damaged[at] == '\r')) continue;  // changes the framing
      const Received r = FeedAll(damaged);
      EXPECT_TRUE(r.good.empty()) << "byte " << at << " bit " << bit;
    }
  }
}

TEST(BlockReceiver, KeepsAtMost255DataBytesButChecksThemAll) {
  const std::string data(300, 'q');
  const Received r = FeedAll(EcrDataBlock(data));
  ASSERT_EQ(r.good.size(), 1u);
  EXPECT_EQ(r.good[0], std::string(255, 'q'));
}

TEST(LinkResultText, Texts) {
  const std::vector<std::pair<int, std::string>> rows = {
      {0, "OK"},       {1, "NAK"},          {2, "DIFF"},    {3, "TimeOut"},          {4, "Byte TimeOut"},
      {5, "Bad CRC"},  {-1, "No result"},   {6, "Unknown error: 6"}, {200, "Unknown error: 200"}};
  for (const auto& [code, text] : rows) EXPECT_EQ(ResultText(code), text) << code;
  EXPECT_EQ(ResultText(LinkResult::Refused), "Unknown error: 6");
}

}  // namespace
}  // namespace ecr
