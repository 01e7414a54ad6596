#include "fat/FatEraser.h"

#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <cstdint>

#include "core/UpdateView.h"

namespace mirel {

namespace {

// A folder of FAT holds at most 65536 entries.
constexpr int kMaxFilesPerFolder = 65536;

}  // namespace

void TFatEraser::HideFile(int fd) {
  uint32_t attr = 0;
  if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attr) != 0) return;
  attr |= ATTR_HIDDEN;
  ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attr);
}

void TFatEraser::FillFolderEntries(const std::string& folder, int depth) {
  FillFolderSlots(folder, kMaxFilesPerFolder, depth);
}

bool TFatEraser::Erase() {
  RemoveLeftovers();
  bool result = TDiskEraser::Erase();
  if (result) FillFolderEntries(Root);
  CloseFileHandles();
  if (Sink) Sink->EraseDone(Disk);
  return result;
}

}  // namespace mirel
