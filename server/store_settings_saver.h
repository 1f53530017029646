#pragma once
// Saves the server settings record through the settings store. The store reads the record
// while it saves: call Save only where no other thread changes the record meanwhile (the
// request engine calls it under its lock; elsewhere go through RequestEngine::UpdateSettings).

#include "foundation/settings_store.h"
#include "server/settings_saver.h"

namespace ecr {

class StoreSettingsSaver : public SettingsSaver {
 public:
  explicit StoreSettingsSaver(TCodeStru& store) : store_(store) {}
  void Save() override { store_.Save(); }

 private:
  TCodeStru& store_;
};

}  // namespace ecr
