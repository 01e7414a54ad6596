#pragma once
// The eraser of mounted exFAT volumes: the free-space fill, then a pass
// that takes every free slot of every folder with empty files, so the entry
// sets of deleted files and folders are overwritten by new ones.
#include <string>

#include "erase/DiskEraser.h"

namespace mirel {

class TExfatEraser : public TDiskEraser {
public:
  using TDiskEraser::TDiskEraser;
  [[nodiscard]] bool Erase() override;
};

}  // namespace mirel
