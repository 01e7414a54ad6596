#include "ntfs/RecoveryNtfsStream.h"

#include <algorithm>
#include <array>
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

TRecoveryNtfsStream::TRecoveryNtfsStream(TDiskObject* disk, TFileInfo* entry, const std::string& streamName)
    : TRecoveryStream(disk, entry) {
  if (auto* scaner = dynamic_cast<TNtfsScaner*>(Scaner.get())) Reader = scaner->Reader.get();
  OpenDataStream(streamName);
}

TRecoveryNtfsStream::TRecoveryNtfsStream(const TMftReader* reader, TFileInfo* entry, bool quiet)
    : TRecoveryStream(nullptr, entry) {
  Reader = reader;
  Logged = quiet;
  Quiet = quiet;
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

  Data = Reader->GetFileDataStreamsRunList(*FileInfo, name);
  DataSize = Data.DataSize;
  const uint32_t cs = Reader->ClusterSize;
  bool gone = false;
  if (!Data.First) {
    // A stream the scan listed that cannot be found now (its record was
    // reused or cannot be read): its data are lost as a whole.
    if (name.empty()) DataSize = Entry->Size;
    for (const TNamedStream& s : FileInfo->NamedStreams())
      if (!name.empty() && SameStreamName(s.Name, name)) DataSize = s.Size;
    DataSize = std::max<int64_t>(0, DataSize);
    gone = DataSize > 0;
  }
  Resident = Data.First && !Data.First.NonResident();
  if (Resident) {
    // A value that does not fit its record is not there: only its declared
    // length is known, and it is served as zeros.
    std::span<const uint8_t> v = Data.First.Value();
    Cache.assign(v.begin(), v.end());
    CacheVcn = 0;
    CacheValid = Cache.size();
  } else {
    // Sparse files carry a compression unit too; only the compressed flag
    // says that short units hold LZNT1 data.
    const uint16_t exponent = Data.First.CompressionExponent();
    UnitCompressed = (Data.First.Flags() & 0x00FF) != 0 && exponent != 0 && exponent <= MAX_UNIT_EXPONENT;
    if (exponent > MAX_UNIT_EXPONENT)
      WriteDebugLog("%s: compression unit too large; Exponent = %u", "RecoveryNtfsStream.OpenDataStream", exponent);
    UnitClusters = UnitCompressed ? uint32_t{1} << exponent : PLAIN_BLOCK_CLUSTERS;
    Cache.assign(size_t{UnitClusters} * cs, 0);
  }
  DataLimit = DataSize;
  TotalSize = DataSize;
  if (FileInfo->Encrypted) {
    if (!Resident) DataLimit = DataSize > INT64_MAX - 511 ? DataSize : (DataSize + 511) / 512 * 512;
    TotalSize = static_cast<int64_t>(EfsHeader.size()) + (DataSize / EFS_CHUNK_DATA + 1) * EFS_CHUNK_HEADER + DataLimit;
  }
  DataClusters = DataLimit / cs + (DataLimit % cs != 0);
  if (gone)
    AddMissing(0, DataLimit);
  else if (Resident)
    AddMissing(static_cast<int64_t>(Data.First.Value().size()), DataLimit);
  else
    AddKnownGaps();
  if (!gone && !Resident && FileInfo->Deleted) MarkReusedClusters();
  if (!FMissing.Empty() && !Quiet)
    WriteDebugLog("%s: parts of the data are lost; Record = %lld; Stream = %s; Missing = %s%s%s",
                  "RecoveryNtfsStream.OpenDataStream", static_cast<long long>(FileInfo->RecordNumber & MFT_REF_MASK),
                  name.c_str(), FMissing.Describe().c_str(),
                  Reused.Empty() ? "" : "; In Use By Other Files = ", Reused.Empty() ? "" : Reused.Describe().c_str());
}

void TRecoveryNtfsStream::AddKnownGaps() {
  const int64_t cs = Reader->ClusterSize;
  auto bytes = [cs](int64_t clusters) { return clusters > INT64_MAX / cs ? INT64_MAX : clusters * cs; };
  for (const TVcnRange& gap : Data.Gaps(DataClusters)) AddMissing(bytes(gap.First), bytes(gap.End - gap.First));
  // Clusters past the end of the source.
  const int64_t sourceBytes = Reader->VolumeHandle ? Reader->VolumeHandle->Size() : 0;
  for (size_t i = 0; i < Data.Runs.size(); ++i) {
    const TNtfsRun& run = Data.Runs[i];
    const int64_t end = std::min(Data.RunEnd(i), DataClusters);
    if (run.Lcn < 0 || run.Vcn >= end) continue;
    const int64_t at = Reader->ClusterOffset(run.Lcn);
    const int64_t length = bytes(end - run.Vcn);
    if (at < 0) {
      AddMissing(bytes(run.Vcn), length);
    } else if (SaturatingAdd(at, length) > sourceBytes) {
      const int64_t held = std::max<int64_t>(0, sourceBytes - at);
      AddMissing(SaturatingAdd(bytes(run.Vcn), held), length - held);
    }
  }
}

