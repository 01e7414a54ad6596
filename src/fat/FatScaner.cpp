#include "fat/FatScaner.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/LeReader.h"

namespace mirel {

namespace {

// A directory holds at most 65,536 entries of 32 bytes.
constexpr int64_t kMaxDirBytes = int64_t{65536} * 32;
// Clusters larger than this come only from a damaged boot sector.
constexpr uint32_t kMaxClusterSize = 256 * 1024;
// Allocation-table bytes read at a time: 16,384 FAT32 entries.
constexpr uint32_t FAT_BLOCK_BYTES = 64 << 10;

uint64_t ClustersFor(uint64_t bytes, uint32_t clusterSize) { return (bytes + clusterSize - 1) / clusterSize; }

}  // namespace

TFatScaner::TFatScaner(TDiskObject* disk) : TDiskScaner(disk) {}

TFatScaner::~TFatScaner() { ReleaseScanData(); }

void TFatScaner::ReleaseScanData() {
  // The folders waiting here belong to the volume's catalogue.
  PendingFolders.Clear();
  RootIndex = -1;
  DirWindow = {};
  DirWindowPos = 0;
  FatSector = {};
  FatBlock = {};
  FatBlockSectors = 0;
  CachedFatSector = 0;
  LastFailedFatSector = 0;
  ReadWindows = {};
  DirAhead = {};
  LongNameRun = {};
}

bool TFatScaner::Init() {
  ClusterSize = 0;
  MaxCluster = 0;
  CachedFatSector = 0;
  FatBlockSectors = 0;
  DirAhead.clear();
  if (!TDiskScaner::Init()) return false;
  uint8_t boot[512];
  if (!Disk || !ReadBootSector(*Disk, Handle, boot)) {
    if (LogInitFailures)
      WriteDebugLog("%s: unable to read BPB; Disk = %s", "FatScaner.Init", Disk ? Disk->Name.c_str() : "");
    return false;
  }
  std::copy_n(boot, Bpb.size(), Bpb.begin());
  return ReadGeometry() && CompleteInit();
}

bool TFatScaner::ReadGeometry() {
  TLeReader b(Bpb.data(), Bpb.size());
  BytesPerSector = b.U16(0x0B);
  SectorsPerCluster = b.U8(0x0D);
  ReservedSectors = b.U16(0x0E);
  NumFats = b.U8(0x10);
  RootEntries = b.U16(0x11);
  TotalSectors = b.U16(0x13) ? b.U16(0x13) : b.U32(0x20);
  FatSectors = b.U16(0x16) ? b.U16(0x16) : b.U32(0x24);
  const uint64_t clusterSize = uint64_t{BytesPerSector} * SectorsPerCluster;
  const bool sectorOk =
      BytesPerSector == 512 || BytesPerSector == 1024 || BytesPerSector == 2048 || BytesPerSector == 4096;
  uint64_t firstData = 0, clusters = 0;
  if (sectorOk && BytesPerSector) {
    RootDirSectors = static_cast<uint32_t>((uint64_t{RootEntries} * 32 + BytesPerSector - 1) / BytesPerSector);
    firstData = uint64_t{ReservedSectors} + uint64_t{NumFats} * FatSectors + RootDirSectors;
    if (SectorsPerCluster && firstData < TotalSectors) clusters = (TotalSectors - firstData) / SectorsPerCluster;
  }
  if (!sectorOk || SectorsPerCluster == 0 || clusterSize > kMaxClusterSize || ReservedSectors == 0 || NumFats == 0 ||
      FatSectors == 0 || clusters == 0) {
    if (LogInitFailures)
      WriteDebugLog(
          "%s: unusable geometry; Disk = %s; BytesPerSector = %u; SectorsPerCluster = %u; "
          "ReservedSectors = %u; Fats = %u; FatSectors = %u; RootEntries = %u; TotalSectors = %u",
          "FatScaner.Init", Disk ? Disk->Name.c_str() : "", BytesPerSector, SectorsPerCluster, ReservedSectors, NumFats,
          FatSectors, RootEntries, TotalSectors);
    BytesPerSector = 0;
    return false;
  }
  ClusterSize = static_cast<uint32_t>(clusterSize);
  FatSizeBytes = int64_t{FatSectors} * BytesPerSector;
  FirstDataSector = static_cast<uint32_t>(firstData);
  DataStart = static_cast<int64_t>(firstData) * BytesPerSector;
  // Data clusters are numbered from 2. No more than the table can describe,
  // nor than the variant can number, whatever the sector counts say.
  uint64_t maxCluster = clusters + 1;
  const uint64_t tableEntries = static_cast<uint64_t>(FatSizeBytes) * 8 / EntryBits();
  maxCluster = std::min<uint64_t>(maxCluster, tableEntries - 1);
  maxCluster = std::min<uint64_t>(maxCluster, EocMin - 2);
  MaxCluster = static_cast<uint32_t>(maxCluster);
  ActiveFat = 0;
  return true;
}

uint64_t TFatScaner::MaxDirClusters() const {
  return ClusterSize ? std::max<uint64_t>(1, ClustersFor(kMaxDirBytes, ClusterSize)) : 1;
}

uint32_t TFatScaner::ClusterAt(int64_t pos) const {
  return static_cast<uint32_t>((pos - DataStart) / static_cast<int64_t>(ClusterSize) + 2);
}

int64_t TFatScaner::ClusterOffset(uint32_t n) const {
  return DataStart + (static_cast<int64_t>(n) - 2) * static_cast<int64_t>(ClusterSize);
}

bool TFatScaner::LoadFatSector(uint32_t sector) {
  if (sector != 0 && sector == CachedFatSector && FatSector.size() == BytesPerSector) return true;
  CachedFatSector = 0;
  FatSector.resize(BytesPerSector);
  if (sector < FatBlockFirst || sector - FatBlockFirst >= FatBlockSectors) {
    // A block aligned to its size; where it cannot be read whole, the sector
    // alone is read, so that one bad sector costs only its own entries.
    const uint32_t per = std::max<uint32_t>(1, FAT_BLOCK_BYTES / BytesPerSector);
    FatBlockFirst = sector / per * per;
    FatBlock.resize(size_t{per} * BytesPerSector);
    ++FatSectorReads;
    FatBlockSectors = static_cast<uint32_t>(
        ReadDisk(Handle, FatBlock.data(), FatBlock.size(), int64_t{FatBlockFirst} * BytesPerSector) / BytesPerSector);
    if (sector - FatBlockFirst >= FatBlockSectors) {
      FatBlockFirst = sector;
      ++FatSectorReads;
      FatBlockSectors =
          ReadDisk(Handle, FatBlock.data(), BytesPerSector, int64_t{sector} * BytesPerSector) == BytesPerSector ? 1 : 0;
    }
  }
  if (FatBlockSectors == 0 || sector < FatBlockFirst || sector - FatBlockFirst >= FatBlockSectors) {
    if (!std::exchange(FatReadFailed, true)) FirstFailedFatSector = sector;
    // A run of lookups in one unreadable sector is logged once.
    if (sector != LastFailedFatSector && LogFatReadFailures)
      WriteDebugLog("%s: unable to read FAT sector; Sector Number : %u; Offset : %lld", "FatScaner.GetNextCluster",
                    sector, static_cast<long long>(sector) * BytesPerSector);
    LastFailedFatSector = sector;
    return false;
  }
  std::memcpy(FatSector.data(), FatBlock.data() + size_t{sector - FatBlockFirst} * BytesPerSector, BytesPerSector);
  CachedFatSector = sector;
  return true;
}

uint32_t TFatScaner::GetNextCluster(uint32_t n) {
  if (n < 2 || n > MaxCluster || BytesPerSector == 0) return BadCluster;
  LocateFatEntry(n);
  if (!LoadFatSector(FatSectorNo)) return BadCluster;
  return DecodeFatEntry(n);
}

void TFatScaner::FollowChain(uint32_t first, uint64_t maxClusters, TClusChain& out, const char* who) {
  out.clear();
  if (first < 2 || first > MaxCluster || maxClusters == 0) return;
  std::unordered_set<uint32_t> seen;
  for (uint32_t cur = first;;) {
    out.push_back(ClusterOffset(cur));
    seen.insert(cur);
    if (out.size() >= maxClusters) return;
    const uint32_t next = GetNextCluster(cur);
    if (EndsChain(next)) return;
    if (next < 2 || next > MaxCluster) {
      WriteDebugLog("%s: cluster chain leaves the volume; First = %u; Cluster = %u; Next = %u", who, first, cur, next);
      return;
    }
    if (seen.count(next)) {
      WriteDebugLog("%s: cluster chain loops back; First = %u; Cluster = %u; Next = %u", who, first, cur, next);
      return;
    }
    cur = next;
  }
}

template <class Take>
uint64_t TFatScaner::WalkFreeClusters(uint32_t first, uint64_t count, Take take) {
  if (first < 2 || first > MaxCluster || count == 0 || !IsClusterFree(first)) return 0;
  uint64_t found = 0;
  for (uint32_t c = first; c <= MaxCluster && found < count; ++c) {
    if ((c - first) % 4096 == 0 && IsStopped()) break;
    if (IsClusterFree(c)) {
      take(c);
      ++found;
    }
  }
  return found;
}

void TFatScaner::CollectFreeClusters(uint32_t first, uint64_t count, TClusChain& out) {
  out.clear();
  WalkFreeClusters(first, count, [&](uint32_t c) { out.push_back(ClusterOffset(c)); });
}

void TFatScaner::GetFileClusChain(TFatChainEntry& rec, uint32_t size) {
  rec.ClusChain.clear();
  if (ClusterSize == 0) return;
  const uint64_t n = ClustersFor(size, ClusterSize);
  try {
    if (rec.Deleted)
      CollectFreeClusters(rec.FirstCluster, n, rec.ClusChain);
    else
      FollowChain(rec.FirstCluster, n, rec.ClusChain, "FatScaner.GetFileClusChain");
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: SetLength raised exception; S = %p; NewLength = %zu", "FatScaner.GetFileClusChain",
                  static_cast<void*>(&rec.ClusChain), rec.ClusChain.size() + 1);
  }
  LastError = feNone;
}

