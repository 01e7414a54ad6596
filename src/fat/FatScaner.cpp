#include "fat/FatScaner.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/DebugLog.h"
#include "core/DiskObject.h"

namespace mirel {

namespace {

// A directory holds at most 65,536 entries of 32 bytes.
constexpr int64_t kMaxDirBytes = int64_t{65536} * 32;
// Clusters larger than this come only from a damaged boot sector.
constexpr uint32_t kMaxClusterSize = 256 * 1024;

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
  Table.Reset();
  ReadWindows = {};
  DirAhead = {};
  LongNameRun = {};
}

bool TFatScaner::Init() {
  ClusterSize = 0;
  MaxCluster = 0;
  Table.Open(nullptr, Kind(), 0, 0, 0);
  DirAhead.clear();
  if (!TDiskScaner::Init()) return false;
  uint8_t boot[fat::kBootSectorSize];
  if (!Disk || !ReadBootSector(*Disk, Handle, boot)) {
    if (LogInitFailures)
      WriteDebugLog("%s: unable to read BPB; Disk = %s", "FatScaner.Init", Disk ? Disk->Name.c_str() : "");
    return false;
  }
  // A sector no FAT volume has leaves every field zero: the geometry check
  // below refuses it.
  Boot = fat::DecodeFatBootSector(boot).value_or(fat::TFatBootSector{});
  if (!ReadGeometry() || !CompleteInit()) return false;
  Table.Open(&Handle, Kind(), BytesPerSector, ReservedSectors + uint32_t{ActiveFat} * FatSectors, MaxCluster);
  return true;
}

bool TFatScaner::ReadGeometry() {
  BytesPerSector = Boot.BytesPerSector;
  SectorsPerCluster = Boot.SectorsPerCluster;
  ReservedSectors = Boot.ReservedSectors;
  NumFats = Boot.NumFats;
  RootEntries = Boot.RootEntries;
  TotalSectors = Boot.TotalSectors();
  FatSectors = Boot.FatSectors();
  const uint64_t clusterSize = uint64_t{BytesPerSector} * SectorsPerCluster;
  const bool sectorOk =
      BytesPerSector == 512 || BytesPerSector == 1024 || BytesPerSector == 2048 || BytesPerSector == 4096;
  RootDirSectors = Boot.RootDirSectors();
  const uint64_t firstData = Boot.FirstDataSector();
  const uint64_t clusters = sectorOk ? Boot.ClusterCount() : 0;
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

void TFatScaner::FollowChain(uint32_t first, uint64_t maxClusters, TClusChain& out, const char* who) {
  out.clear();
  Table.FollowChain(first, maxClusters, who, [&](uint32_t c) { out.push_back(ClusterOffset(c)); });
}

void TFatScaner::CollectFreeClusters(uint32_t first, uint64_t count, TClusChain& out) {
  out.clear();
  Table.WalkFreeClusters(
      first, count, [&](uint32_t c) { out.push_back(ClusterOffset(c)); }, [this] { return IsStopped(); });
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
  Table.WalkFreeClusters(
      rec.FirstCluster, n,
      [&](uint32_t c) {
        if (ClusterOffset(c) + int64_t{ClusterSize} <= Handle.Size()) ++held;
        if (lastCluster) *lastCluster = c;
      },
      [this] { return IsStopped(); });
  return static_cast<int>(held * 100 / n);
}

int64_t TFatScaner::CountFreeClusters() {
  if (MaxCluster < 2) return 0;
  // Clusters past the end of the source hold nothing: not free space.
  const int64_t held = Handle.Size() > DataStart ? (Handle.Size() - DataStart) / ClusterSize : 0;
  const auto last = static_cast<uint32_t>(std::min<int64_t>(MaxCluster, held + 1));
  if (Kind() == fat::TFatKind::Fat32 && last == MaxCluster) {
    const uint32_t infoSector = Boot.FsInfoSector;
    std::vector<uint8_t> s(BytesPerSector);
    if (infoSector >= 1 && infoSector < ReservedSectors &&
        ReadDisk(Handle, s.data(), s.size(), int64_t{infoSector} * BytesPerSector) == s.size()) {
      const std::optional<uint32_t> count = fat::DecodeFsInfoFreeCount(s);
      if (count && *count <= MaxCluster - 1) return *count;
    }
  }
  // Quietly, and only as far as the table can be read: a volume cut short
  // is told of when it is scanned.
  int64_t free = 0;
  Table.LogReadFailures = false;
  Table.ReadFailed = false;
  for (uint32_t n = 2; n <= last && !Table.ReadFailed; ++n)
    if (GetNextCluster(n) == 0) ++free;
  Table.LogReadFailures = true;
  return free;
}

// --- FAT12 -----------------------------------------------------------------

TFat12Scaner::TFat12Scaner(TDiskObject* disk) : TFatScaner(disk) {
  const fat::TFatMarkers m = fat::MarkersOf(fat::TFatKind::Fat12);
  EocMax = m.EocMax;
  BadCluster = m.Bad;
  EocMin = m.EocMin;
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
  const fat::TFatMarkers m = fat::MarkersOf(fat::TFatKind::Fat16);
  EocMax = m.EocMax;
  BadCluster = m.Bad;
  EocMin = m.EocMin;
}

// --- FAT32 -----------------------------------------------------------------

TFat32Scaner::TFat32Scaner(TDiskObject* disk) : TFatScaner(disk) {
  const fat::TFatMarkers m = fat::MarkersOf(fat::TFatKind::Fat32);
  EocMax = m.EocMax;
  BadCluster = m.Bad;
  EocMin = m.EocMin;
}

bool TFat32Scaner::CompleteInit() {
  const uint32_t flags = Boot.ExtFlags;
  ActiveFat = Boot.ActiveFat();
  if (ActiveFat >= NumFats) {
    if (LogInitFailures)
      WriteDebugLog("%s: active FAT beyond the tables, the first is read; ExtFlags = %#x; Fats = %u", "FatScaner.Init",
                    flags, NumFats);
    ActiveFat = 0;
  }
  RootCluster = Boot.RootCluster;
  if (RootCluster < 2 || RootCluster > MaxCluster) {
    if (LogInitFailures)
      WriteDebugLog("%s: root cluster outside the volume; RootCluster = %u; MaxCluster = %u", "FatScaner.Init",
                    RootCluster, MaxCluster);
    return false;
  }
  return true;
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
