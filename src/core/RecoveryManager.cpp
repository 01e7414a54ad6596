#include "core/RecoveryManager.h"

#include <stdexcept>

#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/Text.h"

namespace mirel {

TRecoveryManager::TRecoveryManager(const std::vector<std::string>& sources, bool withDevices)
    : DiskList(sources, withDevices) {}

TDiskObject* TRecoveryManager::FindDisk(const std::string& name) const {
  const std::string want = ToLowerAscii(name);
  for (TDiskObject* d : DiskList.Items)
    if (ToLowerAscii(d->Name) == want) return d;
  return nullptr;
}

std::unique_ptr<TRecoveryStream> TRecoveryManager::CreateRecoveryStream(TFileInfo* entry,
                                                                        const std::string& streamName) {
  return mirel::CreateRecoveryStream(entry, streamName);
}

namespace {
std::unique_ptr<TRecoveryManager> Manager;
}

TRecoveryManager& RecoveryManager() {
  if (!Manager) throw std::logic_error("the recovery manager has not been created");
  return *Manager;
}

void CreateRecoveryManager(const std::vector<std::string>& sources, bool withDevices) {
  Manager = std::make_unique<TRecoveryManager>(sources, withDevices);
}

void DestroyRecoveryManager() { Manager.reset(); }

}  // namespace mirel