void TFatScaner::GetDirClusChain(TFileInfo& folder) {
  TFatDirInfo* dir = FatDirOf(&folder);
  if (!dir) {
    LastError = feNoMemory;
    return;
  }
  TFatChainEntry& e = dir->Entry;
  e.ClusChain.clear();
  if (ClusterSize == 0) return;
  try {
    if (e.Deleted) {
      // Folders record no size: of a deleted one the first cluster is known,
      // the next ones are found while it is read.
      CollectFreeClusters(e.FirstCluster, 1, e.ClusChain);
    } else {
      FollowChain(e.FirstCluster, MaxDirClusters(), e.ClusChain, "FatScaner.GetDirClusChain");
    }
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: SetLength raised exception; S = %p; NewLength = %zu", "FatScaner.GetDirClusChain",
                  static_cast<void*>(&e.ClusChain), e.ClusChain.size() + 1);
    LastError = feNoMemory;
    return;
  }
  LastError = feNone;
}

int TFatScaner::ComputeCondition(const TFatEntryInfo& rec, uint32_t size, uint32_t* lastCluster) {
  if (lastCluster) *lastCluster = 0;
  if (ClusterSize == 0) return 0;
  const uint64_t n = ClustersFor(size, ClusterSize);
  if (n == 0) return 0;
  // The clusters the file's stream will read, as far as the source holds them.
  uint64_t held = 0;
  WalkFreeClusters(rec.FirstCluster, n, [&](uint32_t c) {
    if (ClusterOffset(c) + int64_t{ClusterSize} <= Handle.Size()) ++held;
    if (lastCluster) *lastCluster = c;
  });
  return static_cast<int>(held * 100 / n);
}

