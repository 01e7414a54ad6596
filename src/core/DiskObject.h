#pragma once
// One volume: an image file, a block device, or a window of either. It reads
// the boot sector itself to learn the file system, owns the catalogue of
// entries found on it, and the scanner that fills the catalogue.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/ByteRanges.h"
#include "core/Catalogue.h"
#include "core/FileInfo.h"
#include "core/FileSystems.h"
#include "platform/SourceHandle.h"

namespace mirel {

class TDiskScaner;

enum TFileSystemCode : uint8_t { fsNone = 0, fsFat12 = 1, fsFat16 = 2, fsFat32 = 3, fsNtfs = 4, fsExfat = 5 };

class TDiskObject {
public:
  // name: the volume name shown to the user (sdb1, card.img). base/length
  // confine the volume to a window of the source (length < 0: to its end).
  // Throws std::runtime_error when the boot sector's geometry cannot be used.
  TDiskObject(std::string name, std::string path, unsigned driveType, int64_t base = 0, int64_t length = -1);
  virtual ~TDiskObject();
  TDiskObject(const TDiskObject&) = delete;
  TDiskObject& operator=(const TDiskObject&) = delete;

  virtual void ClearCatalogue();
  // A fresh read-only handle on the volume; invalid when it cannot be opened.
  TSourceHandle AllocHandle() const;

  // Every entry the last scan found; Files and Folders are its two lists.
  TCatalogue Catalogue;
  TDiskItems& Files = Catalogue.Files;
  TDiskItems& Folders = Catalogue.Folders;
  std::unique_ptr<TDiskScaner> Scaner;
  std::string Name;
  std::string Path;
  int64_t Base = 0;
  int64_t Length = -1;
  // Bytes the source holds for the volume.
  int64_t TotalSize = 0;
  // Free bytes, counted only where the source holds them.
  int64_t FreeSize = 0;
  // Bytes the boot sector says the volume has (0 when unknown); more than
  // TotalSize when the image was cut short.
  int64_t VolumeBytes = 0;
  bool IsCutShort() const { return VolumeBytes > TotalSize; }
  std::string FileSystemName;
  std::string VolumeLabel;
  uint8_t FileSystem = fsNone;
  unsigned DriveType = 0;
  uint32_t SerialNumber = 0;
  // Where the boot sector in use lies: 0, or a backup copy when the first
  // sector is damaged (scanners read their geometry from here).
  int64_t BootSectorOffset = 0;
  bool BackupBootSector() const { return BootSectorOffset != 0; }
  // Why the volume cannot be read (empty when it can): names the reason.
  std::string OpenError;
  int OpenErrno = 0;

private:
  void ReadVolumeInfo();
  [[nodiscard]] uint8_t FindBootSector(const TByteSource& h, TBootSector& boot);
};

// "image holds N of M bytes of the volume" when the source is shorter than
// the volume its boot sector describes; empty otherwise.
std::string CutShortNote(const TDiskObject& disk);

// Reads the 512-byte boot sector in use (the backup one where the volume
// needed it); false when fewer bytes arrive.
[[nodiscard]] bool ReadBootSector(const TDiskObject& disk, const TByteSource& handle, uint8_t* sector512);

// Reads count bytes at a byte offset of the volume; returns the bytes delivered.
[[nodiscard]] size_t ReadDisk(const TByteSource& handle, void* buffer, size_t count, int64_t offset);
// Size of the pieces a failed read is retried in: one sector.
constexpr size_t READ_RETRY_BYTES = 512;
// Reads count bytes at offset whatever happens: a read that fails is retried
// in smaller pieces down to one sector, so an unreadable sector costs only
// itself. What cannot be read (a read error, past the end of the source) is
// zero-filled and added to unreadable, as ranges relative to offset. Returns
// the bytes that were read.
[[nodiscard]] size_t ReadDiskPatched(const TByteSource& handle, void* buffer, size_t count, int64_t offset,
                                     TByteRanges& unreadable);

}  // namespace mirel
