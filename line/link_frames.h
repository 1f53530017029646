#pragma once
// The byte protocol between the PC and its registers on one shared serial line: the PC gives
// the line to one register with a take frame, the register answers with a data block, blocks
// are acknowledged (ACK) or refused (NAK), the PC takes the line back with a free frame, and
// keeps a silent line alive with keep-alive bytes. This file holds the control bytes, the
// frames as byte strings, the result codes of line operations and the table of line speeds.
//
// Thread safety: constants and pure functions, callable from any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ecr {

inline constexpr char kLinkLf = 0x0A;
inline constexpr char kLinkCr = 0x0D;
inline constexpr char kLinkDc1 = 0x11;
inline constexpr char kLinkDc3 = 0x13;
inline constexpr char kLinkAck = 0x06;
inline constexpr char kLinkNak = 0x15;
inline constexpr char kLinkFill = static_cast<char>(0xFF);
inline constexpr char kLinkKeepAlive = static_cast<char>(0xFE);

// A block travels as a short string: the PC's frame before its CRC holds at most this much.
inline constexpr std::size_t kLinkBlockMax = 255;

// The result of every line operation.
enum class LinkResult : int {
  NoResult = -1,
  Ok = 0,
  Nak = 1,
  Diff = 2,
  TimeOut = 3,
  ByteTimeOut = 4,
  BadCrc = 5,
  Refused = 6,  // a good block refused by the line's accept hook; it was not acknowledged
};

// "OK", "NAK", "DIFF", "TimeOut", "Byte TimeOut", "Bad CRC", "No result"; any other code
// (6 included) gives "Unknown error: " and the code in decimal.
std::string ResultText(int code);
inline std::string ResultText(LinkResult result) { return ResultText(static_cast<int>(result)); }

// One row of the speed table. ByteTime is the time of one 10-bit byte in 0.1 microseconds.
struct LinkSpeed {
  std::uint32_t Speed;
  int FillCount;
  std::uint32_t ByteTime;
};

// The fill counts do not grow with the speed (14400 has fewer than 9600): they are the
// registers' own figures.
inline constexpr std::array<LinkSpeed, 8> SpeedTable{{
    {1200, 1, 83333},
    {2400, 2, 41666},
    {4800, 4, 20833},
    {9600, 9, 10416},
    {14400, 4, 6944},
    {19200, 7, 5208},
    {28800, 9, 3472},
    {38400, 15, 2604},
}};

// Row of `speed` in SpeedTable, -1 when the speed is not listed.
int FindSpeedIndex(std::uint32_t speed);
// FillCount of the listed speed; std::out_of_range for a speed that is not listed.
int FillCountOf(std::uint32_t speed);
// The most data bytes that a PC's block carries whole on a line with `fillCount` fill bytes:
// the block before its CRC (fill, LF, data, CR) is held in kLinkBlockMax bytes.
constexpr std::size_t BlockDataCapacity(int fillCount) {
  return kLinkBlockMax - 2 - static_cast<std::size_t>(fillCount < 0 ? 0 : fillCount);
}

// 0x11 0x11, then the tens digit (modulo 10) and units digit of the register's number.
std::string TakeFrame(int ecrNo);
// fill x n, three DC3, fill x n.
std::string FreeFrame(int fillCount);
// The PC's block: fill x n, LF, data, CR, CRC high, CRC low. The CRC covers data and CR;
// the part before the CRC is cut to 255 bytes (callers send at most 253 - n data bytes).
std::string PcDataBlock(std::string_view data, int fillCount);
// The register's block: LF, data, CR, CRC high, CRC low.
std::string EcrDataBlock(std::string_view data);
std::string AckFrame();    // fill, ACK
std::string NakFrame();    // fill, NAK
std::string NoiseFrame();  // two keep-alive bytes

}  // namespace ecr
