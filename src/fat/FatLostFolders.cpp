// The search of free space for lost folders: directory clusters that no
// folder reached from the root leads to any more (a folder whose entry was
// overwritten, the clusters of a deleted folder past where its chain could be
// followed). Each becomes a deleted folder $lost_folder_<cluster> under the
// root, read like any other.
#include <algorithm>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/UpdateView.h"
#include "fat/FatScaner.h"

namespace mirel {

using namespace fat;

namespace {

// Free space is read this many bytes at a time.
constexpr size_t LOST_BLOCK_BYTES = 1 << 20;
// Entries in a row, all plausible, that make a cluster a directory's when it
// does not open with "." and "..": one or two such entries are what random
// bytes or text can give.
constexpr int MIN_LOST_RUN = 4;

struct TCandidate {
  uint32_t Cluster = 0;
  bool DotPair = false;
  uint32_t Parent = 0;  // the ".." entry's cluster
  TDirEntryBytes Dot{};
};

}  // namespace

void TFatScaner::SearchLostFolders() {
  if (!RootFolder || ClusterSize == 0) return;
  const bool fat32 = EntryBits() == 32;
  // Clusters past the end of the source hold nothing to search.
  const int64_t held = Handle.Size() > DataStart ? (Handle.Size() - DataStart) / ClusterSize : 0;
  const auto last = static_cast<uint32_t>(std::min<int64_t>(MaxCluster, held + 1));
  auto unread = [&](uint32_t c) { return IsClusterFree(c) && !ReadWindows.count(ClusterOffset(c)); };

  std::vector<TCandidate> found;
  std::vector<uint8_t> block;
  uint64_t unreadable = 0;
  const uint32_t per = std::max<uint32_t>(1, LOST_BLOCK_BYTES / ClusterSize);
  for (uint32_t c = 2; c <= last && !IsStopped();) {
    if (c % 4096 == 0) ReportProgress(WalkUnits + (PROGRESS_UNITS - WalkUnits) * c / last, PROGRESS_UNITS);
    if (!unread(c)) {
      ++c;
      continue;
    }
    uint32_t n = 1;
    while (n < per && c + n <= last && unread(c + n)) ++n;
    block.resize(size_t{n} * ClusterSize);
    TByteRanges bad;
    (void)ReadDiskPatched(Handle, block.data(), block.size(), ClusterOffset(c), bad);
    for (uint32_t k = 0; k < n; ++k) {
      if (bad.Intersects(int64_t{k} * ClusterSize, ClusterSize)) {
        ++unreadable;
        continue;
      }
      const uint8_t* w = block.data() + size_t{k} * ClusterSize;
      TCandidate cand;
      cand.Cluster = c + k;
      if (IsDotEntry(w, 1) && IsDotEntry(w + kDirEntrySize, 2) && EntryFirstCluster(w, fat32) == cand.Cluster) {
        cand.DotPair = true;
        cand.Parent = EntryFirstCluster(w + kDirEntrySize, fat32);
        std::copy_n(w, kDirEntrySize, cand.Dot.begin());
      } else {
        int run = 0;
        for (uint32_t off = 0; off + kDirEntrySize <= ClusterSize && run < MIN_LOST_RUN && w[off] != 0;
             off += kDirEntrySize)
          run = IsWrittenEntry(w + off) ? run + 1 : 0;
        if (run < MIN_LOST_RUN) continue;
      }
      try {
        found.push_back(cand);
      } catch (const std::bad_alloc&) {
        WriteDebugLog("%s: SetLength raised exception; S = %p; NewLength = %zu", "FatScaner.SearchLostFolders",
                      static_cast<void*>(&found), found.size() + 1);
      }
    }
    c += n;
  }
  if (unreadable > 0)
    ScanWarnings.push_back(std::to_string(unreadable) + (unreadable == 1 ? " cluster" : " clusters") +
                           " of free space could not be read in the search for lost folders");

  // Folders whose parent is no candidate first, then the others, then
  // clusters without "." and "..": reading a folder reads its subfolders and
  // its further clusters, which are then not listed a second time.
  std::unordered_set<uint32_t> at;
  for (const TCandidate& f : found) at.insert(f.Cluster);
  auto rank = [&](const TCandidate& f) { return f.DotPair ? (at.count(f.Parent) ? 1 : 0) : 2; };
  std::stable_sort(found.begin(), found.end(),
                   [&](const TCandidate& a, const TCandidate& b) { return rank(a) < rank(b); });
  for (const TCandidate& f : found) {
    if (IsStopped()) break;
    if (ReadWindows.count(ClusterOffset(f.Cluster))) continue;
    ReadLostFolder(f.Cluster, f.DotPair ? f.Dot.data() : nullptr);
  }
  ReportProgress(PROGRESS_UNITS, PROGRESS_UNITS);
}

void TFatScaner::ReadLostFolder(uint32_t cluster, const uint8_t* dot) {
  TFileInfo tmpl;
  tmpl.Name = "$lost_folder_" + std::to_string(cluster);
  tmpl.Attributes = faDirectory;
  tmpl.Parent = RootFolder;
  if (dot) {
    tmpl.CreationTime = EntryCreationTime(dot);
    tmpl.LastWriteTime = EntryWriteTime(dot);
  }
  try {
    auto rec = std::make_unique<TFatDirInfo>();
    rec->Entry.Deleted = true;
    rec->Entry.IsDirectory = true;
    rec->Entry.FirstCluster = cluster;
    rec->Depth = 1;
    rec->FoundMidway = dot == nullptr;
    tmpl.FsInfo = std::move(rec);
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: GetMem unable to allocate memory block; P = %p; Size = %zu", "FatScaner.ReadLostFolder",
                  static_cast<void*>(&tmpl), sizeof(TFatDirInfo));
    return;
  }
  const int index = AddDir(std::move(tmpl));
  if (index >= 0) ReadPendingFolders(index, false);
}

}  // namespace mirel