int64_t TFatScaner::CountFreeClusters() {
  if (MaxCluster < 2) return 0;
  // Clusters past the end of the source hold nothing: not free space.
  const int64_t held = Handle.Size() > DataStart ? (Handle.Size() - DataStart) / ClusterSize : 0;
  const auto last = static_cast<uint32_t>(std::min<int64_t>(MaxCluster, held + 1));
  if (EntryBits() == 32 && last == MaxCluster) {
    TLeReader b(Bpb.data(), Bpb.size());
    const uint32_t infoSector = b.U16(0x30);
    std::vector<uint8_t> s(BytesPerSector);
    if (infoSector >= 1 && infoSector < ReservedSectors &&
        ReadDisk(Handle, s.data(), s.size(), int64_t{infoSector} * BytesPerSector) == s.size()) {
      TLeReader info(s.data(), s.size());
      const uint32_t count = info.U32(488);
      if (info.U32(0) == 0x41615252 && info.U32(484) == 0x61417272 && count <= MaxCluster - 1) return count;
    }
  }
  // Quietly, and only as far as the table can be read: a volume cut short
  // is told of when it is scanned.
  int64_t free = 0;
  LogFatReadFailures = false;
  FatReadFailed = false;
  for (uint32_t n = 2; n <= last && !FatReadFailed; ++n)
    if (GetNextCluster(n) == 0) ++free;
  LogFatReadFailures = true;
  return free;
}

// --- FAT12 -----------------------------------------------------------------

TFat12Scaner::TFat12Scaner(TDiskObject* disk) : TFatScaner(disk) {
  EocMax = 0xFFF;
  BadCluster = 0xFF7;
  EocMin = 0xFF8;
}

void TFat12Scaner::LocateFatEntry(uint32_t n) {
  const uint32_t p = n + n / 2;
  FatSectorNo = ReservedSectors + p / BytesPerSector;
  EntryOffset = p % BytesPerSector;
}

