#include "ntfs/RecoveryNtfsStream.h"

#include <algorithm>
#include <cstring>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "ntfs/EfsImage.h"
#include "ntfs/Lznt1.h"
#include "ntfs/NtfsScaner.h"

namespace mirel {

namespace {

// Units larger than this are not taken for compression units.
constexpr uint16_t MAX_UNIT_EXPONENT = 8;
constexpr uint32_t PLAIN_BLOCK_CLUSTERS = 16;

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
  return r;
}

}  // namespace

TRecoveryNtfsStream::TRecoveryNtfsStream(TDiskObject* disk, PFileInfo entry, const std::string& streamName)
    : TRecoveryStream(disk, entry) {
  if (auto* scaner = dynamic_cast<TNtfsScaner*>(Scaner.get())) Reader = scaner->Reader.get();
  OpenDataStream(streamName);
}

TRecoveryNtfsStream::TRecoveryNtfsStream(const TMftReader* reader, PFileInfo entry)
    : TRecoveryStream(nullptr, entry) {
  Reader = reader;
  if (entry) Disk = entry->Disk;
  OpenDataStream({});
}

void TRecoveryNtfsStream::OpenDataStream(const std::string& name) {
  FPosition = 0;
  CacheVcn = -65535;
  FileInfo = Entry ? dynamic_cast<TNtfsFileInfo*>(Entry->FsInfo.get()) : nullptr;
  if (!FileInfo || !Reader || Reader->ClusterSize == 0) return;

  if (FileInfo->Encrypted) {
    auto* scaner = dynamic_cast<TNtfsScaner*>(Scaner.get());
    if (scaner) EfsHeader = scaner->CreateEfsRecoveryData(*Entry);
    // Without usable $EFS data the entry is served, and from now on treated, as plain.
    if (EfsHeader.empty()) FileInfo->Encrypted = false;
  }

  DataAttr = Reader->GetFileDataStreamsRunList(*FileInfo, name, Runs);
  DataSize = std::max<int64_t>(0, DataAttr.DataSize());
  const uint32_t cs = Reader->ClusterSize;
  if (DataAttr && DataAttr.NonResident()) {
    // Sparse files carry a compression unit too; only the compressed flag
    // says that short units hold LZNT1 data.
    const uint16_t exponent = DataAttr.CompressionExponent();
    UnitCompressed = (DataAttr.Flags() & 0x00FF) != 0 && exponent != 0 && exponent <= MAX_UNIT_EXPONENT;
    if (exponent > MAX_UNIT_EXPONENT)
      WriteDebugLog("%s: compression unit too large; Exponent = %u", "RecoveryNtfsStream.OpenDataStream", exponent);
    UnitClusters = UnitCompressed ? uint32_t{1} << exponent : PLAIN_BLOCK_CLUSTERS;
    Cache.assign(size_t{UnitClusters} * cs, 0);
    int64_t vcn = Runs.empty() ? 0 : Runs.front().Vcn;
    RunStart.reserve(Runs.size());
    for (const TNtfsRun& r : Runs) {
      RunStart.push_back(vcn);
      vcn = SaturatingAdd(vcn, r.Length);
    }
  }
  DataLimit = DataSize;
  TotalSize = DataSize;
  if (FileInfo->Encrypted) {
    if (DataAttr.NonResident()) DataLimit = (DataSize + 511) / 512 * 512;
    TotalSize = static_cast<int64_t>(EfsHeader.size()) + (DataSize / EFS_CHUNK_DATA + 1) * EFS_CHUNK_HEADER + DataLimit;
  }
}

int64_t TRecoveryNtfsStream::GetSize() const { return TotalSize; }

int TRecoveryNtfsStream::FindRun(int64_t vc) const {
  auto it = std::upper_bound(RunStart.begin(), RunStart.end(), vc);
  if (it == RunStart.begin()) return -1;
  size_t i = static_cast<size_t>(it - RunStart.begin()) - 1;
  // Unsigned: a damaged list may start at any VCN, and vc - RunStart[i] must
  // not overflow on the way to the comparison.
  const uint64_t into = static_cast<uint64_t>(vc) - static_cast<uint64_t>(RunStart[i]);
  return into < Runs[i].Length ? static_cast<int>(i) : -1;
}

