#include "workers/ErasingThread.h"

#include <mutex>

#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "erase/DiskEraser.h"
#include "workers/EraseTarget.h"

namespace mirel {

namespace {
// Guards each volume's Eraser field: a cancel must never reach an eraser
// that its thread is freeing.
std::mutex EraserLock;
}  // namespace

TErasingThread::TErasingThread(TDiskObject* disk, std::string mountPoint)
    : Disk(disk), MountPoint(std::move(mountPoint)) {}

TErasingThread::~TErasingThread() {
  CancelErase(Disk);
  WaitFor();
}

void TErasingThread::Start() {
  Worker = std::jthread([this] { Execute(); });
}

void TErasingThread::WaitFor() {
  if (Worker.joinable()) Worker.join();
}

void TErasingThread::Execute() {
  if (Disk && MountPoint.empty()) {
    TEraseTarget target;
    std::string why;
    if (FindEraseTarget(Disk->Path, ReadMountTable(), target, why)) MountPoint = target.MountPoint;
  }
  std::unique_ptr<TDiskEraser> eraser = MountPoint.empty() ? nullptr : CreateEraser(Disk, MountPoint);
  if (eraser) {
    {
      std::lock_guard<std::mutex> guard(EraserLock);
      Disk->Eraser = eraser.get();
    }
    Ran = true;
    Result = eraser->Erase();
    BytesWritten = eraser->BytesWritten.load();
    FilesCreated = eraser->FilesCreated.load();
    std::lock_guard<std::mutex> guard(EraserLock);
    Disk->Eraser = nullptr;
    eraser.reset();
  }
  Done = true;
}

void CancelErase(TDiskObject* disk) {
  if (!disk) return;
  std::lock_guard<std::mutex> guard(EraserLock);
  if (disk->Eraser) disk->Eraser->SetCancelled(true);
}

std::unique_ptr<TErasingThread> TRecoveryManager::StartErase(TDiskObject* disk, const std::string& mountPoint) {
  if (!disk) return nullptr;
  disk->ClearCatalogue();
  auto thread = std::make_unique<TErasingThread>(disk, mountPoint);
  thread->Start();
  return thread;
}

void TRecoveryManager::StopErase(const std::string& name) {
  try {
    CancelErase(FindDisk(name));
  } catch (...) {
  }
}

std::unique_ptr<TDiskEraser> TRecoveryManager::CreateEraser(TDiskObject* disk, const std::string& mountPoint) {
  return mirel::CreateEraser(disk, mountPoint);
}

}  // namespace mirel