uint32_t TFat12Scaner::DecodeFatEntry(uint32_t n) {
  uint32_t word;
  if (EntryOffset + 1 < BytesPerSector) {
    word = FatSector[EntryOffset] | uint32_t{FatSector[EntryOffset + 1]} << 8;
  } else {
    // The entry straddles two sectors: its second byte opens the next one,
    // which becomes the cached sector.
    const uint32_t low = FatSector[EntryOffset];
    if (!LoadFatSector(FatSectorNo + 1)) return BadCluster;
    word = low | uint32_t{FatSector[0]} << 8;
  }
  return (n & 1) ? word >> 4 : word & 0xFFF;
}

void TFat12Scaner::AddRootDir() {
  TFileInfo t = RootTemplate();
  auto rec = std::make_unique<TFatDirInfo>();
  // The fixed root region, read in windows of a cluster's size.
  const int64_t start = (int64_t{ReservedSectors} + int64_t{NumFats} * FatSectors) * BytesPerSector;
  const int64_t bytes = int64_t{RootEntries} * 32;
  for (int64_t off = 0; off < bytes; off += ClusterSize) rec->Entry.ClusChain.push_back(start + off);
  rec->DirBytes = bytes;
  t.FsInfo = std::move(rec);
  RootIndex = AddDir(std::move(t));
}

// --- FAT16 -----------------------------------------------------------------

TFat16Scaner::TFat16Scaner(TDiskObject* disk) : TFat12Scaner(disk) {
  EocMax = 0xFFFF;
  BadCluster = 0xFFF7;
  EocMin = 0xFFF8;
}

void TFat16Scaner::LocateFatEntry(uint32_t n) {
  const uint32_t p = 2 * n;
  FatSectorNo = ReservedSectors + p / BytesPerSector;
  EntryOffset = p % BytesPerSector;
}

uint32_t TFat16Scaner::DecodeFatEntry(uint32_t) {
  return FatSector[EntryOffset] | uint32_t{FatSector[EntryOffset + 1]} << 8;
}

// --- FAT32 -----------------------------------------------------------------

TFat32Scaner::TFat32Scaner(TDiskObject* disk) : TFatScaner(disk) {
  EocMax = 0x0FFFFFFF;
  BadCluster = 0x0FFFFFF7;
  EocMin = 0x0FFFFFF8;
}

bool TFat32Scaner::CompleteInit() {
  TLeReader b(Bpb.data(), Bpb.size());
  const uint32_t flags = b.U16(0x28);
  // Bit 7 set: mirroring is off and bits 0-3 name the one table in use.
  ActiveFat = (flags & 0x80) ? static_cast<uint8_t>(flags & 0x0F) : 0;
  if (ActiveFat >= NumFats) {
    if (LogInitFailures)
      WriteDebugLog("%s: active FAT beyond the tables, the first is read; ExtFlags = %#x; Fats = %u", "FatScaner.Init",
                    flags, NumFats);
    ActiveFat = 0;
  }
  RootCluster = b.U32(0x2C);
  if (RootCluster < 2 || RootCluster > MaxCluster) {
    if (LogInitFailures)
      WriteDebugLog("%s: root cluster outside the volume; RootCluster = %u; MaxCluster = %u", "FatScaner.Init",
                    RootCluster, MaxCluster);
    return false;
  }
  return true;
}

void TFat32Scaner::LocateFatEntry(uint32_t n) {
  const uint64_t p = uint64_t{n} * 4;
  FatSectorNo = static_cast<uint32_t>(ReservedSectors + uint64_t{ActiveFat} * FatSectors + p / BytesPerSector);
  EntryOffset = static_cast<uint32_t>(p % BytesPerSector);
}

uint32_t TFat32Scaner::DecodeFatEntry(uint32_t) {
  TLeReader r(FatSector.data(), FatSector.size());
  return r.U32(EntryOffset) & 0x0FFFFFFF;
}

void TFat32Scaner::AddRootDir() {
  TFileInfo t = RootTemplate();
  auto rec = std::make_unique<TFatDirInfo>();
  rec->Entry.FirstCluster = RootCluster;
  FollowChain(RootCluster, MaxDirClusters(), rec->Entry.ClusChain, "FatScaner.AddRootDir");
  t.FsInfo = std::move(rec);
  RootIndex = AddDir(std::move(t));
}

std::unique_ptr<TFatScaner> MakeFatScaner(uint8_t fileSystem, TDiskObject* disk) {
  switch (fileSystem) {
    case fsFat12: return std::make_unique<TFat12Scaner>(disk);
    case fsFat16: return std::make_unique<TFat16Scaner>(disk);
    case fsFat32: return std::make_unique<TFat32Scaner>(disk);
    default: return nullptr;
  }
}

}  // namespace mirel
