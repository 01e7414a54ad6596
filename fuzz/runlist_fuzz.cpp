// The run-list decoder: the input is the mapping pairs of a non-resident
// attribute, whose first eight bytes give the starting VCN.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "ntfs/RunList.h"

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

  std::optional<TRunList> runs = DecompressRunList(TNtfsAttr(attr, 0, a.size()));
  if (!runs) return 0;
  // Placed by VCN, every run that maps anything is found at its own start.
  TStreamRuns placed;
  if (!placed.Place(*runs)) return 0;
  for (size_t i = 0; i < placed.Runs.size(); ++i)
    if (placed.RunEnd(i) > placed.Runs[i].Vcn && placed.Find(placed.Runs[i].Vcn) != static_cast<int>(i)) std::abort();
  int64_t covered = 0;
  for (const TVcnRange& gap : placed.Gaps(1 << 20)) covered += gap.End - gap.First;
  if (covered < 0 || covered > (1 << 20)) std::abort();
  return 0;
}
