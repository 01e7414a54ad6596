#include "fat/FatDriver.h"

#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "fat/FatScaner.h"
#include "fat/FatStream.h"

namespace mirel {

void RegisterFatFileSystems() {
  for (uint8_t code : {fsFat12, fsFat16, fsFat32}) {
    TFileSystemDriver driver;
    driver.CreateScaner = [code](TDiskObject& disk) -> std::unique_ptr<TDiskScaner> {
      return MakeFatScaner(code, &disk);
    };
    driver.CreateStream = [](TDiskObject& disk, PFileInfo entry,
                             const std::string&) -> std::unique_ptr<TRecoveryStream> {
      return std::make_unique<TRecoveryFatStream>(&disk, entry);
    };
    driver.ReadVolumeInfo = [code](TDiskObject& disk, const TByteSource&) {
      std::unique_ptr<TFatScaner> scaner = MakeFatScaner(code, &disk);
      // A boot sector the scanner cannot use is logged when it is scanned.
      scaner->LogInitFailures = false;
      if (!scaner->Init()) return;
      disk.VolumeBytes = int64_t{scaner->TotalSectors} * scaner->BytesPerSector;
      disk.FreeSize = scaner->CountFreeClusters() * scaner->ClusterSize;
    };
    RegisterFileSystem(code, std::move(driver));
  }
}

}  // namespace mirel
