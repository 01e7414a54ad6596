#include "exfat/ExfatDriver.h"

#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "exfat/ExfatBootSector.h"
#include "exfat/ExfatEraser.h"
#include "exfat/ExfatScaner.h"
#include "exfat/ExfatStream.h"
#include "exfat/ExfatVolume.h"

namespace mirel {

void RegisterExfatFileSystem() {
  TFileSystemDriver driver;
  driver.Codes = {{fsExfat, "exFAT"}};
  driver.Family = "exFAT";
  driver.MountTypes = {"exfat", "fuse.exfat"};
  driver.EraseNote = " and takes every free folder entry with an empty file";
  driver.FindBootRegion = [](const TByteSource& volume) { return FindExfatBootRegion(volume, true); };
  driver.Detect = [](std::span<const uint8_t> sector) -> uint8_t {
    return exfat::IsExfatBootSector(sector) && exfat::DecodeBootSector(sector) ? fsExfat : fsNone;
  };
  // Behind a first sector that names nothing: the backup region, when whole.
  driver.FindBackupBootSector = [](const TByteSource& volume, TBootSector& sector) -> std::optional<int64_t> {
    const std::optional<int64_t> at = FindExfatBootRegion(volume, false);
    if (!at || *at == 0 || ReadDisk(volume, sector.data(), sector.size(), *at) != sector.size()) return std::nullopt;
    return at;
  };
  driver.CreateScaner = [](TDiskObject& disk) -> std::unique_ptr<TDiskScaner> {
    return std::make_unique<TExfatScaner>(&disk);
  };
  driver.CreateStream = [](TDiskObject& disk, TFileInfo* entry,
                           const std::string&) -> std::unique_ptr<TRecoveryStream> {
    return std::make_unique<TExfatStream>(&disk, entry);
  };
  driver.ReadVolumeInfo = [](TDiskObject& disk, const TByteSource&) { ReadExfatVolumeInfo(disk); };
  driver.CreateEraser = [](TDiskObject& disk, const std::string& root) -> std::unique_ptr<TDiskEraser> {
    return std::make_unique<TExfatEraser>(&disk, root);
  };
  RegisterFileSystem(std::move(driver));
}

}  // namespace mirel
