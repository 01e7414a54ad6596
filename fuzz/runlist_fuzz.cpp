// The run-list decoder: the input is the mapping pairs of a non-resident
// attribute, whose first eight bytes give the starting VCN.
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "ntfs/MftReader.h"

using namespace mirel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  constexpr size_t kHeader = 64;
  auto attr = std::make_shared<std::vector<uint8_t>>(kHeader, 0);
  std::vector<uint8_t>& a = *attr;
  a[0] = 0x80;
  a[8] = 1;
  a[0x20] = kHeader;
  if (size >= 8) {
    std::memcpy(&a[0x10], data, 8);
    data += 8;
    size -= 8;
  }
  a.insert(a.end(), data, data + size);
  const uint32_t length = static_cast<uint32_t>(a.size());
  std::memcpy(&a[4], &length, 4);

  static TMftReader reader(nullptr);
  reader.ClusterSize = 4096;
  reader.RecordSize = 1024;
  reader.BytesPerSector = 512;
  TRunList runs;
  if (reader.DecompressRunList(TNtfsAttr(attr, 0, a.size()), runs)) {
    for (const TNtfsRun& r : runs) reader.ClusterOffset(r.Lcn);
  } else if (!runs.empty()) {
    std::abort();  // a refused list leaves no runs behind
  }
  return 0;
}
