#pragma once
// The Qt side of the updating thread: what the workers report reaches the
// folder tree, the file list, the count label and the progress bars on the
// main thread. A found folder is added while the worker waits (its node must
// exist before its children arrive); row counts, the found count and percents
// are coalesced and applied about every 50 ms, after any folder that came
// before them.
#include <QHash>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "workers/ViewUpdater.h"

class QLabel;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace mirel::ui {

class TFileListModel;
class TIconList;
class TImageList;

class TViewBridge : public QObject, public TUpdateView {
  Q_OBJECT
public:
  TViewBridge(TViewUpdater& updating, TIconList& icons, QObject* parent = nullptr);
  ~TViewBridge() override;

  void SetTreeView(QTreeWidget* tree);
  void SetListModel(TFileListModel* model);
  void SetCountLabel(QLabel* label);
  void SetScanProgressBar(QProgressBar* bar);
  void SetEraseProgressBar(QProgressBar* bar);
  // Bound by the progress dialog; called on the main thread while the
  // scanning thread waits.
  std::function<void()> OnScanDone;
  std::function<void()> OnEraseDone;

  // The entry a tree node stands for.
  static TFileInfo* EntryOf(const QTreeWidgetItem* node);
  QTreeWidgetItem* NodeOf(TFileInfo* folder) const { return Nodes.value(folder, nullptr); }

  // Applies what is pending now (the timer would do it a little later).
  void Flush();

  // TUpdateView, called by the workers (or by the main thread itself).
  void FolderAdded(TFileInfo* folder) override;
  void RowCountChanged(int rows) override;
  void FoundCountChanged(int found) override;
  void ScanPercentChanged(int percent) override;
  void ScanDone() override;
  void ErasePercentChanged(int percent) override;
  void EraseDone() override;
  void ViewsCleared() override;
  void TreeRebuildRequested() override;

  TViewUpdater& Updating;

private:
  void Schedule();
  void AddFolderNode(TFileInfo* folder);
  void ClearViews();
  void RebuildTree();

  TIconList& Icons;
  QPointer<QTreeWidget> Tree;
  QPointer<TFileListModel> List;
  QPointer<QLabel> CountLabel;
  QPointer<QProgressBar> ScanBar;
  QPointer<QProgressBar> EraseBar;
  QHash<TFileInfo*, QTreeWidgetItem*> Nodes;
  std::atomic<bool> Scheduled{false};
  std::atomic<bool> RowsPending{false};
  // Folders the scanner found since the last flush, in the order found.
  std::mutex PendingLock;
  std::vector<TFileInfo*> PendingFolders;
};

}  // namespace mirel::ui
