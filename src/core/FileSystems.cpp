#include "core/FileSystems.h"

#include <array>
#include <mutex>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryStream.h"

namespace mirel {

namespace {
std::mutex RegistryLock;
std::array<TFileSystemDriver, 256> Registry;
std::array<bool, 256> Registered{};
}  // namespace

void RegisterFileSystem(uint8_t code, TFileSystemDriver driver) {
  std::lock_guard<std::mutex> guard(RegistryLock);
  Registry[code] = std::move(driver);
  Registered[code] = true;
}

const TFileSystemDriver* FindFileSystem(uint8_t code) {
  std::lock_guard<std::mutex> guard(RegistryLock);
  return Registered[code] ? &Registry[code] : nullptr;
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

std::unique_ptr<TRecoveryStream> CreateRecoveryStream(PFileInfo entry, const std::string& streamName) {
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
