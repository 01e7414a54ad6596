#pragma once
// Runs the eraser that fits a volume's file system on a thread of its own.
// The recovery manager's StartErase, StopErase and CreateEraser are defined
// with it, since only this layer knows the erasers.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace mirel {

class TDiskObject;
class TDiskEraser;

class TErasingThread {
public:
  // mountPoint: where the volume is mounted; empty: looked up in the mount table.
  TErasingThread(TDiskObject* disk, std::string mountPoint);
  ~TErasingThread();
  TErasingThread(const TErasingThread&) = delete;
  TErasingThread& operator=(const TErasingThread&) = delete;

  void Start();
  void WaitFor();
  // Runs the erase on the calling thread.
  void Execute();
  bool Finished() const { return Done.load(); }

  TDiskObject* Disk;
  std::string MountPoint;
  // What the run did, complete once Finished.
  std::atomic<bool> Result{false};
  std::atomic<int64_t> BytesWritten{0};
  std::atomic<int> FilesCreated{0};
  // False when no eraser fits the volume or no mount was found: nothing ran.
  std::atomic<bool> Ran{false};

private:
  std::atomic<bool> Done{false};
  std::jthread Worker;
};

// Cancels the eraser running on disk, if any; safe against its end.
void CancelErase(TDiskObject* disk);

}  // namespace mirel
