#include "exfat/ExfatScaner.h"

#include <algorithm>
#include <new>
#include <unordered_set>
#include <utility>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/FolderChain.h"
#include "core/UpdateView.h"
#include "exfat/ExfatDirEntry.h"
#include "exfat/ExfatFat.h"

namespace mirel {

using namespace exfat;

namespace {

// A directory holds at most 256 MiB of entries.
constexpr uint64_t kMaxDirBytes = uint64_t{256} << 20;
// Table entries read at a time.
constexpr uint32_t kFatBlockEntries = 16384;
constexpr size_t kMaxNamedUnreadFolders = 5;
constexpr int64_t kProgressUnits = 1000000;
constexpr uint16_t kDirectoryAttr = 0x10;

}  // namespace

struct TExfatScaner::TDirBytes {
  std::vector<uint8_t> Bytes;
  // Volume offset of each cluster's bytes, in order.
  std::vector<int64_t> ClusterAt;
  TByteRanges Unreadable;
  int64_t VolumeOffset(size_t pos, uint32_t cs) const { return ClusterAt[pos / cs] + static_cast<int64_t>(pos % cs); }
};

TExfatScaner::TExfatScaner(TDiskObject* disk) : TDiskScaner(disk) {}

TExfatScaner::~TExfatScaner() = default;

void TExfatScaner::ReleaseScanData() {
  FatBlock = {};
  FatBlockValid = false;
}

bool TExfatScaner::Init() {
  if (!TDiskScaner::Init() || !Disk) return false;
  std::vector<uint8_t> sector(kBootSectorSize);
  std::optional<TExfatBootSector> boot;
  if (ReadDisk(Handle, sector.data(), sector.size(), Disk->BootSectorOffset) == sector.size())
    boot = DecodeBootSector(sector);
  if (!boot) {
    if (LogInitFailures)
      WriteDebugLog("%s: boot sector unreadable or unusable; Disk = %s; Offset = %lld", "ExfatScaner.Init",
                    Disk->Name.c_str(), static_cast<long long>(Disk->BootSectorOffset));
    return false;
  }
  Boot = *boot;
  ClusterSize = Boot.ClusterBytes();
  HeapStart = int64_t{Boot.ClusterHeapOffset} * Boot.BytesPerSector();
  FatStart = (int64_t{Boot.FatOffset} + (Boot.SecondFatActive() ? int64_t{Boot.FatLength} : 0)) * Boot.BytesPerSector();
  Bitmap.reset();
  BitmapFound = BitmapFailed = false;
  FatBlockValid = FatReadFailed = false;
  Label.clear();
  ReadRootEntries();
  return true;
}

std::optional<uint32_t> TExfatScaner::FatEntry(uint32_t n) {
  if (!FatBlockValid || n < FatBlockFirst || n - FatBlockFirst >= kFatBlockEntries ||
      !FatEntryIn(FatBlock, FatBlockFirst, n)) {
    FatBlockFirst = n / kFatBlockEntries * kFatBlockEntries;
    const uint64_t entries = std::min<uint64_t>(kFatBlockEntries, uint64_t{Boot.ClusterCount} + 2 - FatBlockFirst);
    FatBlock.resize(entries * kFatEntrySize);
    const size_t got =
        ReadDisk(Handle, FatBlock.data(), FatBlock.size(), FatStart + int64_t{FatBlockFirst} * int64_t{kFatEntrySize});
    FatBlock.resize(got / kFatEntrySize * kFatEntrySize);
    FatBlockValid = true;
  }
  std::optional<uint32_t> v = FatEntryIn(FatBlock, FatBlockFirst, n);
  if (!v && !std::exchange(FatReadFailed, true))
    WriteDebugLog("%s: allocation table unreadable; Disk = %s; Cluster = %u", "ExfatScaner.FatEntry",
                  Disk ? Disk->Name.c_str() : "", n);
  return v;
}

TExfatRuns TExfatScaner::FollowChain(uint32_t first, uint64_t most) {
  TExfatRuns runs;
  std::unordered_set<uint32_t> seen;
  uint32_t c = first;
  for (uint64_t k = 0; k < most; ++k) {
    if (!LinkedCluster(c, Boot.ClusterCount) || !seen.insert(c).second) break;
    if (!runs.empty() && uint64_t{runs.back().First} + runs.back().Count == c)
      ++runs.back().Count;
    else
      runs.push_back({c, 1});
    if (k + 1 == most) break;
    const std::optional<uint32_t> v = FatEntry(c);
    if (!v) break;
    const std::optional<uint32_t> next = LinkedCluster(*v, Boot.ClusterCount);
    if (!next) break;
    c = *next;
  }
  return runs;
}

TExfatRuns TExfatScaner::CollectFree(uint32_t first, uint64_t count) {
  TExfatRuns runs;
  if (!IsClusterFree(first)) return runs;
  uint64_t found = 0;
  const uint64_t last = uint64_t{Boot.ClusterCount} + 1;
  for (uint64_t c = first; c <= last && found < count; ++c) {
    if ((c - first) % 4096 == 0 && IsStopped()) break;
    const auto cl = static_cast<uint32_t>(c);
    if (!IsClusterFree(cl)) continue;
    if (!runs.empty() && uint64_t{runs.back().First} + runs.back().Count == c)
      ++runs.back().Count;
    else
      runs.push_back({cl, 1});
    ++found;
  }
  return runs;
}

bool TExfatScaner::LoadBitmap() {
  if (Bitmap) return true;
  if (BitmapFailed || !BitmapFound) return false;
  const uint64_t bytes = std::min<uint64_t>(BitmapEntry.DataLength, (uint64_t{Boot.ClusterCount} + 7) / 8);
  TDirBytes d;
  try {
    ReadRuns(FollowChain(BitmapEntry.FirstCluster, ClustersFor(bytes)), false, bytes, d);
  } catch (const std::bad_alloc&) {
    d.Bytes.clear();
  }
  if (d.Bytes.size() < bytes || !d.Unreadable.Empty()) {
    BitmapFailed = true;
    WriteDebugLog("%s: allocation bitmap unreadable; Disk = %s; Cluster = %u", "ExfatScaner.LoadBitmap",
                  Disk ? Disk->Name.c_str() : "", BitmapEntry.FirstCluster);
    return false;
  }
  Bitmap.emplace(std::span<const uint8_t>(d.Bytes).first(bytes), Boot.ClusterCount);
  return true;
}

bool TExfatScaner::IsClusterFree(uint32_t n) { return LoadBitmap() && Bitmap->IsFree(n); }

uint64_t TExfatScaner::ClustersFor(uint64_t bytes) const {
  if (ClusterSize == 0) return 0;
  return std::min<uint64_t>(bytes / ClusterSize + (bytes % ClusterSize != 0), Boot.ClusterCount);
}

TExfatRuns TExfatScaner::DataRuns(const TExfatFileInfo& rec) {
  const uint64_t n = ClustersFor(rec.DataLength);
  if (n == 0 || !LinkedCluster(rec.FirstCluster, Boot.ClusterCount)) return {};
  if (rec.NoFatChain)
    return {{rec.FirstCluster,
             static_cast<uint32_t>(std::min<uint64_t>(n, uint64_t{Boot.ClusterCount} + 2 - rec.FirstCluster))}};
  TExfatRuns chain = FollowChain(rec.FirstCluster, n);
  if (!rec.Deleted) return chain;
  // The table often still links a deleted file's clusters: trusted only
  // when the chain is whole and every cluster in it is free.
  uint64_t linked = 0;
  bool allFree = true;
  for (const TExfatRun& r : chain) {
    linked += r.Count;
    for (uint32_t k = 0; k < r.Count && allFree; ++k) allFree = IsClusterFree(r.First + k);
  }
  if (linked == n && allFree) return chain;
  return CollectFree(rec.FirstCluster, n);
}

int TExfatScaner::ComputeCondition(const TExfatFileInfo& rec) {
  const uint64_t n = ClustersFor(rec.DataLength);
  if (n == 0) return 0;
  uint64_t held = 0;
  for (const TExfatRun& r : DataRuns(rec)) {
    for (uint32_t k = 0; k < r.Count; ++k) {
      if (k % 4096 == 0 && IsStopped()) return static_cast<int>(held * 100 / n);
      const uint32_t c = r.First + k;
      if (IsClusterFree(c) && ClusterOffset(c) + int64_t{ClusterSize} <= Handle.Size()) ++held;
    }
  }
  return static_cast<int>(held * 100 / n);
}

int64_t TExfatScaner::CountFreeBytes() {
  if (!LoadBitmap() || ClusterSize == 0) return 0;
  // Clusters past the end of the source hold nothing: not free space.
  const int64_t held = Handle.Size() > HeapStart ? (Handle.Size() - HeapStart) / ClusterSize : 0;
  const auto upTo = static_cast<uint32_t>(std::min<int64_t>(Boot.ClusterCount, held));
  return static_cast<int64_t>(Bitmap->CountFree(upTo)) * ClusterSize;
}

void TExfatScaner::ReadRuns(const TExfatRuns& runs, bool skipUsed, uint64_t most, TDirBytes& out) {
  const uint32_t cs = ClusterSize;
  auto readGroup = [&](uint32_t first, uint32_t count) {
    if (count == 0) return;
    const size_t at = out.Bytes.size();
    const size_t bytes = static_cast<size_t>(std::min<uint64_t>(uint64_t{count} * cs, most - at));
    out.Bytes.resize(at + bytes);
    TByteRanges unreadable;
    (void)ReadDiskPatched(Handle, out.Bytes.data() + at, bytes, ClusterOffset(first), unreadable);
    for (const TByteRange& r : unreadable) out.Unreadable.Add(static_cast<int64_t>(at) + r.Offset, r.Length);
    for (uint32_t k = 0; k < count; ++k) out.ClusterAt.push_back(ClusterOffset(first + k));
  };
  for (const TExfatRun& r : runs) {
    uint32_t groupFirst = r.First, groupCount = 0;
    for (uint32_t k = 0; k < r.Count && out.Bytes.size() + uint64_t{groupCount} * cs < most; ++k) {
      const uint32_t c = r.First + k;
      if (skipUsed && !IsClusterFree(c)) {
        readGroup(groupFirst, groupCount);
        groupFirst = c + 1;
        groupCount = 0;
        continue;
      }
      ++groupCount;
    }
    readGroup(groupFirst, groupCount);
    if (out.Bytes.size() >= most) break;
  }
}

void TExfatScaner::ReadRootEntries() {
  // The bitmap and label entries lie near the start of the root folder; its
  // clusters are read one at a time until both are found or it ends.
  const bool wantSecond = Boot.SecondFatActive();
  std::vector<uint8_t> cluster(ClusterSize);
  for (const TExfatRun& r : FollowChain(Boot.RootCluster, kMaxDirBytes / ClusterSize)) {
    for (uint32_t k = 0; k < r.Count; ++k) {
      if (ReadDisk(Handle, cluster.data(), cluster.size(), ClusterOffset(r.First + k)) != cluster.size()) return;
      for (size_t pos = 0; pos + kEntrySize <= cluster.size(); pos += kEntrySize) {
        const auto e = std::span<const uint8_t>(cluster).subspan(pos, kEntrySize);
        if (e[0] == kEndOfDirectory) return;
        if (std::optional<TDataEntry> b = DecodeBitmapEntry(e);
            b && !BitmapFound && ((b->Flags & 1) != 0) == wantSecond) {
          BitmapEntry = *b;
          BitmapFound = true;
        } else if (std::optional<std::string> label = DecodeLabelEntry(e)) {
          Label = *label;
        }
        if (BitmapFound && !Label.empty()) return;
      }
    }
  }
}

void TExfatScaner::ScanForFiles() {
  TDiskScaner::ScanForFiles();
  if (Disk) Disk->ClearCatalogue();
  if (!Init()) {
    ScanFailure = "the boot sector cannot be read or gives an unusable geometry";
    return;
  }
  Quick = Options.Quick;
  UnreadFolders.clear();
  UnreadFolderCount = 0;
  DroppedSets = 0;
  ReadClusters.clear();
  TFileInfo root = RootTemplate();
  auto rec = std::make_unique<TExfatFileInfo>();
  rec->IsDirectory = true;
  rec->FirstCluster = Boot.RootCluster;
  root.FsInfo = std::move(rec);
  if (AddDir(std::move(root)) == 0) ReadPendingFolders();
  SummariseScanProblems();
  // Folders under which no file was found are not catalogued.
  for (TFileInfo* e : PendingFolders)
    if (e && Disk) Disk->Catalogue.Discard(e);
  PendingFolders.Clear();
  ReadClusters = {};
  ReportDone();
}

void TExfatScaner::ReadPendingFolders() {
  // The list grows while the loop runs: breadth first.
  for (int i = 0; i < PendingFolders.Count(); ++i) {
    ReportProgress(int64_t{i} * kProgressUnits / PendingFolders.Count(), kProgressUnits);
    if (IsStopped()) break;
    if (PendingFolders[i]) ReadDir(i);
  }
}

void TExfatScaner::ReadDir(int index) {
  TFileInfo* folder = PendingFolders[index];
  TExfatFileInfo* rec = ExfatInfoOf(folder);
  if (!rec) return;
  const bool isRoot = index == 0;
  const uint64_t most = isRoot ? kMaxDirBytes : std::min<uint64_t>(kMaxDirBytes, rec->DataLength);
  TExfatRuns runs = isRoot ? FollowChain(Boot.RootCluster, kMaxDirBytes / ClusterSize) : DataRuns(*rec);
  // Each directory cluster is read once in a scan.
  TExfatRuns fresh;
  for (const TExfatRun& r : runs)
    for (uint32_t k = 0; k < r.Count; ++k) {
      const uint32_t c = r.First + k;
      if (!ReadClusters.insert(c).second) continue;
      if (!fresh.empty() && fresh.back().First + fresh.back().Count == c)
        ++fresh.back().Count;
      else
        fresh.push_back({c, 1});
    }
  TDirBytes d;
  try {
    // A deleted folder's clusters that are in use again hold other data.
    ReadRuns(fresh, rec->Deleted, most / ClusterSize * ClusterSize + (most % ClusterSize ? ClusterSize : 0), d);
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: folder too large for memory; Name = %s", "ExfatScaner.ReadDir", folder->Name.c_str());
    return;
  }
  if (!d.Unreadable.Empty()) {
    WriteDebugLog("%s: folder not read in full; Name = %s; Bytes = %lld", "ExfatScaner.ReadDir", folder->Name.c_str(),
                  static_cast<long long>(d.Unreadable.TotalLength()));
    if (isRoot && d.Unreadable.TotalLength() == static_cast<int64_t>(d.Bytes.size())) {
      const int64_t at = ClusterOffset(Boot.RootCluster);
      ScanFailure = "the root folder (at byte " + std::to_string(at) + ") cannot be read" +
                    (at >= Handle.Size() ? ", it lies past the end of the source" : "");
      return;
    }
    if (UnreadFolders.size() < kMaxNamedUnreadFolders)
      UnreadFolders.push_back(isRoot ? std::string("/") : GetRelativePath(*folder) + "/");
    ++UnreadFolderCount;
  }
  const std::span<const uint8_t> bytes(d.Bytes);
  for (size_t pos = 0; pos + kEntrySize <= bytes.size() && !IsStopped();) {
    const uint8_t type = bytes[pos];
    if (type == kEndOfDirectory) {
      // Zeros that stand for an unreadable part do not end the folder.
      auto hole = std::find_if(d.Unreadable.begin(), d.Unreadable.end(), [&](const TByteRange& r) {
        return r.Offset <= static_cast<int64_t>(pos) && static_cast<int64_t>(pos) < r.End();
      });
      if (hole == d.Unreadable.end()) break;
      pos = static_cast<size_t>((hole->End() + kEntrySize - 1) / kEntrySize * kEntrySize);
      continue;
    }
    if (LiveType(type) == kTypeFile) {
      const size_t setBytes = EntrySetBytes(bytes.subspan(pos));
      if (setBytes != 0 && pos + setBytes <= bytes.size() && DecodeEntrySet(bytes.subspan(pos, setBytes))) {
        AddEntry(folder, *rec, bytes.subspan(pos, setBytes), d.VolumeOffset(pos, ClusterSize));
        pos += setBytes;
        continue;
      }
      ++DroppedSets;
    }
    pos += kEntrySize;
  }
}

void TExfatScaner::AddEntry(TFileInfo* folder, const TExfatFileInfo& parent, std::span<const uint8_t> bytes,
                            int64_t at) {
  std::optional<TEntrySet> set = DecodeEntrySet(bytes);
  if (!set) return;
  const bool isDir = (set->Attributes & kDirectoryAttr) != 0;
  // Deleting a folder leaves what lies in it deleted too.
  const bool deleted = set->Deleted || parent.Deleted;
  if (Quick && !deleted && !isDir) return;
  // More data than the heap holds: no entry the file system wrote.
  if (set->DataLength > uint64_t{Boot.ClusterCount} * ClusterSize) {
    ++DroppedSets;
    return;
  }
  TFileInfo tmpl;
  tmpl.Name = set->Name;
  tmpl.Attributes = set->Attributes;
  tmpl.CreationTime = set->Created;
  tmpl.LastWriteTime = set->Modified;
  tmpl.Parent = folder;
  auto rec = std::make_unique<TExfatFileInfo>();
  rec->Deleted = deleted;
  rec->IsDirectory = isDir;
  rec->NoFatChain = set->NoFatChain;
  rec->FirstCluster = set->FirstCluster;
  rec->ValidDataLength = set->ValidDataLength;
  rec->DataLength = set->DataLength;
  rec->EntryOffset = at;
  rec->AccessDate = set->Accessed;
  rec->Depth = parent.Depth + 1;
  if (isDir) {
    if (rec->Depth >= MAX_FOLDER_DEPTH) {
      WriteDebugLog("%s: folder nested too deep, not read; Name = %s; Depth = %d", "ExfatScaner.ReadDir",
                    tmpl.Name.c_str(), rec->Depth);
      return;
    }
    tmpl.FsInfo = std::move(rec);
    (void)AddDir(std::move(tmpl));
    return;
  }
  tmpl.Size = static_cast<int64_t>(set->DataLength);
  tmpl.Condition = static_cast<int16_t>(deleted ? ComputeCondition(*rec) : 100);  // a percentage
  tmpl.FsInfo = std::move(rec);
  // A count cut short by a stop request would understate the file.
  if (IsStopped()) return;
  PublishFolderChain(folder);
  (void)AddFile(std::move(tmpl));
}

int TExfatScaner::AddDir(TFileInfo&& tmpl) {
  if (!Disk) return -1;
  try {
    TFileInfo* entry = Disk->Catalogue.Add(std::move(tmpl));
    entry->IsFolder = true;
    const int idx = PendingFolders.Add(entry);
    if (TExfatFileInfo* rec = ExfatInfoOf(entry)) rec->PendingIndex = idx;
    return idx;
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: GetMem unable to allocate memory block; Size = %zu", "ExfatScaner.AddDir", sizeof(TFileInfo));
    return -1;
  }
}

int TExfatScaner::AddFile(TFileInfo&& tmpl) { return CatalogueFile(std::move(tmpl), "ExfatScaner.AddFile"); }

void TExfatScaner::PublishFolderChain(TFileInfo* folder) {
  mirel::PublishFolderChain(*this, PendingFolders, folder, [](TFileInfo* f) { return ExfatInfoOf(f); });
}

void TExfatScaner::SummariseScanProblems() {
  if (UnreadFolderCount > 0) {
    std::string w = std::to_string(UnreadFolderCount) + (UnreadFolderCount == 1 ? " folder" : " folders") +
                    " could not be read in full: ";
    for (size_t i = 0; i < UnreadFolders.size(); ++i) w += (i ? ", " : "") + UnreadFolders[i];
    if (UnreadFolderCount > UnreadFolders.size()) w += ", ...";
    ScanWarnings.push_back(std::move(w));
  }
  if (!BitmapFound || BitmapFailed)
    ScanWarnings.emplace_back("the allocation bitmap could not be read: deleted files are rated 0");
  if (FatReadFailed)
    ScanWarnings.emplace_back("the allocation table could not be read in full (from byte " + std::to_string(FatStart) +
                              "): fragmented files may be cut short");
  if (DroppedSets > 0)
    WriteDebugLog("%s: entry sets with a wrong checksum or fields passed over; Disk = %s; Count = %llu",
                  "ExfatScaner.ScanForFiles", Disk ? Disk->Name.c_str() : "",
                  static_cast<unsigned long long>(DroppedSets));
}

}  // namespace mirel
