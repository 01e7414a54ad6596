#include "workers/ViewUpdater.h"

#include <unordered_set>

#include "core/DiskObject.h"

namespace mirel {

void TViewUpdater::SetView(TUpdateView* view) { View = view; }

void TViewUpdater::SetDisk(TDiskObject* disk) {
  if (Disk.exchange(disk) == disk) return;
  FoundCount = disk ? disk->Files.Count() : 0;
  if (TUpdateView* v = View.load()) {
    v->ViewsCleared();
    v->RowCountChanged(Query.ResultCount());
  }
}

void TViewUpdater::FolderFound(TDiskObject* disk, TFileInfo* entry) {
  if (!entry) return;
  entry->Disk = disk;
  if (!IsCurrent(disk)) return;
  if (TUpdateView* v = View.load()) v->FolderAdded(entry);
}

void TViewUpdater::FileFound(TDiskObject* disk, TFileInfo* entry) {
  if (!entry) return;
  entry->Disk = disk;
  if (!IsCurrent(disk)) return;
  TUpdateView* v = View.load();
  if (Query.AddIfAccepted(entry) && v) v->RowCountChanged(Query.ResultCount());
  FoundCount = disk->Files.Count();
  if (v) v->FoundCountChanged(FoundCount);
}

void TViewUpdater::ScanProgress(TDiskObject* disk, int64_t done, int64_t total) {
  if (!IsCurrent(disk)) return;
  int pct = ProgressPercent(done, total);
  if (ScanPercent.exchange(pct) == pct) return;
  if (TUpdateView* v = View.load()) v->ScanPercentChanged(pct);
}

void TViewUpdater::ScanDone(TDiskObject* disk) {
  if (!IsCurrent(disk)) return;
  ScanPercent = 0;
  if (TUpdateView* v = View.load()) {
    v->ScanPercentChanged(0);
    v->ScanDone();
  }
}

void TViewUpdater::EraseProgress(TDiskObject* disk, int64_t done, int64_t total) {
  if (!IsCurrent(disk)) return;
  int pct = ProgressPercent(done, total);
  if (ErasePercent.exchange(pct) == pct) return;
  if (TUpdateView* v = View.load()) v->ErasePercentChanged(pct);
}

void TViewUpdater::EraseDone(TDiskObject* disk) {
  if (!IsCurrent(disk)) return;
  ErasePercent = 0;
  if (TUpdateView* v = View.load()) {
    v->ErasePercentChanged(0);
    v->EraseDone();
  }
}

void TViewUpdater::RefreshList() {
  if (TUpdateView* v = View.load()) v->RowCountChanged(Query.ResultCount());
}

void TViewUpdater::RefreshTree() {
  if (TUpdateView* v = View.load()) v->TreeRebuildRequested();
}

std::vector<TFileInfo*> TViewUpdater::FoldersToShow() {
  std::vector<TFileInfo*> out;
  TDiskObject* disk = Disk.load();
  if (!disk) return out;
  // Every folder that leads to an accepted file is shown, whichever folder
  // is selected.
  std::unordered_set<TFileInfo*> shown;
  std::vector<TFileInfo*> chain;
  for (TFileInfo* f : disk->Files) {
    if (!f || !Query.AcceptsInAnyFolder(*f)) continue;
    chain.clear();
    for (TFileInfo* p = f->Parent; p && !shown.count(p) && static_cast<int>(chain.size()) < MAX_FOLDER_DEPTH;
         p = p->Parent)
      chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      shown.insert(*it);
      out.push_back(*it);
    }
  }
  return out;
}

}  // namespace mirel
