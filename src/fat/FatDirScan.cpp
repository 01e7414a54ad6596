// The FAT directory scan: a breadth-first walk of the folder tree from the
// root, deleted folders included, that rebuilds files from their directory
// entries and catalogues the deleted ones (all of them in the Long mode).
#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/FolderChain.h"
#include "core/UpdateView.h"
#include "fat/FatScaner.h"

namespace mirel {

using namespace fat;

// A walk over the 32-byte entries of one directory, window by window along
// its chain. Windows that cannot be opened are passed over (Jumped).
namespace {

// Directory bytes read ahead at a time where a folder's clusters follow one
// another.
constexpr size_t DIR_AHEAD_BYTES = 64 << 10;

}  // namespace

struct TFatScaner::TDirWalk {
  TClusChain& Chain;
  int64_t Limit;  // directory bytes when shorter than the windows; 0: all
  TFileInfo* Folder;
  // A deleted folder: whatever lies in it is deleted too, and its chain
  // grows while it is read.
  bool Deleted = false;
  // A window held the end marker: a deleted folder ends there.
  bool SawEnd = false;
  // A lost folder found midway whose first short entry is still to come.
  bool HeadElsewhere = false;
  // Clusters that the folder's own entries take (first to last): a
  // directory cluster lies after them, not among them.
  std::map<uint32_t, uint32_t> Claimed;
  size_t Elem = 0;
  uint32_t Off = 0;
  uint32_t Bytes = 0;
  bool Open = false;
  bool Jumped = false;
  // Each kind of failure is logged once per folder.
  bool ToldRepeat = false;
  bool ToldUnreadable = false;
  // Windows read, and bytes of windows that could not be read.
  uint32_t WindowsRead = 0;
  int64_t UnreadableBytes = 0;
};

void TFatScaner::ScanForFiles() {
  TDiskScaner::ScanForFiles();
  if (Disk) Disk->ClearCatalogue();
  if (!Init()) {
    ScanFailure = "the boot sector cannot be read or gives an unusable geometry";
    return;
  }
  Quick = Options.Quick;
  SearchLost = !Quick && Options.LostFolders;
  WalkUnits = SearchLost ? PROGRESS_UNITS / 5 : PROGRESS_UNITS;
  UnreadFolders.clear();
  UnreadFolderCount = 0;
  Table.ReadFailed = false;
  LastError = feNone;
  AddRootDir();
  RootFolder = PendingFolders[RootIndex];
  if (RootIndex >= 0) {
    ReadDir(RootIndex);
    ReadPendingFolders(RootIndex + 1, true);
    if (SearchLost && !IsStopped()) SearchLostFolders();
  }
  SummariseScanProblems();
  // Folders under which no file was found are not catalogued.
  for (TFileInfo* e : PendingFolders)
    if (e && Disk) Disk->Catalogue.Discard(e);
  PendingFolders.Clear();
  ReadWindows = {};
  RootFolder = nullptr;
  ReportDone();
}

void TFatScaner::ReadPendingFolders(int from, bool progress) {
  // The list grows while the loop runs: breadth first.
  for (int i = from; i < PendingFolders.Count(); ++i) {
    if (progress) ReportProgress(static_cast<int64_t>(i) * WalkUnits / PendingFolders.Count(), PROGRESS_UNITS);
    if (IsStopped()) break;
    LastError = feNone;
    TFileInfo* folder = PendingFolders[i];
    if (!folder) continue;
    GetDirClusChain(*folder);
    ReadDir(i);
  }
}

void TFatScaner::ReadDir(int index) {
  TFileInfo* folder = PendingFolders[index];
  TFatDirInfo* dir = FatDirOf(folder);
  if (!folder || !dir) return;
  dir->FileIndexes.clear();
  TDirWalk walk{dir->Entry.ClusChain, dir->DirBytes, folder, dir->Entry.Deleted};
  walk.HeadElsewhere = dir->FoundMidway;
  while (!IsStopped()) {
    TFileInfo tmpl;
    if (!ReadFileInfo(walk, tmpl)) break;
    if (LastError != feNone) {
      LastError = feNone;
      continue;
    }
    TFatEntryInfo* e = FatEntryOf(&tmpl);
    if (!e) continue;
    tmpl.Parent = folder;
    if (Quick && !e->Deleted && !e->IsDirectory) continue;
    if (e->IsDirectory) {
      if (dir->Depth + 1 >= MAX_FOLDER_DEPTH) {
        WriteDebugLog("%s: folder nested too deep, not read; Name = %s; Depth = %d", "FatScaner.ReadDir",
                      tmpl.Name.c_str(), dir->Depth + 1);
        continue;
      }
      // Replacing the entry record frees what e points into.
      const uint32_t firstCluster = e->FirstCluster;
      try {
        auto rec = std::make_unique<TFatDirInfo>();
        rec->Entry = *e;
        rec->Depth = dir->Depth + 1;
        tmpl.FsInfo = std::move(rec);
      } catch (const std::bad_alloc&) {
        WriteDebugLog("%s: GetMem unable to allocate memory block; P = %p; Size = %zu", "FatScaner.ReadDir",
                      static_cast<void*>(folder), sizeof(TFatDirInfo));
        continue;
      }
      if (walk.Deleted && firstCluster >= 2) walk.Claimed.emplace(firstCluster, firstCluster);
      AddDir(std::move(tmpl));
    } else {
      const uint32_t size = static_cast<uint32_t>(tmpl.Size);
      uint32_t last = 0;
      tmpl.Condition = static_cast<int16_t>(e->Deleted ? ComputeCondition(*e, size, &last) : 100);  // a percentage
      if (walk.Deleted && last >= e->FirstCluster && e->FirstCluster >= 2) {
        uint32_t& end = walk.Claimed[e->FirstCluster];
        end = std::max(end, last);
      }
      // A count cut short by a stop request would understate the file.
      if (IsStopped()) break;
      PublishFolderChain(folder);
      const int idx = AddFile(std::move(tmpl));
      if (idx < 0) continue;
      try {
        dir->FileIndexes.push_back(idx);
      } catch (const std::bad_alloc&) {
        WriteDebugLog("%s: SetLength raised exception; S = %p; NewLength = %zu", "FatScaner.ReadDir",
                      static_cast<void*>(&dir->FileIndexes), dir->FileIndexes.size() + 1);
      }
    }
  }
  if (walk.UnreadableBytes > 0) NoteUnreadFolder(index, walk.WindowsRead == 0, walk.Chain.empty() ? 0 : walk.Chain[0]);
}

void TFatScaner::NoteUnreadFolder(int index, bool nothingRead, int64_t firstByte) {
  if (index == RootIndex && nothingRead) {
    ScanFailure = "the root folder (at byte " + std::to_string(firstByte) + ") cannot be read" +
                  (firstByte >= Handle.Size() ? ", it lies past the end of the source" : "");
    return;
  }
  if (UnreadFolders.size() < MAX_NAMED_UNREAD_FOLDERS)
    UnreadFolders.push_back(index == RootIndex ? std::string("/") : GetRelativePath(*PendingFolders[index]) + "/");
  ++UnreadFolderCount;
}

void TFatScaner::SummariseScanProblems() {
  if (UnreadFolderCount > 0) {
    std::string w = std::to_string(UnreadFolderCount) + (UnreadFolderCount == 1 ? " folder" : " folders") +
                    " could not be read in full: ";
    for (size_t i = 0; i < UnreadFolders.size(); ++i) w += (i ? ", " : "") + UnreadFolders[i];
    if (UnreadFolderCount > UnreadFolders.size()) w += ", ...";
    ScanWarnings.push_back(std::move(w));
  }
  if (Table.ReadFailed)
    ScanWarnings.push_back("the allocation table could not be read in full (from byte " +
                           std::to_string(int64_t{Table.FirstFailedSector} * BytesPerSector) +
                           "): files whose clusters it lists there are rated 0");
}

bool TFatScaner::TakeAhead(const TDirWalk& walk, int64_t pos, uint32_t bytes) {
  const auto held = static_cast<int64_t>(DirAhead.size());
  if (pos < DirAheadPos || pos + bytes > DirAheadPos + held) {
    // The window and the clusters after it that follow on the volume, up to
    // DIR_AHEAD_BYTES, in one read.
    size_t run = 1;
    while (walk.Elem + run < walk.Chain.size() && (run + 1) * ClusterSize <= DIR_AHEAD_BYTES &&
           walk.Chain[walk.Elem + run] == walk.Chain[walk.Elem + run - 1] + ClusterSize)
      ++run;
    if (run == 1) return false;
    DirAhead.resize(run * ClusterSize);
    DirAheadPos = pos;
    const size_t got = ReadDisk(Handle, DirAhead.data(), DirAhead.size(), pos);
    DirAhead.resize(got);
    if (got < bytes) return false;
  }
  std::memcpy(DirWindow.data(), DirAhead.data() + (pos - DirAheadPos), bytes);
  return true;
}

bool TFatScaner::OpenDirWindow(TDirWalk& walk, int64_t pos, uint32_t bytes) {
  if (!ReadWindows.insert(pos).second) {
    if (!std::exchange(walk.ToldRepeat, true))
      WriteDebugLog("%s: directory cluster already read in this scan, not read again; Folder = %s; Position = %lld",
                    "FatScaner.ReadDir", walk.Folder->Name.c_str(), static_cast<long long>(pos));
    return false;
  }
  DirWindow.resize(ClusterSize);
  if (!TakeAhead(walk, pos, bytes) && ReadDisk(Handle, DirWindow.data(), bytes, pos) < bytes) {
    LastError = feWindowUnreadable;
    walk.UnreadableBytes += bytes;
    DirWindowPos = 0;
    if (!std::exchange(walk.ToldUnreadable, true))
      WriteDebugLog(
          "%s: unable to read directory window, the rest of it is skipped; Folder = %s; Position = %lld; "
          "Size = %u",
          "FatScaner.ReadFileInfo", walk.Folder->Name.c_str(), static_cast<long long>(pos), bytes);
    return false;
  }
  DirWindowPos = pos;
  ++walk.WindowsRead;
  return true;
}

const uint8_t* TFatScaner::NextDirEntry(TDirWalk& walk) {
  for (;;) {
    if (walk.Open) {
      if (walk.Off + kDirEntrySize <= walk.Bytes) {
        const uint8_t* e = DirWindow.data() + walk.Off;
        walk.Off += kDirEntrySize;
        return e;
      }
      walk.Open = false;
      ++walk.Elem;
    }
    if (IsStopped()) return nullptr;
    if (walk.Elem >= walk.Chain.size()) {
      if (!walk.Deleted || !GrowDeletedFolder(walk)) return nullptr;
      continue;
    }
    int64_t bytes = ClusterSize;
    if (walk.Limit > 0) bytes = std::min<int64_t>(bytes, walk.Limit - static_cast<int64_t>(walk.Elem) * ClusterSize);
    if (bytes < static_cast<int64_t>(kDirEntrySize)) return nullptr;
    if (OpenDirWindow(walk, walk.Chain[walk.Elem], static_cast<uint32_t>(bytes))) {
      walk.Open = true;
      walk.Off = 0;
      walk.Bytes = static_cast<uint32_t>(bytes);
    } else {
      ++walk.Elem;
      walk.Jumped = true;
    }
  }
}

bool TFatScaner::GrowDeletedFolder(TDirWalk& walk) {
  if (walk.SawEnd || walk.Chain.empty() || walk.Chain.size() >= MaxDirClusters()) return false;
  const uint32_t next = NextFolderCluster(walk, ClusterAt(walk.Chain.back()));
  if (next == 0) return false;
  const int64_t pos = ClusterOffset(next);
  if (ReadWindows.count(pos)) return false;
  DirWindow.resize(ClusterSize);
  // Only a cluster that reads as directory entries belongs to the folder; one
  // that cannot be read ends it as quietly as one that holds other data.
  if (ReadDisk(Handle, DirWindow.data(), ClusterSize, pos) < ClusterSize ||
      !HoldsDirEntries(DirWindow.data(), ClusterSize)) {
    DirWindowPos = 0;
    return false;
  }
  ReadWindows.insert(pos);
  walk.Chain.push_back(pos);
  DirWindowPos = pos;
  ++walk.WindowsRead;
  walk.Open = true;
  walk.Off = 0;
  walk.Bytes = ClusterSize;
  return true;
}

uint32_t TFatScaner::NextFolderCluster(const TDirWalk& walk, uint32_t last) {
  for (uint32_t c = last + 1; c >= 2 && c <= MaxCluster; ++c) {
    if ((c - last) % 4096 == 0 && IsStopped()) return 0;
    if (auto it = walk.Claimed.upper_bound(c); it != walk.Claimed.begin() && std::prev(it)->second >= c) {
      c = std::prev(it)->second;
      continue;
    }
    if (IsClusterFree(c)) return c;
  }
  return 0;
}

bool TFatScaner::IsWrittenEntry(const uint8_t* e) {
  const int saved = LastError;
  bool ok = IsValidEntry(e) && PlausibleEntry(e);
  LastError = saved;
  if (!ok || IsLongNameEntry(e)) return ok;
  const int64_t dataBytes = int64_t{MaxCluster - 1} * ClusterSize;
  return EntryFirstCluster(e, EntryBits() == 32) != 1 && EntrySize(e) <= dataBytes;
}

bool TFatScaner::HoldsDirEntries(const uint8_t* window, uint32_t bytes) {
  bool any = false, ok = true;
  for (uint32_t off = 0; off + kDirEntrySize <= bytes && window[off] != 0; off += kDirEntrySize) {
    if (!IsWrittenEntry(window + off)) {
      ok = false;
      break;
    }
    any = true;
  }
  return ok && any;
}

bool TFatScaner::IsValidEntry(const uint8_t* e) {
  LastError = feEntryUnusable;
  if (e[0] == 0) {
    LastError = feEndOfDirectory;
    return false;
  }
  const uint8_t attr = EntryAttributes(e);
  if (attr > 0x3F) return false;
  if (IsLongNameEntry(e)) {
    LastError = feNone;
    return true;
  }
  const uint32_t first = EntryFirstCluster(e, EntryBits() == 32);
  if ((first == 0 && EntrySize(e) != 0) || first > MaxCluster) return false;
  for (int i = 0; i < 11; ++i) {
    const uint8_t b = (i == 0 && e[0] == 0x05) ? kDeletedMark : e[i];
    if (IsInvalidNameChar(b)) return false;
  }
  LastError = feNone;
  return true;
}

bool TFatScaner::ReadFileInfo(TDirWalk& walk, TFileInfo& tmpl) {
  LastError = feNone;
  LongNameRun.clear();
  walk.Jumped = false;
  for (;;) {
    const uint8_t* e = NextDirEntry(walk);
    if (!e) return false;
    if (walk.Jumped) {
      // The run was cut by a window that could not be read: its start is lost.
      LongNameRun.clear();
      walk.Jumped = false;
    }
    if (!IsValidEntry(e)) {
      walk.HeadElsewhere = false;
      // The end marker ends the window it stands in.
      if (LastError == feEndOfDirectory) {
        walk.Off = walk.Bytes;
        walk.SawEnd = true;
      }
      return true;
    }
    if (IsLongNameEntry(e)) {
      // A long-name run may go on into the next window; only the entries
      // nearest the short entry can belong to its name.
      if (LongNameRun.size() >= kMaxLongNameEntries) LongNameRun.erase(LongNameRun.begin());
      TDirEntryBytes copy;
      std::copy_n(e, kDirEntrySize, copy.begin());
      LongNameRun.push_back(copy);
      continue;
    }
    // A run that opens a folder found midway is the end of a name unless it
    // holds the name's end itself.
    if (std::exchange(walk.HeadElsewhere, false) && !LongNameRun.empty() && !HoldsEndOfLongName(LongNameRun.front()))
      LongNameRun.clear();
    // Deleting a folder often marks only its own entry: what lies in it is
    // deleted all the same, and keeps its first letter.
    const bool marked = e[0] == kDeletedMark;
    const bool deleted = marked || walk.Deleted;
    if (Quick && !deleted && !(EntryAttributes(e) & faDirectory)) {
      LastError = fePassedOver;
      return true;
    }
    tmpl.Name = BuildLongName(LongNameRun, e);
    if (tmpl.Name.empty()) tmpl.Name = ShortEntryName(e, marked);
    tmpl.Attributes = EntryAttributes(e);
    tmpl.Size = EntrySize(e);
    tmpl.CreationTime = EntryCreationTime(e);
    tmpl.LastWriteTime = EntryWriteTime(e);
    try {
      auto rec = std::make_unique<TFatEntryInfo>();
      rec->Deleted = deleted;
      rec->IsDirectory = (tmpl.Attributes & faDirectory) != 0;
      rec->FirstCluster = EntryFirstCluster(e, EntryBits() == 32);
      rec->EntryOffset = DirWindowPos + (e - DirWindow.data());
      rec->AccessDosDate = EntryAccessDosDate(e);
      tmpl.FsInfo = std::move(rec);
    } catch (const std::bad_alloc&) {
      WriteDebugLog("%s: GetMem unable to allocate memory block; P = %p; Size = %zu", "FatScaner.ReadFileInfo",
                    static_cast<void*>(&tmpl), sizeof(TFatEntryInfo));
      LastError = feNoMemory;
    }
    return true;
  }
}

int TFatScaner::AddDir(TFileInfo&& tmpl) {
  if (!Disk) return -1;
  try {
    TFileInfo* entry = Disk->Catalogue.Add(std::move(tmpl));
    entry->IsFolder = true;
    const int idx = PendingFolders.Add(entry);
    if (TFatDirInfo* dir = FatDirOf(entry)) dir->PendingIndex = idx;
    return idx;
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: GetMem unable to allocate memory block; P = %p; Size = %zu", "FatScaner.AddDir",
                  static_cast<void*>(&tmpl), sizeof(TFileInfo));
    return -1;
  }
}

int TFatScaner::AddFile(TFileInfo&& tmpl) { return CatalogueFile(std::move(tmpl), "FatScaner.AddFile"); }

void TFatScaner::PublishFolderChain(TFileInfo* folder) {
  mirel::PublishFolderChain(*this, PendingFolders, folder, [](TFileInfo* f) { return FatDirOf(f); });
}

}  // namespace mirel
