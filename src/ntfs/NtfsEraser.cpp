#include "ntfs/NtfsEraser.h"

#include <sys/xattr.h>
#include <array>

#include "core/DiskObject.h"
#include "core/UpdateView.h"
#include "ntfs/NtfsDriver.h"

namespace mirel {

void TNtfsEraser::HideFile(int fd) {
  // ntfs-3g keeps the attributes big-endian; hidden is bit 1.
  uint8_t be[4];
  if (::fgetxattr(fd, "system.ntfs_attrib_be", be, sizeof be) != sizeof be) return;
  be[3] |= 0x02;
  ::fsetxattr(fd, "system.ntfs_attrib_be", be, sizeof be, 0);
}

int64_t TNtfsEraser::FillFreeRecords(int64_t count) {
  std::array<uint8_t, kSector> data{};
  FillRandom(data.data(), data.size());
  int64_t made = 0;
  for (; made < count && !IsCancelled(); ++made) {
    int fd = OpenTempFile(Root, true, false);
    if (fd < 0) break;
    (void)WriteAll(fd, data.data(), data.size());
  }
  return made;
}

bool TNtfsEraser::Erase() {
  RemoveLeftovers();
  // Without a readable MFT bitmap no free record is known to fill.
  FillFreeRecords(Disk ? CountFreeMftRecords(*Disk).value_or(0) : 0);
  CloseFileHandles();
  bool result = TDiskEraser::Erase();
  CloseFileHandles();
  if (Sink) Sink->EraseDone(Disk);
  return result;
}

}  // namespace mirel
