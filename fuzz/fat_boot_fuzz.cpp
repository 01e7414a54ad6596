// The FAT boot sector and the geometry read from it: the input is the start
// of a volume, the volume ends where the input does.
#include "FuzzSupport.h"
#include "core/DiskScaner.h"
#include "fat/FatScaner.h"

using namespace mirel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  static fuzz::TMemImage image;
  image.Set(data, size);
  std::unique_ptr<TDiskObject> disk;
  try {
    disk = std::make_unique<TDiskObject>("fuzz.img", image.Path(), 0);
  } catch (const std::exception&) {
    return 0;
  }
  auto* fat = dynamic_cast<TFatScaner*>(disk->Scaner.get());
  if (!fat || !fat->Init()) return 0;
  for (uint32_t n : {0u, 1u, 2u, 3u, fat->MaxCluster - 1, fat->MaxCluster, fat->MaxCluster + 1, 0xFFFFFFFFu}) {
    fat->ClusterOffset(n);
    fat->GetNextCluster(n);
  }
  TFileInfo root;
  fat->GetDirClusChain(root);
  return 0;
}
