#pragma once
// The abstract register line: one serial line shared by several registers, offering four
// exchanges (take a register and read its block, free the line, send a block and wait for
// its acknowledgement, read a block and acknowledge it) and the keep-alive switch.
// TSimpleComObject is the implementation on a serial port; the polling thread, the register
// search and the line test use a line through this interface only.
//
// Threads:
// - The exchanges (TakeEcr, FreeEcr, SendBlock, GetBlock) are called by one thread at a
//   time: the polling thread, or the search or line-test thread on its own line object.
// - Open, Close, SetBaudRate, StartNoise and StopNoise may come from any thread, but Open
//   and Close never while an exchange runs on another thread.
// - PortName and OnTakeBlock are set while the line is closed, before any exchange.
//   OnTakeBlock runs on the thread that called TakeEcr.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "line/link_frames.h"

namespace ecr {

class TBasicCommunicationObject {
 public:
  // Called with a good block before it is acknowledged; clearing `accept` refuses it.
  using TTakeBlockEvent =
      std::function<void(TBasicCommunicationObject& sender, std::uint8_t ecrNo, const std::string& block, bool& accept)>;

  virtual ~TBasicCommunicationObject() = default;
  TBasicCommunicationObject(const TBasicCommunicationObject&) = delete;
  TBasicCommunicationObject& operator=(const TBasicCommunicationObject&) = delete;

  // Port operations raise ECommError.
  virtual void Configure() = 0;  // applies BaudRate to an open port; nothing when closed
  virtual void Open() = 0;
  virtual void Close() = 0;  // frees the line first; nothing when closed
  virtual void StartNoise() = 0;
  virtual void StopNoise() = 0;

  // Exchanges: on a closed line they raise ECommError "Port not open %s!"; everything else
  // that goes wrong is a LinkResult (and a log line).
  virtual LinkResult TakeEcr(int ecrNo, std::string& block) = 0;
  virtual void FreeEcr() = 0;
  virtual LinkResult SendBlock(std::string_view block) = 0;
  virtual LinkResult GetBlock(std::string& block, int timeoutMs) = 0;

  // ByteTime := 100,000,000 div baud (0.1 microseconds per 10-bit byte), then Configure.
  void SetBaudRate(std::uint32_t baud);
  std::uint32_t BaudRate() const { return baud_rate_.load(); }
  std::uint32_t ByteTime() const { return byte_time_.load(); }
  // Milliseconds that `bytes` bytes take on the wire, rounded up.
  std::uint32_t TransmitTime(std::size_t bytes) const;

  std::string PortName;
  TTakeBlockEvent OnTakeBlock;

 protected:
  TBasicCommunicationObject() = default;

 private:
  std::atomic<std::uint32_t> baud_rate_{0};
  std::atomic<std::uint32_t> byte_time_{0};
};

// What the register search is handed to create lines of its own: a maker of fresh, closed
// lines of one class.
using TCommunicationObjectClass = std::function<std::unique_ptr<TBasicCommunicationObject>()>;

template <class Line>
TCommunicationObjectClass CommunicationObjectClassOf() {
  return [] { return std::unique_ptr<TBasicCommunicationObject>(std::make_unique<Line>()); };
}

}  // namespace ecr
