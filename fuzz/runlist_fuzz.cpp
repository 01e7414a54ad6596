// The run-list decoder: the input is a starting VCN of eight bytes, then the
// mapping pairs.
#include <cstdlib>
#include <cstring>
#include <span>

#include "FuzzSupport.h"
#include "ntfs/RunList.h"

using namespace mirel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  int64_t startVcn = 0;
  if (size >= 8) {
    std::memcpy(&startVcn, data, 8);
    data += 8;
    size -= 8;
  }
  std::optional<TRunList> runs = DecodeRunList(std::span<const uint8_t>(data, size), startVcn);
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
