#pragma once
// The NTFS eraser: before the free-space fill it takes every free MFT record
// with a tiny file, so that the records of deleted files are overwritten.
#include <cstdint>

#include "erase/DiskEraser.h"

namespace mirel {

class TNtfsEraser : public TDiskEraser {
public:
  using TDiskEraser::TDiskEraser;
  [[nodiscard]] bool Erase() override;
  // Takes free MFT records with tiny files; returns how many were created.
  int64_t FillFreeRecords(int64_t count);

protected:
  void HideFile(int fd) override;
};

}  // namespace mirel