void TRecoveryNtfsStream::MarkReusedClusters() {
  auto* scaner = dynamic_cast<TNtfsScaner*>(Scaner.get());
  if (!scaner) return;
  scaner->ReadClustersBitmap(true);
  const int64_t cs = Reader->ClusterSize;
  for (size_t i = 0; i < Data.Runs.size(); ++i) {
    const TNtfsRun& run = Data.Runs[i];
    const int64_t end = std::min(Data.RunEnd(i), DataClusters);
    if (run.Lcn < 0 || run.Vcn >= end) continue;
    for (const TVcnRange& used : scaner->ClustersInUse(run.Lcn, end - run.Vcn)) {
      // Within the data's clusters, so the byte positions stay in range.
      const int64_t at = (run.Vcn + (used.First - run.Lcn)) * cs;
      const int64_t length = (used.End - used.First) * cs;
      Reused.Add(at, length);
      AddMissing(at, length);
    }
  }
}

void TRecoveryNtfsStream::ZeroReused(int64_t at, uint8_t* out, size_t size) const {
  const int64_t end = SaturatingAdd(at, static_cast<int64_t>(size));
  for (const TByteRange& r : Reused) {
    const int64_t from = std::max(at, r.Offset), to = std::min(end, r.End());
    if (from < to) std::memset(out + (from - at), 0, static_cast<size_t>(to - from));
  }
}

void TRecoveryNtfsStream::AddMissing(int64_t offset, int64_t length) {
  int64_t end = std::min(SaturatingAdd(offset, length), DataLimit);
  if (offset < 0 || offset >= end) return;
  if (UnitCompressed) {
    const int64_t unit = int64_t{UnitClusters} * Reader->ClusterSize;
    offset = offset / unit * unit;
    end = std::min(SaturatingAdd(end, unit - 1) / unit * unit, DataLimit);
  }
  if (!FileInfo->Encrypted) {
    FMissing.Add(offset, end - offset);
    return;
  }
  // In the raw image each 64 KiB of data follows a chunk header of its own.
  const auto header = static_cast<int64_t>(EfsHeader.size());
  for (int64_t d = offset; d < end;) {
    const int64_t k = d / static_cast<int64_t>(EFS_CHUNK_DATA);
    const int64_t chunkEnd = std::min(end, (k + 1) * static_cast<int64_t>(EFS_CHUNK_DATA));
    FMissing.Add(header + (k + 1) * static_cast<int64_t>(EFS_CHUNK_HEADER) + d, chunkEnd - d);
    d = chunkEnd;
  }
}

int64_t TRecoveryNtfsStream::GetSize() const { return TotalSize; }

TByteRanges TRecoveryNtfsStream::ReadClusters(int64_t lcn, int64_t count, uint8_t* out) {
  const size_t want = static_cast<size_t>(count) * Reader->ClusterSize;
  TByteRanges unreadable;
  std::memset(out, 0, want);
  if (lcn < 0) return unreadable;
  const int64_t offset = Reader->ClusterOffset(lcn);
  if (offset < 0 || !Reader->VolumeHandle)
    unreadable.Add(0, static_cast<int64_t>(want));
  else
    (void)ReadDiskPatched(*Reader->VolumeHandle, out, want, offset, unreadable);
  if (!unreadable.Empty() && !Logged) {
    Logged = true;
    WriteDebugLog("%s: unable to read clusters; Lcn = %lld; Count = %lld; Unreadable = %s",
                  "RecoveryNtfsStream.SetPosition", static_cast<long long>(lcn), static_cast<long long>(count),
                  unreadable.Describe().c_str());
  }
  return unreadable;
}

void TRecoveryNtfsStream::LoadBlock(int64_t vc) {
  const int64_t cs = Reader->ClusterSize;
  const int i = Data.Find(vc);
  if (i < 0) {
    // No run maps vc: zeros up to the next cluster one does. The gap was
    // named missing when the stream opened.
    const int64_t end = std::min(Data.NextMapped(vc), SaturatingAdd(vc, UnitClusters));
    std::fill(Cache.begin(), Cache.end(), 0);
    CacheVcn = vc;
    CacheValid = static_cast<size_t>(end - vc) * static_cast<size_t>(cs);
    return;
  }
  const TNtfsRun& run = Data.Runs[static_cast<size_t>(i)];
  const int64_t into = (vc - run.Vcn) / UnitClusters * UnitClusters;
  const int64_t piece = std::min<int64_t>(UnitClusters, Data.RunEnd(static_cast<size_t>(i)) - (run.Vcn + into));
  const TByteRanges bad = ReadClusters(run.Lcn < 0 ? -1 : SaturatingAdd(run.Lcn, into), piece, Cache.data());
  CacheVcn = run.Vcn + into;
  CacheValid = static_cast<size_t>(piece * cs);
  for (const TByteRange& r : bad) AddMissing(SaturatingAdd(CacheVcn * cs, r.Offset), r.Length);
  ZeroReused(CacheVcn * cs, Cache.data(), CacheValid);
}

