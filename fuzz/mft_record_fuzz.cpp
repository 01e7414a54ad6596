// One MFT record with its attributes and update-sequence fixups. The input is
// record 0 to 15 of a small MFT at once, so attribute lists that name other
// records find the same bytes again.
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "ntfs/MftReader.h"

using namespace mirel;

namespace {

constexpr uint32_t kRecord = 1024, kRecords = 16, kCluster = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  static fuzz::TMemImage image;
  std::vector<uint8_t> rec(data, data + std::min<size_t>(size, kRecord));
  rec.resize(kRecord);
  image.Set(nullptr, 0, int64_t{kRecord} * kRecords);
  for (uint32_t n = 0; n < kRecords; ++n) image.WriteAt(int64_t{n} * kRecord, rec.data(), rec.size());
  TRawSource handle = TRawSource::Open(image.Path());
  TMftReader reader(&handle);
  reader.RecordSize = kRecord;
  reader.BytesPerSector = 512;
  reader.ClusterSize = kCluster;
  reader.MftLcn = 0;
  reader.VolumeClusters = kRecord * kRecords / kCluster;
  reader.MftRunList = {{0, 0, static_cast<uint32_t>(reader.VolumeClusters)}};
  reader.MftDataSize = int64_t{kRecord} * kRecords;

  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> fi = reader.ReadFileInfo(size % 2 ? rfDeletedOnly : 0, valid, rec);
  if (!fi) return 0;
  TFileInfo entry;
  entry.Name = reader.GetFileName(*fi);
  entry.Size = reader.GetFileSize(*fi);
  if (!reader.GetStdInfo(entry, *fi)) entry.Attributes = 0;
  for (const TNamedStream& s : reader.GetFileStreams(*fi)) {
    const TStreamRuns runs = reader.GetFileDataStreamsRunList(*fi, s.Name);
    if (runs.First && !reader.ReadAttrContent(runs.First, 65536) && !runs.First.NonResident()) std::abort();
  }
  if (reader.GetEfsData(*fi).size() > (256 << 10)) std::abort();
  return 0;
}
