#include "foundation/self_messenger.h"

#include <cstdio>
#include <utility>

#include "platform/program_path.h"

namespace ecr {

std::string SelfMessageName(std::string_view executablePath) {
  std::string name(executablePath);
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

std::uint16_t SelfMessageId(std::string_view name) {
  std::uint32_t hash = 2166136261u;  // 32-bit FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<std::uint16_t>(0xC000u | (hash & 0x3FFFu));
}

TSelfMessenger::TSelfMessenger() : TSelfMessenger(ProgramPath()) {}

TSelfMessenger::TSelfMessenger(std::string_view executablePath, InstanceFolders folders)
    : name_(SelfMessageName(executablePath)),
      messageId_(SelfMessageId(name_)),
      skippedFolders_(std::move(folders.skipped)),
      channel_(name_, std::move(folders.usable)) {
  skippedFolders_.insert(skippedFolders_.end(), channel_.SkippedFolders().begin(), channel_.SkippedFolders().end());
}

TSelfMessenger::TSelfMessenger(std::string_view executablePath, std::string socketFolder)
    : TSelfMessenger(executablePath, InstanceFolders{{std::move(socketFolder)}, {}}) {}

int TSelfMessenger::Send(int msgId, std::string_view text) {
  return channel_.Post(messageId_, static_cast<std::int32_t>(msgId), text).othersReached;
}

void TSelfMessenger::Receive() {
  while (auto notice = channel_.NextNotice()) {
    if (busy_ || notice->messageId != messageId_) continue;
    if (!onSelfEvent_) continue;
    // The handler may replace itself (or run a nested event loop); call a copy, and clear
    // the flag however it returns.
    SelfEvent handler = onSelfEvent_;
    struct BusyScope {
      bool& flag;
      explicit BusyScope(bool& f) : flag(f) { flag = true; }
      ~BusyScope() { flag = false; }
    } scope(busy_);
    handler(*this, notice->param, channel_.ReadText(kMaxReceivedText), notice->senderId == AppId());
  }
}

std::string SkippedFolderLogLine(std::string_view skipped) {
  return "Instance message folder skipped: " + std::string(skipped);
}

std::string ClosedMessengerLogLine(std::string_view error) {
  return "Instance messages unavailable: " + std::string(error);
}

int SendCloseRequest(TSelfMessenger& messenger, std::string_view password) {
  if (messenger.Send(smQuit, password) > 0) return 0;
  std::fputs("The close request reached no running copy.\n", stderr);
  return 1;
}

}  // namespace ecr
