#include "fat/FatStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "fat/FatScaner.h"

namespace mirel {

TRecoveryFatStream::TRecoveryFatStream(TDiskObject* disk, TFileInfo* entry) : TRecoveryStream(disk, entry) {
  Fat = dynamic_cast<TFatScaner*>(Scaner.get());
  const TFatEntryInfo* rec = FatEntryOf(Entry);
  if (!rec) {
    Entry = nullptr;  // no file record: the stream stays empty
    return;
  }
  if (!Fat || Fat->ClusterSize == 0) {
    FMissing.Add(0, Entry->Size);
    return;
  }
  try {
    Info = *rec;
    Fat->GetFileClusChain(Info, static_cast<uint32_t>(Entry->Size));
    Buffer.resize(Fat->ClusterSize);
    // Data the chain does not reach (its first cluster in use again, the
    // volume's end, a broken chain of a live file) are lost.
    const int64_t reached = static_cast<int64_t>(Info.ClusChain.size()) * Fat->ClusterSize;
    if (reached < Entry->Size) FMissing.Add(reached, Entry->Size - reached);
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: SetLength raised exception; S = %p; NewLength = %u", "FatStream.Create",
                  static_cast<void*>(&Buffer), Fat->ClusterSize);
    Info.ClusChain.clear();
    Buffer.clear();
    FMissing.Add(0, Entry->Size);
  }
}

void TRecoveryFatStream::MarkUnreadable(const TByteRanges& unreadable, int64_t at) {
  for (const TByteRange& r : unreadable) {
    const int64_t from = at + r.Offset, to = std::min(at + r.End(), GetSize());
    if (to > from) FMissing.Add(from, to - from);
  }
}

TRecoveryFatStream::~TRecoveryFatStream() = default;

uint64_t TRecoveryFatStream::RunFrom(uint64_t k, uint64_t most) const {
  const TClusChain& chain = Info.ClusChain;
  const int64_t cs = Fat->ClusterSize;
  uint64_t run = 1;
  while (run < most && k + run < chain.size() && chain[k + run] == chain[k + run - 1] + cs) ++run;
  return run;
}

size_t TRecoveryFatStream::CopyTo(int outFd, size_t count) {
  if (!Entry || !Fat) return 0;
  const uint64_t cs = Fat->ClusterSize;
  const TClusChain& chain = Info.ClusChain;
  const int64_t size = GetSize();
  if (cs == 0 || FPosition >= size || FPosition % cs != 0) return 0;
  const uint64_t k = static_cast<uint64_t>(FPosition) / cs;
  const uint64_t most = std::min<uint64_t>(count, static_cast<uint64_t>(size - FPosition)) / cs;
  if (k >= chain.size() || most == 0) return 0;
  const size_t got = Fat->Handle.CopyTo(outFd, RunFrom(k, most) * cs, chain[k]);
  ++Reads;
  FPosition += static_cast<int64_t>(got);
  return got;
}

size_t TRecoveryFatStream::Read(void* buffer, size_t count) {
  if (!Entry || !buffer) return 0;
  const uint64_t cs = Fat ? Fat->ClusterSize : 0;
  const TClusChain& chain = Info.ClusChain;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (count > 0) {
    const int64_t size = GetSize();
    if (FPosition >= size) break;
    const uint64_t wanted = std::min<uint64_t>(count, static_cast<uint64_t>(size - FPosition));
    const uint64_t k = cs ? static_cast<uint64_t>(FPosition) / cs : 0;
    size_t n;
    if (cs == 0 || Buffer.empty() || k >= chain.size()) {
      // Past the chain: lost, and already among the missing ranges.
      n = static_cast<size_t>(wanted);
      std::memset(out + done, 0, n);
    } else if (const uint64_t off = static_cast<uint64_t>(FPosition) - k * cs; off == 0 && wanted >= cs) {
      // Whole clusters straight into the destination, a run of clusters that
      // follow one another on the volume at a time.
      n = static_cast<size_t>(RunFrom(k, wanted / cs) * cs);
      TByteRanges unreadable;
      (void)ReadDiskPatched(Fat->Handle, out + done, n, chain[k], unreadable);
      ++Reads;
      MarkUnreadable(unreadable, FPosition);
    } else {
      if (static_cast<int64_t>(k) != CachedCluster) {
        TByteRanges unreadable;
        (void)ReadDiskPatched(Fat->Handle, Buffer.data(), cs, chain[k], unreadable);
        ++Reads;
        MarkUnreadable(unreadable, static_cast<int64_t>(k * cs));
        CachedCluster = static_cast<int64_t>(k);
      }
      n = static_cast<size_t>(std::min<uint64_t>(cs - off, wanted));
      std::memcpy(out + done, Buffer.data() + off, n);
    }
    FPosition += static_cast<int64_t>(n);
    done += n;
    count -= n;
  }
  return done;
}

}  // namespace mirel
