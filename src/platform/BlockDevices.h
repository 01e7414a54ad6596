#pragma once
// The machine's block devices as the volume list sees them, read from sysfs.
#include <string>
#include <vector>

namespace mirel {

// Drive types, numbered as the volume list has always numbered them.
enum TDriveType : unsigned {
  DRIVE_UNKNOWN = 0,
  DRIVE_NO_ROOT_DIR = 1,
  DRIVE_REMOVABLE = 2,
  DRIVE_FIXED = 3,
  DRIVE_REMOTE = 4,
  DRIVE_CDROM = 5,
  DRIVE_RAMDISK = 6,
  DRIVE_IMAGE = 7,  // an image file named by the user
};

const char* DriveTypeName(unsigned type);

struct TBlockDevice {
  std::string Name;  // kernel name: sdb1, nvme0n1p2, mmcblk0p1
  std::string Path;  // /dev/<Name>
  unsigned DriveType = DRIVE_UNKNOWN;
};

// Classifies a kernel block-device name and its sysfs facts.
unsigned ClassifyBlockDevice(const std::string& name, bool removable, const std::string& devicePath);

// Usable block devices in name order: removable, fixed and RAM disks. Optical and
// network devices, empty devices, and whole disks that have partitions (their
// partitions are listed instead) are left out. sysRoot is "/sys" outside tests.
std::vector<TBlockDevice> EnumerateBlockDevices(const std::string& sysRoot = "/sys");

}  // namespace mirel
