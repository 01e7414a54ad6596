#pragma once
// What the mount table says about a path: the file system holding it and the
// device it was mounted from.
#include <sys/types.h>
#include <optional>
#include <string>
#include <vector>

namespace mirel {

struct TMountEntry {
  std::string MountPoint;
  std::string FsType;  // kernel name: vfat, fuseblk, ntfs3, ext4 ...
  std::string Source;  // /dev/sdb1, or what the mount names
  unsigned Major = 0, Minor = 0;
  bool ReadOnly = false;
};

// The entries of a mountinfo file, unescaped ("\040" is a blank).
std::vector<TMountEntry> ReadMountTable(const std::string& mountinfo = "/proc/self/mountinfo");
// The mount whose mount point is the longest prefix of path (made absolute).
TMountEntry MountOf(const std::string& path, const std::vector<TMountEntry>& table);

// "NTFS" for ntfs-3g (fuseblk) and ntfs3 mounts, "FAT" for vfat/msdos, else the
// kernel's name; "Unknown" when the path is on no listed mount.
std::string GetVolumeFileSystem(const std::string& path);

// The loop devices whose backing file is the given image (absolute, symbolic
// links resolved).
std::vector<dev_t> LoopDevicesBackedBy(const std::string& image);

// The mount holding path when that file system was mounted from source: the
// block device or a partition of it, a loop device backed by the image file,
// or a FUSE mount naming the device or image as its source. A path that does
// not exist yet lies where its nearest existing folder lies.
[[nodiscard]] std::optional<TMountEntry> MountFromSource(const std::string& path, const std::string& source,
                                                         const std::vector<TMountEntry>& table);

}  // namespace mirel
