#pragma once
// The one place where the engine meets the file systems: each file system
// registers a driver for its codes when the engine starts.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/FileInfo.h"

namespace mirel {

class TDiskObject;
class TDiskScaner;
class TRecoveryStream;
class TByteSource;

struct TFileSystemDriver {
  // A scanner for the volume, not initialised.
  std::function<std::unique_ptr<TDiskScaner>(TDiskObject&)> CreateScaner;
  // A stream over an entry's data; streamName selects a named stream where
  // the file system has them (empty: the main data).
  std::function<std::unique_ptr<TRecoveryStream>(TDiskObject&, PFileInfo, const std::string&)> CreateStream;
  // Optional: fills in what only the file system knows (label, free bytes).
  std::function<void(TDiskObject&, const TByteSource&)> ReadVolumeInfo;
};

void RegisterFileSystem(uint8_t code, TFileSystemDriver driver);
const TFileSystemDriver* FindFileSystem(uint8_t code);

// The factories: nothing for an unknown file system or one without a driver.
std::unique_ptr<TDiskScaner> CreateDiskScaner(TDiskObject* disk);
std::unique_ptr<TRecoveryStream> CreateRecoveryStream(PFileInfo entry, const std::string& streamName = {});

}  // namespace mirel
