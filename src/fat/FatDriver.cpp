#include "fat/FatDriver.h"

#include <algorithm>
#include <stdexcept>

#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "core/Text.h"
#include "fat/FatBootSector.h"
#include "fat/FatEraser.h"
#include "fat/FatScaner.h"
#include "fat/FatStream.h"

namespace mirel {

namespace {

// FAT32 keeps a copy of its boot sector in sector 6.
constexpr int64_t kBackupBootSector = 6;

uint8_t CodeOf(fat::TFatKind kind) {
  switch (kind) {
    case fat::TFatKind::Fat12: return fsFat12;
    case fat::TFatKind::Fat16: return fsFat16;
    case fat::TFatKind::Fat32: return fsFat32;
  }
  return fsNone;
}

// The label field is code page 437 text padded with spaces; a NUL ends it.
std::string TrimLabel(const std::string& raw) {
  size_t n = std::min(raw.find('\0'), raw.size());
  while (n > 0 && raw[n - 1] == ' ') --n;
  std::string s = Cp437ToUtf8(reinterpret_cast<const uint8_t*>(raw.data()), n);
  if (s == "NO NAME") return {};
  return s;
}

// The copy counts only when it is plainly one: signed, FAT32, and written
// for the sector size it is found at.
std::optional<int64_t> FindFat32Backup(const TByteSource& volume, TBootSector& sector) {
  for (int64_t sectorSize : {512, 4096}) {
    const int64_t at = kBackupBootSector * sectorSize;
    if (ReadDisk(volume, sector.data(), sector.size(), at) != sector.size()) continue;
    const std::optional<fat::TFatBootSector> b = fat::DecodeFatBootSector(sector);
    if (!b || !b->HasSignature || b->BytesPerSector != sectorSize) continue;
    try {
      if (DetectFat(sector) == fsFat32) return at;
    } catch (const std::exception&) {
    }
  }
  return std::nullopt;
}

void ReadFatVolumeInfo(TDiskObject& disk, const TByteSource& volume, uint8_t code) {
  TBootSector sector{};
  if (!ReadBootSector(disk, volume, sector.data())) return;
  if (const std::optional<fat::TFatBootSector> b = fat::DecodeFatBootSector(sector); b && b->HasSerial) {
    disk.SerialNumber = b->SerialNumber;
    disk.VolumeLabel = TrimLabel(b->Label);
  }
  std::unique_ptr<TFatScaner> scaner = MakeFatScaner(code, &disk);
  // A boot sector the scanner cannot use is logged when it is scanned.
  scaner->LogInitFailures = false;
  if (!scaner->Init()) return;
  disk.VolumeBytes = int64_t{scaner->TotalSectors} * scaner->BytesPerSector;
  disk.FreeSize = scaner->CountFreeClusters() * scaner->ClusterSize;
}

}  // namespace

uint8_t DetectFat(std::span<const uint8_t> bootSector) {
  const std::optional<fat::TFatBootSector> b = fat::DecodeFatBootSector(bootSector);
  if (!b) return fsNone;
  if (b->BytesPerSector == 0) throw std::runtime_error("boot sector gives zero bytes per sector");
  if (b->SectorsPerCluster == 0) throw std::runtime_error("boot sector gives zero sectors per cluster");
  // A volume smaller than its own tables has no data region and no file system.
  if (b->TotalSectors() <= b->FirstDataSector()) return fsNone;
  return CodeOf(b->Kind());
}

void RegisterFatFileSystems() {
  TFileSystemDriver driver;
  driver.Codes = {{fsFat12, "FAT12"}, {fsFat16, "FAT16"}, {fsFat32, "FAT32"}};
  driver.Family = "FAT";
  driver.MountTypes = {"vfat", "msdos", "fuse.fusefat"};
  driver.EraseNote = " and takes every free folder entry with an empty file";
  driver.Detect = DetectFat;
  driver.FindBackupBootSector = FindFat32Backup;
  driver.CreateScaner = [](TDiskObject& disk) -> std::unique_ptr<TDiskScaner> {
    return MakeFatScaner(disk.FileSystem, &disk);
  };
  driver.CreateStream = [](TDiskObject& disk, TFileInfo* entry,
                           const std::string&) -> std::unique_ptr<TRecoveryStream> {
    return std::make_unique<TRecoveryFatStream>(&disk, entry);
  };
  driver.ReadVolumeInfo = [](TDiskObject& disk, const TByteSource& volume) {
    ReadFatVolumeInfo(disk, volume, disk.FileSystem);
  };
  driver.CreateEraser = [](TDiskObject& disk, const std::string& root) -> std::unique_ptr<TDiskEraser> {
    return std::make_unique<TFatEraser>(&disk, root);
  };
  RegisterFileSystem(std::move(driver));
}

}  // namespace mirel
