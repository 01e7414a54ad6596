#include "core/FileSystems.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryStream.h"

namespace mirel {

namespace {

struct TRegistry {
  std::mutex Lock;
  // Drivers never move once registered: the code table points into them.
  std::vector<std::unique_ptr<TFileSystemDriver>> Drivers;
  std::array<const TFileSystemDriver*, 256> ByCode{};
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

void RegisterFileSystem(TFileSystemDriver driver) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Drivers.push_back(std::make_unique<TFileSystemDriver>(std::move(driver)));
  for (const TFileSystemCodeName& c : r.Drivers.back()->Codes)
    if (c.Code != 0) r.ByCode[c.Code] = r.Drivers.back().get();
}

const TFileSystemDriver* FindFileSystem(uint8_t code) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  return r.ByCode[code];
}

std::vector<const TFileSystemDriver*> FileSystemDrivers() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  std::vector<const TFileSystemDriver*> out;
  for (const auto& d : r.Drivers) out.push_back(d.get());
  return out;
}

std::string FileSystemCodeName(uint8_t code) {
  if (const TFileSystemDriver* driver = FindFileSystem(code))
    for (const TFileSystemCodeName& c : driver->Codes)
      if (c.Code == code) return c.Name;
  return {};
}

uint8_t DetectFileSystem(std::span<const uint8_t> bootSector) {
  std::string fault;
  for (const TFileSystemDriver* driver : FileSystemDrivers()) {
    if (!driver->Detect) continue;
    try {
      if (uint8_t code = driver->Detect(bootSector); code != fsNone) return code;
    } catch (const std::runtime_error& e) {
      if (fault.empty()) fault = e.what();
    }
  }
  if (!fault.empty()) throw std::runtime_error(fault);
  return fsNone;
}

uint8_t FileSystemOfMountType(const std::string& fsType) {
  for (const TFileSystemDriver* driver : FileSystemDrivers())
    if (!driver->Codes.empty() &&
        std::find(driver->MountTypes.begin(), driver->MountTypes.end(), fsType) != driver->MountTypes.end())
      return driver->Codes.front().Code;
  return fsNone;
}

std::unique_ptr<TDiskScaner> CreateDiskScaner(TDiskObject* disk) {
  if (!disk) return nullptr;
  const TFileSystemDriver* driver = FindFileSystem(disk->FileSystem);
  if (!driver || !driver->CreateScaner) return nullptr;
  try {
    return driver->CreateScaner(*disk);
  } catch (...) {
    WriteDebugLog("%s: attempt of creating scanner raised exception; Disk = %s", "CreateDiskScaner",
                  disk->Name.c_str());
    return nullptr;
  }
}

std::unique_ptr<TRecoveryStream> CreateRecoveryStream(TFileInfo* entry, const std::string& streamName) {
  if (!entry || !entry->Disk) return nullptr;
  const TFileSystemDriver* driver = FindFileSystem(entry->Disk->FileSystem);
  if (!driver || !driver->CreateStream) return nullptr;
  try {
    return driver->CreateStream(*entry->Disk, entry, streamName);
  } catch (...) {
    WriteDebugLog("%s: attempt of creating stream raised exception; Disk = %s", "RecoveryManager.CreateRecoveryStream",
                  entry->Disk->Name.c_str());
    return nullptr;
  }
}

}  // namespace mirel
