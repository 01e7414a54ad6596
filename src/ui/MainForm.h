#pragma once
// The main window: pick a volume, scan it, browse the found folders and their
// contents, filter, select and recover.
#include <QMainWindow>
#include <QTableView>
#include <atomic>
#include <memory>

#include "core/DiskList.h"
#include "engine/EraseJob.h"
#include "engine/ScanJob.h"
#include "query/QueryObject.h"
#include "ui/IconList.h"
#include "ui/JobViewEvents.h"
#include "ui/ProgressForm.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace mirel {
class TViewUpdater;
}  // namespace mirel

namespace mirel::ui {

class TFileListModel;
class TFolderMount;
class TfrmDataPreview;
class TfrmFilterForm;
class TViewBridge;

// The file list. While it has the focus, the shortcuts of its own context
// menu win over the same shortcuts of the main menu.
class TFileListView : public QTableView {
  Q_OBJECT
public:
  using QTableView::QTableView;
  // The context menu whose shortcuts the view handles itself.
  QMenu* ContextMenu = nullptr;

signals:
  // Enter on a row.
  void PreviewRequested();

protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
};

class TfrmMainForm : public QMainWindow {
  Q_OBJECT
public:
  // initialVolume: the name of the volume selected at start (may be empty).
  TfrmMainForm(TViewUpdater& updating, const QString& initialVolume, QWidget* parent = nullptr);
  ~TfrmMainForm() override;

  // Makes filter the window's filter, keeping the selected folder, and shows
  // what it accepts.
  void ApplyFilter(const TFilter& filter);
  void FillDiskList();

  // Commands.
  void ScanButtonClick();
  void MenuScanClick();  // File / Scan
  void HiddenScanClick();
  void EraseButtonClick();  // hidden
  void RecoverSelection();
  // Asks for an image file and adds it to the volume box, selected.
  void OpenImage();
  // Adds the image at path to the volume box and selects it; false (the
  // reason shown) when it cannot be listed.
  bool AddImage(const QString& path);
  // Columns wide enough for their titles and contents, dates whole.
  void FitColumns();
  void RecoverHighlightedFolder();
  void ApplyQuickFilter();
  void ClearQuickFilter();
  void GoodFilesOnlyClick();
  void SelectAll();
  void ExpandTree();
  void CollapseTree();
  void OpenHelp();
  // Opens the bundled manual at a section (its anchor), or at the top.
  void OpenManual(const QString& section);
  // The program's name and version.
  void ShowAbout();
  // Tells, in one message, which of the sources named at start could not be
  // opened and why.
  void SayRejectedSources(const std::vector<TRejectedSource>& rejected);
  void ShowFilterDialog();
  // Opens a preview window on the first selected row's file; null when that
  // row is a folder or nothing is selected.
  TfrmDataPreview* OpenPreview();
  // Serves the scanned volume's found files as a folder and opens the
  // folder shown in the tree with the desktop's file manager.
  void OpenAsFolder();

  // Blocks (keeping events flowing) until the last scan job has ended.
  void WaitForScan();
  // Tells what the last scan of disk could not read, if anything.
  void ReportScanProblems(TDiskObject* disk);

  int Operation = opNone;
  QString DiskLetter;
  TFilter Filter;
  QString LastDestination;
  QString LastImageFolder;

  TViewUpdater& Updating;
  TImageList Icons;
  TIconList IconList;
  TViewBridge* Bridge;
  TFileListModel* Model;
  TfrmProgressForm* Progress;
  TfrmFilterForm* FilterForm;

  // The running scan or erase, for the progress dialog's Cancel; each
  // job's events outlive it.
  std::unique_ptr<TJobViewEvents> ScanEvents;
  std::unique_ptr<TScanJob> ScanJob;
  std::unique_ptr<TJobViewEvents> EraseEvents;
  std::unique_ptr<TEraseJob> EraseJob;

