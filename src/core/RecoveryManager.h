#pragma once
// The single owner of the volume list and the factory of everything that
// depends on a volume's file system.
#include <memory>
#include <string>
#include <vector>

#include "core/DiskList.h"
#include "core/RecoveryStream.h"

namespace mirel {

class TDiskEraser;

class TRecoveryManager {
public:
  TRecoveryManager(const std::vector<std::string>& sources, bool withDevices);

  // The volume whose name equals name, compared without case; null if none.
  TDiskObject* FindDisk(const std::string& name) const;
  std::unique_ptr<TRecoveryStream> CreateRecoveryStream(TFileInfo* entry, const std::string& streamName = {});

  // Defined by the workers layer (workers/ErasingThread.cpp), the only one
  // that knows the erasers.
  std::unique_ptr<TDiskEraser> CreateEraser(TDiskObject* disk, const std::string& mountPoint);

  TDiskList DiskList;
};

// The process-wide manager; created by the front end at start.
TRecoveryManager& RecoveryManager();
void CreateRecoveryManager(const std::vector<std::string>& sources, bool withDevices);
void DestroyRecoveryManager();

}  // namespace mirel
