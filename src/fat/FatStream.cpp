#include "fat/FatStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "fat/FatScaner.h"

namespace mirel {

TRecoveryFatStream::TRecoveryFatStream(TDiskObject* disk, PFileInfo entry) : TRecoveryStream(disk, entry) {
  Fat = dynamic_cast<TFatScaner*>(Scaner.get());
  const TFatEntryInfo* rec = FatEntryOf(Entry);
  if (!rec) {
    Entry = nullptr;  // no file record: the stream stays empty
    return;
  }
  if (!Fat || Fat->ClusterSize == 0) return;
  try {
    Info = *rec;
    Fat->GetFileClusChain(Info, static_cast<uint32_t>(Entry->Size));
    Buffer.resize(Fat->ClusterSize);
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: SetLength raised exception; S = %p; NewLength = %u", "FatStream.Create",
                  static_cast<void*>(&Buffer), Fat->ClusterSize);
    Info.ClusChain.clear();
    Buffer.clear();
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
  if (!Entry || !Fat || Buffer.empty() || !buffer) return 0;
  const uint64_t cs = Fat->ClusterSize;
  const TClusChain& chain = Info.ClusChain;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (count > 0) {
    const int64_t size = GetSize();
    if (FPosition >= size) break;
    const uint64_t k = static_cast<uint64_t>(FPosition) / cs;
    if (k >= chain.size()) break;
    const uint64_t off = static_cast<uint64_t>(FPosition) - k * cs;
    const uint64_t wanted = std::min<uint64_t>(count, static_cast<uint64_t>(size - FPosition));
    size_t n;
    if (off == 0 && wanted >= cs) {
      // Whole clusters straight into the destination, a run of clusters that
      // follow one another on the volume at a time.
      const uint64_t run = RunFrom(k, wanted / cs);
      const size_t got = ReadDisk(Fat->Handle, out + done, run * cs, chain[k]);
      ++Reads;
      n = got / cs * cs;
      if (n > 0) {
        FPosition += static_cast<int64_t>(n);
        done += n;
        count -= n;
        if (n < run * cs) break;
        continue;
      }
      // Not even the first cluster came whole: what there is of it comes
      // through the cache below.
    }
    if (static_cast<int64_t>(k) != CachedCluster) {
      BufferFilled = ReadDisk(Fat->Handle, Buffer.data(), cs, chain[k]);
      ++Reads;
      // Only a whole cluster is kept; a short read is tried again next time.
      CachedCluster = BufferFilled == cs ? static_cast<int64_t>(k) : -1;
    }
    if (BufferFilled <= off) break;
    n = static_cast<size_t>(std::min<uint64_t>(BufferFilled - off, wanted));
    std::memcpy(out + done, Buffer.data() + off, n);
    FPosition += static_cast<int64_t>(n);
    done += n;
    count -= n;
    if (CachedCluster < 0) break;
  }
  return done;
}

}  // namespace mirel
