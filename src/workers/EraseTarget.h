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
  // The file-system code the mount type implies; 0 when it tells none.
  uint8_t FileSystem = 0;
};

// Finds the mount of a device, of an image file (mounted by FUSE or through a
// loop device), or takes a mount point given directly. False with a message
// for the user in why when the volume is not mounted, is mounted read-only,
// or the path is a folder that is not a mount point.
bool FindEraseTarget(const std::string& sourceOrMount, const std::vector<TMountEntry>& table, TEraseTarget& target,
                     std::string& why);

}  // namespace mirel
