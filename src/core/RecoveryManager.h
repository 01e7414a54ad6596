#pragma once
// The single owner of the volume list and the factory of everything that
// depends on a volume's file system.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/DiskList.h"
#include "core/RecoveryStream.h"

namespace mirel {

class TDiskEraser;
class TErasingThread;

class TRecoveryManager {
public:
  TRecoveryManager(const std::vector<std::string>& sources, bool withDevices);

  // The volume whose name equals name, compared without case; null if none.
  TDiskObject* FindDisk(const std::string& name) const;
  // Clears the volume's catalogue and runs its scanner on a new thread. A
  // volume without a scanner gives a thread that ends at once.
  std::jthread StartScan(TDiskObject* disk);
  void StopScan(const std::string& name);
  std::unique_ptr<TRecoveryStream> CreateRecoveryStream(PFileInfo entry, const std::string& streamName = {});

  // Erasing is defined by the workers layer (workers/ErasingThread.cpp), the
  // only one that knows the erasers. StartErase clears the volume's catalogue
  // and runs its eraser on a new thread; mountPoint empty: found in the mount
  // table. Null for a null volume.
  std::unique_ptr<TErasingThread> StartErase(TDiskObject* disk, const std::string& mountPoint = {});
  void StopErase(const std::string& name);
  std::unique_ptr<TDiskEraser> CreateEraser(TDiskObject* disk, const std::string& mountPoint);

  TDiskList DiskList;
};

// The process-wide manager; created by the front end at start.
TRecoveryManager& RecoveryManager();
void CreateRecoveryManager(const std::vector<std::string>& sources, bool withDevices);
void DestroyRecoveryManager();

}  // namespace mirel
