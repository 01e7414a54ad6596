#pragma once
// Runs the eraser that fits a volume's file system. The recovery manager's
// CreateEraser is defined with it, since only this layer knows the erasers.
#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>

namespace mirel {

class TDiskObject;
class TUpdateTarget;

class TErasingThread {
public:
  // mountPoint: where the volume is mounted; empty: looked up in the mount table.
  TErasingThread(TDiskObject* disk, std::string mountPoint);

  // Runs the erase on the calling thread; the eraser reports to sink (may be
  // null) and ends early once stop is requested.
  void Execute(std::stop_token stop, TUpdateTarget* sink);

  TDiskObject* Disk;
  std::string MountPoint;
  // What the run did, complete once Execute has returned.
  std::atomic<bool> Result{false};
  std::atomic<int64_t> BytesWritten{0};
  std::atomic<int> FilesCreated{0};
  // False when no eraser fits the volume or no mount was found: nothing ran.
  std::atomic<bool> Ran{false};
};

}  // namespace mirel
