#include "ui/ViewBridge.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include "core/DiskObject.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/IconList.h"

namespace mirel::ui {

namespace {

constexpr int FlushMilliseconds = 50;

bool OnMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

}  // namespace

TViewBridge::TViewBridge(TViewUpdater& updating, TIconList& icons, QObject* parent)
    : QObject(parent), Updating(updating), Icons(icons) {
  Updating.SetView(this);
}

TViewBridge::~TViewBridge() { Updating.SetView(nullptr); }

void TViewBridge::SetTreeView(QTreeWidget* tree) { Tree = tree; }

void TViewBridge::SetListModel(TFileListModel* model) { List = model; }

void TViewBridge::SetCountLabel(QLabel* label) {
  CountLabel = label;
  if (label) label->setText(QString::number(Updating.FoundCount.load()));
}

void TViewBridge::SetScanProgressBar(QProgressBar* bar) {
  ScanBar = bar;
  if (bar) {
    bar->setRange(0, 100);
    bar->setValue(Updating.ScanPercent.load());
  }
}

void TViewBridge::SetEraseProgressBar(QProgressBar* bar) {
  EraseBar = bar;
  if (bar) {
    bar->setRange(0, 100);
    bar->setValue(Updating.ErasePercent.load());
  }
}

TFileInfo* TViewBridge::EntryOf(const QTreeWidgetItem* node) {
  return node ? reinterpret_cast<TFileInfo*>(node->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

void TViewBridge::Schedule() {
  if (Scheduled.exchange(true)) return;
  QMetaObject::invokeMethod(
      this, [this] { QTimer::singleShot(FlushMilliseconds, this, &TViewBridge::Flush); }, Qt::QueuedConnection);
}

void TViewBridge::Flush() {
  Scheduled = false;
  std::vector<TFileInfo*> folders;
  {
    std::lock_guard lock(PendingLock);
    folders.swap(PendingFolders);
  }
  for (TFileInfo* folder : folders) AddFolderNode(folder);
  if (RowsPending.exchange(false) && List) List->GrowTo(Updating.Query.ResultCount());
  if (CountLabel) CountLabel->setText(QString::number(Updating.FoundCount.load()));
  if (ScanBar) ScanBar->setValue(Updating.ScanPercent.load());
  if (EraseBar) EraseBar->setValue(Updating.ErasePercent.load());
}

void TViewBridge::FolderAdded(TFileInfo* folder) {
  if (OnMainThread()) {
    Flush();
    AddFolderNode(folder);
    return;
  }
  // The scanner does not wait for the window: a folder joins the tree with
  // the next flush, after those found before it. Folders come parents first.
  {
    std::lock_guard lock(PendingLock);
    PendingFolders.push_back(folder);
  }
  Schedule();
}

void TViewBridge::RowCountChanged(int) {
  if (OnMainThread()) {
    RowsPending = false;
    if (List) List->Reset();
    return;
  }
  RowsPending = true;
  Schedule();
}

void TViewBridge::FoundCountChanged(int) {
  if (OnMainThread())
    Flush();
  else
    Schedule();
}

void TViewBridge::ScanPercentChanged(int) { FoundCountChanged(0); }

void TViewBridge::ErasePercentChanged(int) { FoundCountChanged(0); }

void TViewBridge::ScanDone() {
  RunOnMainThread([this] {
    Flush();
    if (OnScanDone) OnScanDone();
  });
}

void TViewBridge::EraseDone() {
  RunOnMainThread([this] {
    Flush();
    if (OnEraseDone) OnEraseDone();
  });
}

void TViewBridge::ViewsCleared() {
  RunOnMainThread([this] { ClearViews(); });
}

void TViewBridge::TreeRebuildRequested() {
  RunOnMainThread([this] { RebuildTree(); });
}

void TViewBridge::AddFolderNode(TFileInfo* folder) {
  if (!Tree || !folder) return;
  QTreeWidgetItem* parent = folder->Parent ? Nodes.value(folder->Parent, nullptr) : nullptr;
  const bool first = Tree->topLevelItemCount() == 0;
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(Tree);
  node->setText(0, QString::fromStdString(folder->Name));
  node->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(folder)));
  const bool deleted = folder->FsInfo && folder->FsInfo->IsDeleted();
  TImageList* images = Icons.GetImageList();
  if (images) node->setIcon(0, images->Icon(deleted || first ? Icons.IndexOf(QStringLiteral("**FOLDER")) : 0));
  if (deleted) {
    // Italics, as in the file list: readable whatever the palette.
    QFont f = node->font(0);
    f.setItalic(true);
    node->setFont(0, f);
    node->setToolTip(0, QStringLiteral("%1 (deleted)").arg(node->text(0)));
  }
  Nodes.insert(folder, node);
}

void TViewBridge::ClearViews() {
  Scheduled = false;
  RowsPending = false;
  {
    std::lock_guard lock(PendingLock);
    PendingFolders.clear();
  }
  Nodes.clear();
  if (Tree) Tree->clear();
  if (List) List->Reset();
}

void TViewBridge::RebuildTree() {
  if (!Tree || !Updating.CurrentDisk()) return;
  Nodes.clear();
  Tree->clear();
  for (TFileInfo* folder : Updating.FoldersToShow()) AddFolderNode(folder);
}

}  // namespace mirel::ui
