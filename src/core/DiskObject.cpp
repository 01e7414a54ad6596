#include "core/DiskObject.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "core/DebugLog.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"

namespace mirel {

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

std::string CutShortNote(const TDiskObject& disk) {
  if (!disk.IsCutShort()) return {};
  return "image holds " + std::to_string(disk.TotalSize) + " of " + std::to_string(disk.VolumeBytes) +
         " bytes of the volume";
}

bool ReadBootSector(const TDiskObject& disk, const TByteSource& handle, uint8_t* sector512) {
  return ReadDisk(handle, sector512, 512, disk.BootSectorOffset) == 512;
}

uint8_t TDiskObject::FindBootSector(const TByteSource& h, TBootSector& boot) {
  for (const TFileSystemDriver* driver : FileSystemDrivers()) {
    if (!driver->FindBootRegion || driver->Codes.empty()) continue;
    const std::optional<int64_t> at = driver->FindBootRegion(h);
    if (!at) continue;
    if (*at != 0 && ReadDisk(h, boot.data(), boot.size(), *at) != boot.size()) continue;
    BootSectorOffset = *at;
    return driver->Codes.front().Code;
  }
  std::string primaryError;
  try {
    if (uint8_t fs = DetectFileSystem(boot); fs != fsNone) return fs;
  } catch (const std::exception& e) {
    primaryError = e.what();
  }
  // A damaged first sector: the file systems that keep a copy look for it.
  for (const TFileSystemDriver* driver : FileSystemDrivers()) {
    if (!driver->FindBackupBootSector || !driver->Detect) continue;
    TBootSector copy{};
    const std::optional<int64_t> at = driver->FindBackupBootSector(h, copy);
    if (!at) continue;
    try {
      if (uint8_t fs = driver->Detect(copy); fs != fsNone) {
        boot = copy;
        BootSectorOffset = *at;
        return fs;
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
  TBootSector boot{};
  if (ReadDisk(h, boot.data(), boot.size(), 0) < boot.size()) {
    OpenError = "too small to hold a boot sector";
    return;
  }
  FileSystem = FindBootSector(h, boot);
  FileSystemName = FileSystemCodeName(FileSystem);
  if (const TFileSystemDriver* driver = FindFileSystem(FileSystem); driver && driver->ReadVolumeInfo)
    driver->ReadVolumeInfo(*this, h);
}

}  // namespace mirel
