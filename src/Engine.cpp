#include "Engine.h"

#include <mutex>

#include "ntfs/NtfsDriver.h"

namespace mirel {

void StartEngine() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Each file system adds its registration here.
    RegisterNtfsFileSystem();
  });
}

}  // namespace mirel
