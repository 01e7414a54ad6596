#include "exfat/ExfatStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "exfat/ExfatScaner.h"

namespace mirel {

TExfatStream::TExfatStream(TDiskObject* disk, TFileInfo* entry) : TRecoveryStream(disk, entry) {
  Exfat = dynamic_cast<TExfatScaner*>(Scaner.get());
  const TExfatFileInfo* rec = ExfatInfoOf(Entry);
  if (!rec || rec->IsDirectory) {
    Entry = nullptr;  // no file record: the stream stays empty
    return;
  }
  ValidLength = static_cast<int64_t>(std::min<uint64_t>(rec->ValidDataLength, static_cast<uint64_t>(Entry->Size)));
  if (!Exfat || Exfat->ClusterSize == 0) {
    FMissing.Add(0, ValidLength);
    return;
  }
  try {
    Build();
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: out of memory; Name = %s", "ExfatStream.Create", Entry->Name.c_str());
    Map.clear();
    FMissing.Clear();
    FMissing.Add(0, ValidLength);
  }
}

TExfatStream::~TExfatStream() = default;

void TExfatStream::Build() {
  const TExfatFileInfo& rec = *ExfatInfoOf(Entry);
  const int64_t cs = Exfat->ClusterSize;
  const int64_t sourceEnd = Exfat->Handle.Size();
  int64_t pos = 0;
  // Only the valid part is read: the rest is zeros whatever the clusters hold.
  auto add = [&](int64_t offset, int64_t length, bool usable) {
    length = std::min(length, ValidLength - pos);
    if (length <= 0) return;
    const int64_t held = usable ? std::clamp<int64_t>(sourceEnd - offset, 0, length) : 0;
    if (held > 0) {
      if (!Map.empty() && Map.back().Position + Map.back().Length == pos &&
          Map.back().Offset + Map.back().Length == offset)
        Map.back().Length += held;
      else
        Map.push_back({pos, offset, held});
    }
    if (held < length) FMissing.Add(pos + held, length - held);
    pos += length;
  };
  for (const TExfatRun& r : Exfat->DataRuns(rec)) {
    if (!rec.Deleted) {
      add(Exfat->ClusterOffset(r.First), int64_t{r.Count} * cs, true);
      continue;
    }
    // A deleted file's clusters that are in use again hold other data.
    for (uint32_t k = 0; k < r.Count && pos < ValidLength;) {
      const bool free = Exfat->IsClusterFree(r.First + k);
      uint32_t same = 1;
      while (k + same < r.Count && Exfat->IsClusterFree(r.First + k + same) == free) ++same;
      add(Exfat->ClusterOffset(r.First + k), int64_t{same} * cs, free);
      k += same;
    }
  }
  // What the runs do not reach is lost.
  if (pos < ValidLength) FMissing.Add(pos, ValidLength - pos);
}

const TExfatStream::TExtent* TExfatStream::ExtentAt(int64_t pos) const {
  auto it = std::upper_bound(Map.begin(), Map.end(), pos, [](int64_t p, const TExtent& e) { return p < e.Position; });
  if (it == Map.begin()) return nullptr;
  --it;
  return pos < it->Position + it->Length ? &*it : nullptr;
}

size_t TExfatStream::Read(void* buffer, size_t count) {
  if (!Entry || !buffer) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  const int64_t size = GetSize();
  size_t done = 0;
  while (count > 0 && FPosition < size) {
    auto n = static_cast<int64_t>(std::min<uint64_t>(count, static_cast<uint64_t>(size - FPosition)));
    const TExtent* e = FPosition < ValidLength ? ExtentAt(FPosition) : nullptr;
    if (e) {
      n = std::min(n, e->Position + e->Length - FPosition);
      TByteRanges unreadable;
      (void)ReadDiskPatched(Exfat->Handle, out + done, static_cast<size_t>(n), e->Offset + (FPosition - e->Position),
                            unreadable);
      ++Reads;
      for (const TByteRange& r : unreadable) FMissing.Add(FPosition + r.Offset, r.Length);
    } else {
      // Zeros up to the next extent: past the valid length, or lost (and
      // already among the missing ranges).
      if (FPosition < ValidLength) {
        auto next = std::upper_bound(Map.begin(), Map.end(), FPosition,
                                     [](int64_t p, const TExtent& x) { return p < x.Position; });
        if (next != Map.end()) n = std::min(n, next->Position - FPosition);
      }
      std::memset(out + done, 0, static_cast<size_t>(n));
    }
    FPosition += n;
    done += static_cast<size_t>(n);
    count -= static_cast<size_t>(n);
  }
  return done;
}

size_t TExfatStream::CopyTo(int outFd, size_t count) {
  if (!Entry || !Exfat || FPosition >= ValidLength) return 0;
  const TExtent* e = ExtentAt(FPosition);
  if (!e) return 0;
  const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(std::min<uint64_t>(count, INT64_MAX)),
                                                       e->Position + e->Length - FPosition));
  const size_t got = Exfat->Handle.CopyTo(outFd, n, e->Offset + (FPosition - e->Position));
  ++Reads;
  FPosition += static_cast<int64_t>(got);
  return got;
}

}  // namespace mirel
