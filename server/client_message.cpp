#include "server/client_message.h"

#include <algorithm>

namespace ecr {

namespace {

std::string_view CutToShortString(std::string_view text) {
  return text.substr(0, std::min(text.size(), kMaxMessageLength));
}

}  // namespace

std::string BuildClientMessage(std::uint8_t SetNo, std::uint8_t Command, std::uint8_t LogNo,
                               std::uint8_t ErrorCode, std::string_view Block,
                               std::string_view Payload) {
  const std::string_view block = CutToShortString(Block);
  const std::string_view payload = CutToShortString(Payload);
  std::string message;
  message.reserve(kMessageHeaderLength + block.size() + payload.size());
  message.push_back(static_cast<char>(SetNo));
  message.push_back(static_cast<char>(Command));
  message.push_back(static_cast<char>(static_cast<std::uint8_t>(block.size())));
  message.push_back(static_cast<char>(LogNo));
  message.push_back(static_cast<char>(ErrorCode));
  message.append(block);
  message.append(payload);
  if (message.size() > kMaxMessageLength) message.resize(kMaxMessageLength);
  return message;
}

ClientMessage ParseClientMessage(std::string_view message) {
  message = CutToShortString(message);
  ClientMessage parsed;
  const auto header_byte = [&](std::size_t index) -> std::uint8_t {
    return index < message.size() ? static_cast<std::uint8_t>(message[index]) : 0;
  };
  parsed.SetNo = header_byte(0);
  parsed.Command = header_byte(1);
  parsed.BlockLen = header_byte(2);
  parsed.LogNo = header_byte(3);
  parsed.ErrorCode = header_byte(4);
  if (message.size() <= kMessageHeaderLength) return parsed;
  const std::string_view rest = message.substr(kMessageHeaderLength);
  const std::size_t block_length = std::min<std::size_t>(parsed.BlockLen, rest.size());
  parsed.Block.assign(rest.substr(0, block_length));
  parsed.Payload.assign(rest.substr(block_length));
  return parsed;
}

ClientMessage ParseClientRequest(std::string_view message) {
  ClientMessage parsed = ParseClientMessage(message);
  parsed.Block.clear();
  return parsed;
}

std::string ReplyErrorText(int code) {
  switch (code) {
    case erNoError: return "No error";
    case erWrongMode: return "Wrong mode";
    case erSetTaken: return "SET is taken by other client";
    case erEcrBusy: return "ECR is busy (has pending command)";
    case erSetNotYours: return "SET is not yours";
    case erSyntax: return "Syntax error in command";
    case erTooLate: return "Answer from application come too late";
    case erNoRequest: return "No requset";
    case erWrongSetPassword: return "Wrong SET password";
    case erOverrun: return "Overrun";
    case erTimeOut: return "TimeOut - communication erorr";
    case erTimer: return "TimeOut (TIMER)";
    case erEcrInSession: return "ECR in seans";
    case erEcrError: return "ECR reports \"Error\" in command";
    case erUnknownCommand: return "Unknown command";
    case erNoAckNak: return "No ACK or NAK";
    case erNoBegAfterNak: return "No BEG after NAK";
    case erBadLine: return "Bad line - communication erorr";
    case erBufferOverflow: return "Buffer overflow";
    case erUnknownSet: return "Unknown SET";
    case erWrongEcrNumber: return "Wrong ECR number";
    case erInvalidByte: return "Invalid byte - communication erorr";
    case erNotExecuted: return "Command to ECR is not executed";
    default: return "Unknown error\r\ncode:" + std::to_string(code);
  }
}

std::string InsertDecimalPoint(std::string_view text, std::size_t n) {
  text = CutToShortString(text);
  std::string result(text);
  if (text.find('.') != std::string_view::npos) return result;
  const std::size_t position = text.size() > n ? text.size() - n : 0;
  result.insert(position, 1, '.');
  if (result.size() > kMaxMessageLength) result.resize(kMaxMessageLength);
  return result;
}

std::string RemoveDecimalPoint(std::string_view text) {
  text = CutToShortString(text);
  std::string result(text);
  const std::size_t point = result.find('.');
  if (point != std::string::npos) result.erase(point, 1);
  return result;
}

}  // namespace ecr