  // Components, named as the window's parts.
  QTabWidget* StepTabs;
  QWidget* ScanPage;
  QWidget* RecoverPage;
  QComboBox* VolumeBox;
  QToolButton* ScanButton;
  QPushButton* HiddenScanButton;
  QPushButton* EraseButton;
  QGroupBox* ModeGroup;
  QRadioButton* QuickModeButton;
  QRadioButton* LongModeButton;
  // A Long scan that also reads all free space for folders nothing links to.
  QCheckBox* LostFoldersBox;
  QGroupBox* QuickFilterGroup;
  QLineEdit* NameMaskEdit;
  QCheckBox* GoodFilesOnlyBox;
  QToolButton* ApplyMaskButton;
  QToolButton* ClearMaskButton;
  QPushButton* AdvancedFiltersButton;
  QToolButton* CopyButton;
  QLabel* FoundCountLabel;
  QLabel* FoundSummaryLabel;
  QPushButton* RecoverSelectedButton;
  QPushButton* PreviewButton;
  QPushButton* FilterButton;
  QWidget* BrowsePanel;
  QWidget* TreePanel;
  QWidget* ListPanel;
  QSplitter* TreeListSplitter;
  QTreeWidget* FolderTree;
  TFileListView* FileList;
  QLabel* StatusLabel;
  QWidget* LinksPanel;
  QLabel* WebLink;
  QLabel* SupportLink;
  QLabel* HelpLink;
  QMenu* TreeMenu;
  QMenu* ListMenu;
  // Menu items.
  QAction* OpenImageAction;
  QAction* ScanAction;
  QAction* RecoverAction;
  QAction* PreviewAction;
  QAction* OpenAsFolderAction;
  QAction* ExitAction;
  QAction* AdvancedFiltersAction;
  QAction* ExpandTreeAction;
  QAction* CollapseTreeAction;
  QAction* SizeUnitsAction;
  QAction* SubfolderFilesAction;
  QAction* ManualAction;
  QAction* AboutAction;
  QAction* RecoverFolderAction;
  QAction* ExpandAllAction;
  QAction* CollapseAllAction;
  QAction* RecoverSelectedAction;
  QAction* PreviewSelectedAction;
  QAction* ListOpenAsFolderAction;
  QAction* ListFilterAction;
  QAction* SelectAllAction;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void BuildLayout();
  void BuildMenus();
  void DiskChosen(int index);
  void TreeNodeChanged(QTreeWidgetItem* node);
  void PrepareQuery(TDiskObject* disk);
  // Files of subfolders are listed while a filter hides some files, when
  // the View menu says so.
  void SetSubfolderFlag();
  void ShowSortIndicator();
  void RestoreSettings();
  void SaveSettings() const;
  // Whether a volume is chosen; says why not and what to do when none is.
  bool CanScan();
  // The scan steps the three scan commands share, after the volume is set;
  // false when no scan ran to its end report.
  bool RunScan();
  // Closes the preview windows reading from disk's catalogue, their streams
  // dropped at once.
  void DropPreviewsOf(TDiskObject* disk);
  // Starts the scan job; false (with the reason shown) when the volume
  // cannot be scanned.
  bool StartScanJob(TDiskObject* disk);
  // A device this user may not read, opened through the disk service and
  // listed again; the disk itself otherwise (AccessProblem says why).
  TDiskObject* GainAccess(TDiskObject* disk);
  QString AccessProblem;
  void ScanEnded();
  TDiskObject* SelectedDisk() const;

  // Column widths came from the settings: scans leave them alone.
  bool ColumnsRestored = false;
  bool Shown = false;
  // The user moved the splitter (or it came from the settings): resizing
  // the window keeps it.
  bool SplitterPlaced = false;
  std::atomic<bool> ScanRunning{false};
  // The volume served for "Open as Folder"; it goes before its catalogue does.
  std::unique_ptr<TFolderMount> FolderMount;
};

}  // namespace mirel::ui
