#include "workers/ErasingThread.h"

#include <memory>

#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "erase/DiskEraser.h"
#include "platform/Mounts.h"
#include "workers/EraseTarget.h"

namespace mirel {

TErasingThread::TErasingThread(TDiskObject* disk, std::string mountPoint)
    : Disk(disk), MountPoint(std::move(mountPoint)) {}

void TErasingThread::Execute(std::stop_token stop, TUpdateTarget* sink) {
  if (Disk && MountPoint.empty()) {
    TEraseTarget target;
    std::string why;
    if (FindEraseTarget(Disk->Path, ReadMountTable(), target, why)) MountPoint = target.MountPoint;
  }
  std::unique_ptr<TDiskEraser> eraser = MountPoint.empty() ? nullptr : CreateEraser(Disk, MountPoint);
  if (!eraser) return;
  eraser->Sink = sink;
  eraser->Stop = std::move(stop);
  Ran = true;
  Result = eraser->Erase();
  BytesWritten = eraser->BytesWritten.load();
  FilesCreated = eraser->FilesCreated.load();
}

std::unique_ptr<TDiskEraser> TRecoveryManager::CreateEraser(TDiskObject* disk, const std::string& mountPoint) {
  return mirel::CreateEraser(disk, mountPoint);
}

}  // namespace mirel
