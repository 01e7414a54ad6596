#include "ntfs/NtfsDriver.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "core/Text.h"
#include "ntfs/NtfsBootSector.h"
#include "ntfs/NtfsEraser.h"
#include "ntfs/NtfsScaner.h"
#include "ntfs/RecoveryNtfsStream.h"

namespace mirel {

namespace {

constexpr uint32_t atVolumeName = 0x60;

// NTFS keeps a copy of its boot sector in the volume's last sector; it
// counts only when it is plainly one.
std::optional<int64_t> FindNtfsBackup(const TByteSource& volume, TBootSector& sector) {
  const int64_t at = (volume.Size() / 512 - 1) * 512;
  if (at <= 0 || ReadDisk(volume, sector.data(), sector.size(), at) != sector.size()) return std::nullopt;
  const std::optional<TNtfsBootSector> boot = DecodeNtfsBootSector(sector);
  if (!boot || !boot->NamedNtfs || !boot->HasSignature) return std::nullopt;
  return at;
}

std::string ReadVolumeLabel(const TMftReader& reader) {
  TRecordBytes rec = reader.OpenMftRec(reader.GetRecordOffset(VOLUME_RECORD));
  std::span<const uint8_t> v = reader.FindAttrInRecord(rec, atVolumeName, -1).Value();
  return Utf16LeToUtf8(v.data(), v.size() / 2);
}

// Free clusters among the first clusters of the volume, counted over the
// bitmap; bits that cannot be read count as clusters in use.
int64_t CountFreeClusters(const TMftReader& reader, int64_t clusters) {
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> rec = reader.ReadFileInfo(0, valid, reader.GetRecordOffset(BITMAP_RECORD));
  if (!rec) return 0;
  rec->RecordNumber = BITMAP_RECORD;
  TFileInfo entry;
  entry.Size = reader.GetFileSize(*rec);
  entry.FsInfo = std::move(rec);
  TRecoveryNtfsStream bitmap(&reader, &entry);
  std::vector<uint8_t> buf(1 << 20);
  int64_t seen = 0, free = 0;
  while (seen < clusters) {
    size_t got = ReadMarkingMissing(bitmap, buf.data(), buf.size());
    if (got == 0) break;
    for (size_t i = 0; i < got && seen < clusters; ++i) {
      uint8_t used = buf[i];
      int bits = static_cast<int>(std::min<int64_t>(8, clusters - seen));
      if (bits < 8) used |= static_cast<uint8_t>(0xFF << bits);
      free += 8 - std::popcount(used);
      seen += bits;
    }
  }
  return free;
}

}  // namespace

uint8_t DetectNtfs(std::span<const uint8_t> bootSector) {
  // No FAT tables, no root entries, no 16-bit table size: NTFS, whatever the
  // OEM name says. A blank sector matches the rule too, but has no geometry
  // at all and is no file system.
  if (bootSector.size() < 512) return fsNone;
  return DecodeNtfsBootSector(bootSector) ? fsNtfs : fsNone;
}

std::optional<int64_t> CountFreeMftRecords(const TDiskObject& disk) {
  TSourceHandle handle = disk.AllocHandle();
  if (!handle.IsValid()) return std::nullopt;
  TMftReader reader(&handle, disk.BootSectorOffset);
  return reader.CountFreeMftRecords();
}

void ReadNtfsVolumeInfo(TDiskObject& disk, const TByteSource& handle) {
  TMftReader reader(&handle, disk.BootSectorOffset);
  const TNtfsBootSector& boot = reader.Boot;
  disk.SerialNumber = static_cast<uint32_t>(boot.Serial);
  if (const int64_t bytes = boot.VolumeBytes(); bytes != 0) disk.VolumeBytes = bytes;
  if (reader.MftRunList.empty()) return;
  disk.VolumeLabel = ReadVolumeLabel(reader);
  // Only the clusters the source holds can be free for recovery.
  const auto clusters =
      std::min<int64_t>(static_cast<int64_t>(boot.TotalSectors / boot.SectorsPerCluster), reader.VolumeClusters);
  disk.FreeSize = CountFreeClusters(reader, clusters) * reader.ClusterSize;
}

void RegisterNtfsFileSystem() {
  TFileSystemDriver driver;
  driver.Codes = {{fsNtfs, "NTFS"}};
  driver.Family = "NTFS";
  driver.MountTypes = {"ntfs3", "ntfs", "fuse.ntfs-3g"};
  driver.EraseNote = ", after taking every free MFT record with a tiny file";
  driver.HasNamedStreams = true;
  driver.Detect = DetectNtfs;
  driver.FindBackupBootSector = FindNtfsBackup;
  driver.CreateScaner = [](TDiskObject& disk) { return std::make_unique<TNtfsScaner>(&disk); };
  driver.CreateStream = [](TDiskObject& disk, TFileInfo* entry,
                           const std::string& streamName) -> std::unique_ptr<TRecoveryStream> {
    return std::make_unique<TRecoveryNtfsStream>(&disk, entry, streamName);
  };
  driver.ReadVolumeInfo = ReadNtfsVolumeInfo;
  driver.CreateEraser = [](TDiskObject& disk, const std::string& root) -> std::unique_ptr<TDiskEraser> {
    return std::make_unique<TNtfsEraser>(&disk, root);
  };
  RegisterFileSystem(std::move(driver));
}

}  // namespace mirel
