#pragma once
// Saves the server settings record to its file. The server application adapts the
// settings store to it; tests count the saves.

namespace ecr {

class SettingsSaver {
 public:
  virtual ~SettingsSaver() = default;
  // Called under the request engine's lock, from the main thread or the polling thread.
  // A failure is silent: the record in memory stays as it is.
  virtual void Save() = 0;
};

}  // namespace ecr
