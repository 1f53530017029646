#pragma once
// A serial port on a tty device: opened O_RDWR | O_NOCTTY | O_NONBLOCK and held with an
// exclusive flock (a port in use by another process does not open), set raw 8N1 with
// CLOCAL | CREAD and no flow control, DTR raised and RTS lowered (pseudo-terminals refuse
// the modem lines; that is ignored). Every speed of the register link works, 14400 and
// 28800 included, which have no termios constant.
//
// Names: a name that starts with "/" is a device path; any other name ("COM3") is looked up
// among the serial device keys of the registry stand-in. A name that resolves to nothing
// fails exactly as a missing device does (ENOENT).
//
// Errors are errno values, kept in LastError() after a failed call.
//
// Threads: not synchronised. The owner serialises every call (the register line holds its
// lock around each one).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ecr {

class SerialPort {
 public:
  enum class ReadStatus { Byte, Nothing, Failed };

  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Resolves the name, opens the device and locks it. False when already open, when the
  // name resolves to nothing, the device cannot be opened, or another holder has the lock.
  bool Open(std::string_view name);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Raw 8N1 at `baud` bit/s, modem lines DTR on and RTS off. False when the device is no
  // terminal or refuses the settings.
  bool Configure(std::uint32_t baud);
  // The output speed the device now reports (std::nullopt when closed or unreadable).
  std::optional<std::uint32_t> Speed() const;
  // The input speed the device now reports; Configure makes it equal to the output speed.
  std::optional<std::uint32_t> InputSpeed() const;

  // Waits at most `timeoutMs` until input is queued (or the device reports a hang-up or an
  // error, which also counts as readable: the read then tells). Changes no state of the
  // port, so one thread may wait while another writes; never concurrent with Open or Close.
  bool WaitForInput(int timeoutMs) const;
  // One queued byte, without waiting.
  ReadStatus ReadQueuedByte(std::uint8_t& byte);
  // Reads and throws away what arrives within `timeoutMs` (what is queued included), and
  // returns as soon as `maxBytes` came: a read under a total time-out. Returns how many bytes
  // it threw away; a hang-up or a read error ends it early.
  std::size_t DiscardInputFor(std::size_t maxBytes, int timeoutMs);
  // Writes every byte, then waits until the driver has sent them (as a synchronous write
  // does). False when the device refuses or stays full for a second.
  bool Write(std::string_view bytes);
  // Discards what was received and not yet read / what was written and not yet sent.
  bool PurgeInput();
  bool PurgeOutput();

  int LastError() const { return last_error_; }

 private:
  bool Fail();
  int fd_ = -1;
  int last_error_ = 0;
};

}  // namespace ecr
