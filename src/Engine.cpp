#include "Engine.h"

#include <mutex>

#include "exfat/ExfatDriver.h"
#include "fat/FatDriver.h"
#include "ntfs/NtfsDriver.h"

namespace mirel {

void StartEngine() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFatFileSystems();
    RegisterNtfsFileSystem();
    RegisterExfatFileSystem();
  });
}

}  // namespace mirel
