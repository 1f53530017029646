#include "line/link_frames.h"

#include <stdexcept>

#include "line/link_crc.h"

namespace ecr {

std::string ResultText(int code) {
  switch (code) {
    case 0: return "OK";
    case 1: return "NAK";
    case 2: return "DIFF";
    case 3: return "TimeOut";
    case 4: return "Byte TimeOut";
    case 5: return "Bad CRC";
    case -1: return "No result";
    default: return "Unknown error: " + std::to_string(code);
  }
}

int FindSpeedIndex(std::uint32_t speed) {
  for (std::size_t i = 0; i < SpeedTable.size(); ++i) {
    if (SpeedTable[i].Speed == speed) return static_cast<int>(i);
  }
  return -1;
}

int FillCountOf(std::uint32_t speed) {
  const int index = FindSpeedIndex(speed);
  if (index < 0) throw std::out_of_range("Line speed " + std::to_string(speed) + " is not in the speed table");
  return SpeedTable[static_cast<std::size_t>(index)].FillCount;
}

std::string TakeFrame(int ecrNo) {
  const unsigned number = static_cast<unsigned>(ecrNo < 0 ? -ecrNo : ecrNo);
  std::string frame{kLinkDc1, kLinkDc1};
  frame += static_cast<char>('0' + (number / 10) % 10);
  frame += static_cast<char>('0' + number % 10);
  return frame;
}

std::string FreeFrame(int fillCount) {
  const auto fill = static_cast<std::size_t>(fillCount < 0 ? 0 : fillCount);
  std::string frame(fill, kLinkFill);
  frame.append(3, kLinkDc3);
  frame.append(fill, kLinkFill);
  return frame;
}

namespace {

void AppendCrc(std::string& frame, std::uint16_t crc) {
  frame += static_cast<char>(crc >> 8);
  frame += static_cast<char>(crc & 0xFF);
}

}  // namespace

std::string PcDataBlock(std::string_view data, int fillCount) {
  std::string text(data);
  text += kLinkCr;
  const std::uint16_t crc = LinkCrc16(text);
  std::string frame(static_cast<std::size_t>(fillCount < 0 ? 0 : fillCount), kLinkFill);
  frame += kLinkLf;
  frame += text;
  if (frame.size() > kLinkBlockMax) frame.resize(kLinkBlockMax);
  AppendCrc(frame, crc);
  return frame;
}

std::string EcrDataBlock(std::string_view data) {
  std::string text(data);
  text += kLinkCr;
  std::string frame(1, kLinkLf);
  frame += text;
  AppendCrc(frame, LinkCrc16(text));
  return frame;
}

std::string AckFrame() { return std::string{kLinkFill, kLinkAck}; }
std::string NakFrame() { return std::string{kLinkFill, kLinkNak}; }
std::string NoiseFrame() { return std::string{kLinkKeepAlive, kLinkKeepAlive}; }

}  // namespace ecr