void TRecoveryNtfsStream::ReadClusters(int64_t lcn, int64_t count, uint8_t* out) {
  const size_t want = static_cast<size_t>(count) * Reader->ClusterSize;
  std::memset(out, 0, want);
  if (lcn < 0) return;
  const int64_t offset = Reader->ClusterOffset(lcn);
  size_t got = offset < 0 ? 0 : ReadDisk(*Reader->VolumeHandle, out, want, offset);
  if (got < want && !ReadFailed) {
    ReadFailed = true;
    WriteDebugLog("%s: unable to read clusters; Lcn = %lld; Count = %lld; Read = %zu", "RecoveryNtfsStream.SetPosition",
                  static_cast<long long>(lcn), static_cast<long long>(count), got);
  }
}

void TRecoveryNtfsStream::LoadBlock(int64_t vc) {
  CacheValid = 0;
  const int i = FindRun(vc);
  if (i < 0) return;
  const TNtfsRun& run = Runs[static_cast<size_t>(i)];
  const int64_t into = (vc - RunStart[static_cast<size_t>(i)]) / UnitClusters * UnitClusters;
  const int64_t piece = std::min<int64_t>(UnitClusters, int64_t{run.Length} - into);
  ReadClusters(run.Lcn < 0 ? -1 : SaturatingAdd(run.Lcn, into), piece, Cache.data());
  CacheVcn = RunStart[static_cast<size_t>(i)] + into;
  CacheValid = static_cast<size_t>(piece) * Reader->ClusterSize;
}

void TRecoveryNtfsStream::LoadUnit(int64_t unit) {
  CacheValid = 0;
  const uint32_t cs = Reader->ClusterSize;
  const int64_t first = unit * UnitClusters;
  std::vector<uint8_t> raw(Cache.size(), 0);
  // Gather the unit's clusters across runs; its stored clusters come first and
  // clusters without disk space complete a unit that was compressed.
  int64_t stored = 0, holes = 0, mapped = 0;
  for (int64_t vc = first; vc < first + UnitClusters;) {
    const int i = FindRun(vc);
    if (i < 0) break;
    const TNtfsRun& run = Runs[static_cast<size_t>(i)];
    const int64_t into = vc - RunStart[static_cast<size_t>(i)];
    const int64_t n = std::min<int64_t>(int64_t{run.Length} - into, first + UnitClusters - vc);
    if (run.Lcn < 0) {
      holes += n;
    } else {
      ReadClusters(SaturatingAdd(run.Lcn, into), n, raw.data() + (vc - first) * cs);
      stored += n;
    }
    vc += n;
    mapped += n;
  }
  if (mapped == 0) return;
  CacheVcn = first;
  if (stored > 0 && holes > 0) {
    int64_t n = Lznt1Decompress(std::span<const uint8_t>(raw.data(), static_cast<size_t>(stored) * cs), Cache);
    if (n > 0) {
      CacheValid = static_cast<size_t>(n);
      return;
    }
    WriteDebugLog("%s: compressed unit does not decode, delivered as stored; Vcn = %lld",
                  "RecoveryNtfsStream.SetPosition", static_cast<long long>(first));
  }
  std::memcpy(Cache.data(), raw.data(), static_cast<size_t>(mapped) * cs);
  CacheValid = static_cast<size_t>(mapped) * cs;
}

bool TRecoveryNtfsStream::SetPosition(int64_t pos) {
  Current = nullptr;
  Avail = 0;
  if (pos < 0 || pos >= DataLimit || !DataAttr) return false;
  if (!DataAttr.NonResident()) {
    std::span<const uint8_t> v = DataAttr.Value();
    if (static_cast<uint64_t>(pos) >= v.size()) return false;
    Current = v.data() + pos;
    Avail = v.size() - static_cast<size_t>(pos);
    return true;
  }
  if (Runs.empty()) return false;
  const int64_t cs = Reader->ClusterSize;
  const int64_t vc = pos / cs;
  if (!(CacheVcn <= vc && vc < CacheVcn + (static_cast<int64_t>(CacheValid) + cs - 1) / cs)) {
    if (UnitCompressed)
      LoadUnit(vc / UnitClusters);
    else
      LoadBlock(vc);
  }
  const int64_t into = pos - CacheVcn * cs;
  if (CacheValid == 0 || into < 0 || into >= static_cast<int64_t>(CacheValid)) return false;
  Current = Cache.data() + into;
  Avail = CacheValid - static_cast<size_t>(into);
  return true;
}

