#pragma once
// Where an erase writes: the eraser works through the mounted file system, so
// a volume named by its device or image file has to be found in the mount
// table first.
#include <string>
#include <vector>

#include "platform/Mounts.h"

namespace mirel {

struct TEraseTarget {
  std::string MountPoint;
  // What the volume was mounted from: a device, an image file, or a name the
  // file-system daemon chose.
  std::string Source;
  std::string FsType;
  // 1 to 3 for FAT, 4 for NTFS, 0 when the mount type does not tell.
  uint8_t FileSystem = 0;
};

// Finds the mount of a device, of an image file (mounted by FUSE or through a
// loop device), or takes a mount point given directly. False with a message
// for the user in why when the volume is not mounted, is mounted read-only,
// or the path is a folder that is not a mount point.
bool FindEraseTarget(const std::string& sourceOrMount, const std::vector<TMountEntry>& table, TEraseTarget& target,
                     std::string& why);

// The file-system code a mount type implies (vfat, fusefat: FAT; ntfs3: NTFS).
uint8_t FileSystemOfMountType(const std::string& fsType);

// Whether a name is one the eraser gives its temporary files (_E??????.BAK).
bool IsEraserTempName(const std::string& name);

}  // namespace mirel
