#pragma once
// The bridge from the workers to a front end's views (the desktop program's
// "updating thread", though it is no thread): it keeps the query of
// the shown volume up to date while a scan publishes entries, and tells the
// view what changed. The view decides how the change reaches its own thread
// (the desktop program batches them onto its main thread); publishing a file
// costs no allocation beyond the query's result slot.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/UpdateView.h"
#include "query/QueryObject.h"

namespace mirel {

// What a front end shows. Every call comes from the worker that caused it.
class TUpdateView {
public:
  virtual ~TUpdateView() = default;
  // A folder of the shown volume was published; its parent came first.
  virtual void FolderAdded(TFileInfo* folder) {}
  // The file list now has this many rows (rows are filled on demand).
  virtual void RowCountChanged(int rows) {}
  // Files found so far on the shown volume.
  virtual void FoundCountChanged(int found) {}
  virtual void ScanPercentChanged(int percent) {}
  virtual void ScanDone() {}
  virtual void ErasePercentChanged(int percent) {}
  virtual void EraseDone() {}
  // The shown volume changed: tree and list start empty.
  virtual void ViewsCleared() {}
  // The filter changed: the tree is to show only folders leading to
  // accepted files.
  virtual void TreeRebuildRequested() {}
};

class TViewUpdater : public TUpdateTarget {
public:
  void SetView(TUpdateView* view);
  void SetDisk(TDiskObject* disk);
  TDiskObject* CurrentDisk() const { return Disk.load(); }

  void FolderFound(TDiskObject* disk, TFileInfo* entry) override;
  void FileFound(TDiskObject* disk, TFileInfo* entry) override;
  void ScanProgress(TDiskObject* disk, int64_t done, int64_t total) override;
  void ScanDone(TDiskObject* disk) override;
  void EraseProgress(TDiskObject* disk, int64_t done, int64_t total) override;
  void EraseDone(TDiskObject* disk) override;

  // The list shows the query's current results.
  void RefreshList();
  void RefreshTree();

  // Folders leading to files the query accepts, parents before children, in
  // the order their files come; what a rebuilt tree shows.
  std::vector<TFileInfo*> FoldersToShow();

  TQueryObject Query;
  std::atomic<int> FoundCount{0};
  std::atomic<int> ScanPercent{0};
  std::atomic<int> ErasePercent{0};

private:
  bool IsCurrent(TDiskObject* disk) const { return disk && disk == Disk.load(); }
  std::atomic<TDiskObject*> Disk{nullptr};
  std::atomic<TUpdateView*> View{nullptr};
};

}  // namespace mirel
