#include "exfat/ExfatDriver.h"

#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "exfat/ExfatScaner.h"
#include "exfat/ExfatStream.h"
#include "exfat/ExfatVolume.h"

namespace mirel {

void RegisterExfatFileSystem() {
  TFileSystemDriver driver;
  driver.CreateScaner = [](TDiskObject& disk) -> std::unique_ptr<TDiskScaner> {
    return std::make_unique<TExfatScaner>(&disk);
  };
  driver.CreateStream = [](TDiskObject& disk, PFileInfo entry, const std::string&) -> std::unique_ptr<TRecoveryStream> {
    return std::make_unique<TExfatStream>(&disk, entry);
  };
  driver.ReadVolumeInfo = [](TDiskObject& disk, const TByteSource&) { ReadExfatVolumeInfo(disk); };
  RegisterFileSystem(fsExfat, std::move(driver));
}

}  // namespace mirel
