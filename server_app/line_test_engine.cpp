#include "server_app/line_test_engine.h"

#include <exception>
#include <string>

namespace ecr {

TTestEngine::~TTestEngine() {
  thread_.Terminate();
  thread_.WaitFor();
}

void TTestEngine::Resume() {
  thread_.Resume([this] { Execute(); });
}

void TTestEngine::Execute() {
  if (Com == nullptr) return;  // "Communication object not assigned": ends silently
  try {
    Com->Open();
    do {
      std::string block;
      const LinkResult result = Com->TakeEcr(EcrNo, block);
      ++sentBlocks_;
      switch (result) {
        case LinkResult::Ok:
        case LinkResult::Refused: ++receivedBlocks_; break;
        case LinkResult::TimeOut: ++timeoutErrors_; break;
        case LinkResult::ByteTimeOut: ++byteTimeoutErrors_; break;
        case LinkResult::BadCrc: ++crcErrors_; break;
        default: break;
      }
      Com->FreeEcr();
    } while (!thread_.Terminated());
  } catch (const std::exception&) {
    // The test shows frozen counts; the dialog's stop cleans up.
  }
  try {
    Com->Close();
  } catch (const std::exception&) {
  }
}

}  // namespace ecr
