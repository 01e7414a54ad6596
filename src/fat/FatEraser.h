#pragma once
// The FAT eraser: after the free-space fill, while the volume is full, it
// takes every free directory entry with an empty file, so that the entries
// of deleted files are overwritten too.
#include <string>

#include "erase/DiskEraser.h"

namespace mirel {

class TFatEraser : public TDiskEraser {
public:
  using TDiskEraser::TDiskEraser;
  [[nodiscard]] bool Erase() override;
  // Fills folder's free directory entries with empty files, then its subfolders'.
  void FillFolderEntries(const std::string& folder, int depth = 0);

protected:
  void HideFile(int fd) override;
};

}  // namespace mirel
