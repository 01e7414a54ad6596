#pragma once
// What the workers tell a front end while they run. The scanner and the eraser
// report to the target their job hands them (the desktop program hands the
// work to its main thread, the command line prints).
#include <cstdint>

#include "core/FileInfo.h"

namespace mirel {

class TUpdateTarget {
public:
  virtual ~TUpdateTarget() = default;
  virtual void FolderFound(TDiskObject* disk, TFileInfo* entry) {}
  virtual void FileFound(TDiskObject* disk, TFileInfo* entry) {}
  virtual void ScanProgress(TDiskObject* disk, int64_t done, int64_t total) {}
  virtual void ScanDone(TDiskObject* disk) {}
  virtual void EraseProgress(TDiskObject* disk, int64_t done, int64_t total) {}
  virtual void EraseDone(TDiskObject* disk) {}
};

// Percentage shown for a progress report: done * 100 / total, 100 when total is 0.
int ProgressPercent(int64_t done, int64_t total);

}  // namespace mirel
