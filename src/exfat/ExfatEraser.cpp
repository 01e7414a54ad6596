#include "exfat/ExfatEraser.h"

#include "core/UpdateView.h"

namespace mirel {

namespace {

// A folder holds at most 256 MiB of 32-byte slots, three to an empty file.
constexpr int kMaxFilesPerFolder = (256 << 20) / 96;

}  // namespace

bool TExfatEraser::Erase() {
  RemoveLeftovers();
  const bool result = TDiskEraser::Erase();
  if (result) FillFolderSlots(Root, kMaxFilesPerFolder);
  CloseFileHandles();
  if (Sink) Sink->EraseDone(Disk);
  return result;
}

}  // namespace mirel