void TRecoveryNtfsStream::LoseUnit(int64_t first, const char* why) {
  const int64_t cs = Reader->ClusterSize;
  if (!Logged) {
    Logged = true;
    WriteDebugLog("%s: compressed unit %s, delivered as missing; Vcn = %lld", "RecoveryNtfsStream.SetPosition", why,
                  static_cast<long long>(first));
  }
  std::fill(Cache.begin(), Cache.end(), 0);
  CacheValid = Cache.size();
  AddMissing(first * cs, static_cast<int64_t>(Cache.size()));
}

void TRecoveryNtfsStream::LoadUnit(int64_t unit) {
  const uint32_t cs = Reader->ClusterSize;
  const int64_t first = unit * UnitClusters, last = first + UnitClusters;
  std::vector<uint8_t> raw(Cache.size(), 0);
  // Gather the unit's clusters across runs; its stored clusters come first and
  // clusters without disk space complete a unit that was compressed.
  int64_t stored = 0, holes = 0;
  bool lost = false;
  for (int64_t vc = first; vc < last;) {
    const int i = Data.Find(vc);
    if (i < 0) {
      lost = lost || vc < DataClusters;
      vc = std::min(Data.NextMapped(vc), last);
      continue;
    }
    const TNtfsRun& run = Data.Runs[static_cast<size_t>(i)];
    const int64_t n = std::min(Data.RunEnd(static_cast<size_t>(i)), last) - vc;
    if (run.Lcn < 0) {
      holes += n;
    } else {
      lost = !ReadClusters(SaturatingAdd(run.Lcn, vc - run.Vcn), n, raw.data() + (vc - first) * cs).Empty() || lost;
      stored += n;
    }
    vc += n;
  }
  CacheVcn = first;
  // The unit's data as far as the stream delivers them.
  const int64_t needed = std::min<int64_t>(static_cast<int64_t>(Cache.size()), DataLimit - first * cs);
  lost = lost || Reused.Intersects(first * cs, static_cast<int64_t>(Cache.size()));
  if (lost) return LoseUnit(first, "cannot be read whole");
  if (stored > 0 && holes > 0) {
    const int64_t n = Lznt1Decompress(std::span<const uint8_t>(raw.data(), static_cast<size_t>(stored) * cs), Cache);
    if (n < needed) return LoseUnit(first, "does not decode");
    CacheValid = static_cast<size_t>(n);
    return;
  }
  Cache = std::move(raw);
  CacheValid = Cache.size();
}

bool TRecoveryNtfsStream::SetPosition(int64_t pos) {
  Current = nullptr;
  Avail = 0;
  if (pos < 0 || pos >= DataLimit) return false;
  if (!Resident) {
    const int64_t cs = Reader->ClusterSize;
    const int64_t vc = pos / cs;
    if (!(CacheVcn <= vc && vc < CacheVcn + (static_cast<int64_t>(CacheValid) + cs - 1) / cs)) {
      if (UnitCompressed)
        LoadUnit(vc / UnitClusters);
      else
        LoadBlock(vc);
    }
  }
  if (Resident && pos >= static_cast<int64_t>(CacheValid)) {
    static constexpr std::array<uint8_t, 4096> zeros{};
    Current = zeros.data();
    Avail = static_cast<size_t>(std::min<int64_t>(zeros.size(), DataLimit - pos));
    return true;
  }
  const int64_t into = Resident ? pos : pos - CacheVcn * Reader->ClusterSize;
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
  // Clusters another file took are zeros that only Read delivers.
  if (!FileInfo || FileInfo->Encrypted || UnitCompressed || Resident || !Reused.Empty() || !Reader ||
      !Reader->VolumeHandle)
    return 0;
  const int64_t cs = Reader->ClusterSize;
  if (FPosition < 0 || FPosition >= DataLimit || FPosition % cs != 0) return 0;
  const int64_t vc = FPosition / cs;
  const int i = Data.Find(vc);
  if (i < 0) return 0;
  const TNtfsRun& run = Data.Runs[static_cast<size_t>(i)];
  if (run.Lcn < 0) return 0;
  const int64_t into = vc - run.Vcn;
  const int64_t offset = Reader->ClusterOffset(SaturatingAdd(run.Lcn, into));
  if (offset < 0) return 0;
  const int64_t runBytes = (Data.RunEnd(static_cast<size_t>(i)) - vc) > INT64_MAX / cs
                               ? INT64_MAX
                               : (Data.RunEnd(static_cast<size_t>(i)) - vc) * cs;
  const int64_t left = std::min(runBytes, DataLimit - FPosition);
  const auto want = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(left), count));
  // What the kernel cannot copy (a read error, the end of the source) is left
  // to Read, which names it.
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