size_t TRecoveryNtfsStream::Read(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t total = 0;
  const bool encrypted = FileInfo && FileInfo->Encrypted;
  const int64_t headerSize = static_cast<int64_t>(EfsHeader.size());
  while (count > 0 && FPosition >= 0) {
    const int64_t pos = FPosition;
    size_t n = 0;
    if (!encrypted) {
      if (!SetPosition(pos)) break;
      n = std::min<size_t>({Avail, count, static_cast<size_t>(DataLimit - pos)});
      std::memcpy(out, Current, n);
    } else if (pos < headerSize) {
      n = std::min<size_t>(static_cast<size_t>(headerSize - pos), count);
      std::memcpy(out, EfsHeader.data() + pos, n);
    } else {
      const int64_t rel = pos - headerSize;
      const int64_t k = rel / (EFS_CHUNK_HEADER + EFS_CHUNK_DATA);
      const int64_t r = rel % (EFS_CHUNK_HEADER + EFS_CHUNK_DATA);
      if (r < static_cast<int64_t>(EFS_CHUNK_HEADER)) {
        auto header = BuildEfsChunkHeader(static_cast<uint32_t>(k), DataSize);
        n = std::min<size_t>(EFS_CHUNK_HEADER - static_cast<size_t>(r), count);
        std::memcpy(out, header.data() + r, n);
      } else {
        const int64_t d = rel - static_cast<int64_t>(EFS_CHUNK_HEADER) * (k + 1);
        if (!SetPosition(d)) break;
        const int64_t chunkEnd = (d / EFS_CHUNK_DATA + 1) * EFS_CHUNK_DATA;
        n = std::min<size_t>({Avail, count, static_cast<size_t>(chunkEnd - d), static_cast<size_t>(DataLimit - d)});
        std::memcpy(out, Current, n);
      }
    }
    FPosition += static_cast<int64_t>(n);
    out += n;
    count -= n;
    total += n;
  }
  return total;
}

size_t TRecoveryNtfsStream::CopyTo(int outFd, size_t count) {
  if (!FileInfo || FileInfo->Encrypted || UnitCompressed || !DataAttr || !DataAttr.NonResident() || !Reader ||
      !Reader->VolumeHandle)
    return 0;
  const int64_t cs = Reader->ClusterSize;
  if (FPosition < 0 || FPosition >= DataLimit || FPosition % cs != 0) return 0;
  const int64_t vc = FPosition / cs;
  const int i = FindRun(vc);
  if (i < 0) return 0;
  const TNtfsRun& run = Runs[static_cast<size_t>(i)];
  if (run.Lcn < 0) return 0;
  const int64_t into = vc - RunStart[static_cast<size_t>(i)];
  const int64_t offset = Reader->ClusterOffset(SaturatingAdd(run.Lcn, into));
  if (offset < 0) return 0;
  const int64_t left = std::min((int64_t{run.Length} - into) * cs, DataLimit - FPosition);
  const auto want = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(left), count));
  const size_t got = Reader->VolumeHandle->CopyTo(outFd, want, offset);
  FPosition += static_cast<int64_t>(got);
  return got;
}

int64_t TRecoveryNtfsStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::Beginning: FPosition = offset; break;
    case TSeekOrigin::Current: FPosition = SaturatingAdd(FPosition, offset); break;
    case TSeekOrigin::End: FPosition = offset == INT64_MIN ? INT64_MAX : SaturatingAdd(TotalSize, -offset); break;
  }
  return FPosition;
}

}  // namespace mirel
