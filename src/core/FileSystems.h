#pragma once
// The one place where the engine meets the file systems: each file system
// registers a driver when the engine starts, and the volume layer asks the
// drivers instead of knowing any file system itself.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/FileInfo.h"

namespace mirel {

class TDiskObject;
class TDiskScaner;
class TDiskEraser;
class TRecoveryStream;
class TByteSource;

using TBootSector = std::array<uint8_t, 512>;

// A file-system code a driver answers for, with the name the volume is shown under.
struct TFileSystemCodeName {
  uint8_t Code = 0;
  std::string Name;
};

// Every field but Codes and Detect may be left empty: the volume then goes
// without what it gives.
struct TFileSystemDriver {
  // The codes this driver answers for ({fsFat12, "FAT12"}, ...), the first
  // standing for the file system where a mount does not tell which it is.
  std::vector<TFileSystemCodeName> Codes;
  // The name where the variant does not matter ("FAT", "NTFS").
  std::string Family;
  // Mount types (as the mount table names them) of this file system.
  std::vector<std::string> MountTypes;
  // What an erase does besides filling the free space, as the erase command
  // tells it: completes "... with random data".
  std::string EraseNote;
  // Whether entries carry named data streams, which listings show.
  bool HasNamedStreams = false;

  // The code a 512-byte boot sector holds, or 0 when it is not of this file
  // system. Throws std::runtime_error, naming the fault, for a sector of this
  // file system whose geometry cannot be used.
  std::function<uint8_t(std::span<const uint8_t> bootSector)> Detect;
  // For a file system whose boot sector is trusted only together with the
  // sectors after it (exFAT's checksummed boot region): where the region to
  // use starts when the volume's first sector names this file system (the
  // backup's offset when only that copy is whole); nothing otherwise. Asked
  // before Detect.
  std::function<std::optional<int64_t>(const TByteSource& volume)> FindBootRegion;
  // Where a backup copy of the boot sector lies, read into sector, for a
  // volume whose first sector is damaged; nothing when there is no plain copy.
  std::function<std::optional<int64_t>(const TByteSource& volume, TBootSector& sector)> FindBackupBootSector;
  // A scanner for the volume, not initialised.
  std::function<std::unique_ptr<TDiskScaner>(TDiskObject&)> CreateScaner;
  // A stream over an entry's data; streamName selects a named stream where
  // the file system has them (empty: the main data).
  std::function<std::unique_ptr<TRecoveryStream>(TDiskObject&, TFileInfo*, const std::string&)> CreateStream;
  // Fills in what only the file system knows: label, serial, free bytes, the
  // volume's size by its boot sector.
  std::function<void(TDiskObject&, const TByteSource&)> ReadVolumeInfo;
  // The eraser of the volume mounted at root.
  std::function<std::unique_ptr<TDiskEraser>(TDiskObject&, const std::string& root)> CreateEraser;
};

void RegisterFileSystem(TFileSystemDriver driver);
// The driver of a code; null for 0 and for codes no driver answers for.
const TFileSystemDriver* FindFileSystem(uint8_t code);
// Every driver, in the order they were registered.
std::vector<const TFileSystemDriver*> FileSystemDrivers();
// "FAT32", "NTFS"; empty for a code no driver answers for.
std::string FileSystemCodeName(uint8_t code);

// The file-system code of a 512-byte boot sector, asking each driver; 0 when
// none takes it. Throws std::runtime_error when a driver takes the sector but
// cannot use its geometry.
[[nodiscard]] uint8_t DetectFileSystem(std::span<const uint8_t> bootSector);
// The code a mount type implies (vfat: FAT, ntfs3: NTFS); 0 when none does.
[[nodiscard]] uint8_t FileSystemOfMountType(const std::string& fsType);

// The factories: nothing for an unknown file system or one without a driver.
std::unique_ptr<TDiskScaner> CreateDiskScaner(TDiskObject* disk);
std::unique_ptr<TRecoveryStream> CreateRecoveryStream(TFileInfo* entry, const std::string& streamName = {});

}  // namespace mirel
