#include "core/DiskObject.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/DebugLog.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/LeReader.h"
#include "core/Text.h"

namespace mirel {

const char* FileSystemCodeName(uint8_t code) {
  switch (code) {
    case fsFat12: return "FAT12";
    case fsFat16: return "FAT16";
    case fsFat32: return "FAT32";
    case fsNtfs: return "NTFS";
    default: return "";
  }
}

TDiskObject::TDiskObject(std::string name, std::string path, unsigned driveType, int64_t base, int64_t length)
    : Name(std::move(name)), Path(std::move(path)), Base(base), Length(length), DriveType(driveType) {
  ReadVolumeInfo();
  Scaner = CreateDiskScaner(this);
}

TDiskObject::~TDiskObject() {
  ClearCatalogue();
  Scaner.reset();
}

void TDiskObject::ClearCatalogue() {
  // The scanner's own data may point into the catalogue: it goes first.
  if (Scaner) {
    try {
      Scaner->ReleaseScanData();
    } catch (...) {
    }
  }
  Catalogue.Clear();
}

TSourceHandle TDiskObject::AllocHandle() const { return TSourceHandle::Open(Path, Base, Length); }

size_t ReadDisk(const TByteSource& handle, void* buffer, size_t count, int64_t offset) {
  return handle.Read(buffer, count, offset);
}

namespace {

// Reads [at, at + count) into out, splitting a failed read in halves down to
// one sector; returns the bytes read and records the rest in unreadable,
// relative to base.
size_t ReadSplitting(const TByteSource& handle, uint8_t* out, size_t count, int64_t at, int64_t base,
                     TByteRanges& unreadable) {
  if (count == 0) return 0;
  const size_t got = at < handle.Size() ? handle.Read(out, count, at) : 0;
  if (got == count) return got;
  // The read stopped at a place that fails, or at the end of the source.
  const int64_t failedAt = at + static_cast<int64_t>(got);
  const size_t rest = count - got;
  uint8_t* p = out + got;
  if (failedAt >= handle.Size() || rest <= READ_RETRY_BYTES) {
    std::memset(p, 0, rest);
    unreadable.Add(failedAt - base, static_cast<int64_t>(rest));
    return got;
  }
  const size_t half = std::max(READ_RETRY_BYTES, rest / 2 / READ_RETRY_BYTES * READ_RETRY_BYTES);
  return got + ReadSplitting(handle, p, half, failedAt, base, unreadable) +
         ReadSplitting(handle, p + half, rest - half, failedAt + static_cast<int64_t>(half), base, unreadable);
}

}  // namespace

size_t ReadDiskPatched(const TByteSource& handle, void* buffer, size_t count, int64_t offset, TByteRanges& unreadable) {
  if (!buffer || count == 0) return 0;
  return ReadSplitting(handle, static_cast<uint8_t*>(buffer), count, offset, offset, unreadable);
}

uint8_t DetectFileSystem(std::span<const uint8_t> bootSector) {
  TLeReader b(bootSector);
  if (b.Size() < 512) return fsNone;
  uint32_t bps = b.U16(0x0B), spc = b.U8(0x0D), rsv = b.U16(0x0E), nf = b.U8(0x10), re = b.U16(0x11);
  uint32_t fs16 = b.U16(0x16);
  if (nf == 0 && re == 0 && fs16 == 0) {
    // An NTFS boot sector; a blank sector matches the rule too, but has no
    // geometry at all and is no file system.
    return (bps != 0 && spc != 0) ? fsNtfs : fsNone;
  }
  if (bps == 0) throw std::runtime_error("boot sector gives zero bytes per sector");
  if (spc == 0) throw std::runtime_error("boot sector gives zero sectors per cluster");
  uint64_t ts = b.U16(0x13);
  if (ts == 0) ts = b.U32(0x20);
  uint64_t fatSize = fs16 ? fs16 : b.U32(0x24);
  uint64_t rds = (uint64_t{re} * 32 + bps - 1) / bps;
  uint64_t overhead = rsv + uint64_t{nf} * fatSize + rds;
  // A volume smaller than its own tables has no data region and no file system.
  if (ts <= overhead) return fsNone;
  uint64_t clusters = (ts - overhead) / spc;
  if (clusters < 4085) return fsFat12;
  if (clusters < 65525) return fsFat16;
  return fsFat32;
}

namespace {

// The label field is code page 437 text padded with spaces; a NUL ends it.
std::string TrimLabel(const uint8_t* p, size_t n) {
  n = static_cast<size_t>(std::find(p, p + n, 0) - p);
  while (n > 0 && p[n - 1] == ' ') --n;
  std::string s = Cp437ToUtf8(p, n);
  if (s == "NO NAME") return {};
  return s;
}

}  // namespace

std::string CutShortNote(const TDiskObject& disk) {
  if (!disk.IsCutShort()) return {};
  return "image holds " + std::to_string(disk.TotalSize) + " of " + std::to_string(disk.VolumeBytes) +
         " bytes of the volume";
}

bool ReadBootSector(const TDiskObject& disk, const TByteSource& handle, uint8_t* sector512) {
  return ReadDisk(handle, sector512, 512, disk.BootSectorOffset) == 512;
}

uint8_t TDiskObject::FindBootSector(const TByteSource& h, std::array<uint8_t, 512>& boot) {
  std::string primaryError;
  try {
    if (uint8_t fs = DetectFileSystem(boot); fs != fsNone) return fs;
  } catch (const std::exception& e) {
    primaryError = e.what();
  }
  // A damaged first sector: FAT32 keeps a copy at sector 6 and NTFS one in the
  // volume's last sector. A copy counts only when it is plainly one.
  std::array<uint8_t, 512> copy{};
  auto signed55AA = [&] { return copy[510] == 0x55 && copy[511] == 0xAA; };
  const int64_t ntfsBackup = (h.Size() / 512 - 1) * 512;
  if (ntfsBackup > 0 && ReadDisk(h, copy.data(), copy.size(), ntfsBackup) == copy.size() &&
      std::equal(copy.begin() + 3, copy.begin() + 11, "NTFS    ") && signed55AA()) {
    try {
      if (DetectFileSystem(copy) == fsNtfs) {
        boot = copy;
        BootSectorOffset = ntfsBackup;
        return fsNtfs;
      }
    } catch (const std::exception&) {
    }
  }
  for (int64_t sectorSize : {512, 4096}) {
    if (ReadDisk(h, copy.data(), copy.size(), 6 * sectorSize) != copy.size() || !signed55AA()) continue;
    try {
      TLeReader r(copy.data(), copy.size());
      if (DetectFileSystem(copy) == fsFat32 && r.U16(0x0B) == sectorSize) {
        boot = copy;
        BootSectorOffset = 6 * sectorSize;
        return fsFat32;
      }
    } catch (const std::exception&) {
    }
  }
  if (!primaryError.empty()) throw std::runtime_error(primaryError);
  return fsNone;
}

void TDiskObject::ReadVolumeInfo() {
  TSourceHandle h = AllocHandle();
  if (!h.IsValid()) {
    OpenErrno = h.ErrorNumber();
    OpenError = h.ErrorNumber() == EACCES || h.ErrorNumber() == EPERM
                    ? h.Error() + " (run with root rights or join the disk group)"
                    : h.Error();
    return;
  }
  TotalSize = h.Size();
  std::array<uint8_t, 512> boot{};
  if (ReadDisk(h, boot.data(), boot.size(), 0) < boot.size()) {
    OpenError = "too small to hold a boot sector";
    return;
  }
  FileSystem = FindBootSector(h, boot);
  FileSystemName = FileSystemCodeName(FileSystem);
  TLeReader b(boot.data(), boot.size());
  if (FileSystem == fsFat12 || FileSystem == fsFat16) {
    if (b.U8(0x26) == 0x29) {
      SerialNumber = b.U32(0x27);
      VolumeLabel = TrimLabel(&boot[0x2B], 11);
    }
  } else if (FileSystem == fsFat32) {
    if (b.U8(0x42) == 0x29) {
      SerialNumber = b.U32(0x43);
      VolumeLabel = TrimLabel(&boot[0x47], 11);
    }
  } else if (FileSystem == fsNtfs) {
    SerialNumber = b.U32(0x48);
  }
  if (const TFileSystemDriver* driver = FindFileSystem(FileSystem); driver && driver->ReadVolumeInfo)
    driver->ReadVolumeInfo(*this, h);
}

}  // namespace mirel
