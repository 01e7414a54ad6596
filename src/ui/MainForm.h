#pragma once
// The main window: pick a volume, scan it, browse the found folders and their
// contents, filter, select and recover.
#include <QMainWindow>
#include <QTableView>
#include <atomic>
#include <memory>
#include <thread>

#include "core/DiskList.h"
#include "query/QueryObject.h"
#include "ui/IconList.h"
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
class TErasingThread;
class TUpdatingThread;
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
  TfrmMainForm(TUpdatingThread& updating, const QString& initialVolume, QWidget* parent = nullptr);
  ~TfrmMainForm() override;

  // Makes filter the window's filter, keeping the selected folder, and shows
  // what it accepts.
  void ApplyFilter(const TFilter& filter);
  void FillDiskList();

  // Commands.
  void BitBtn1Click();   // Scan button
  void MenuScanClick();  // File / Scan
  void btnScanClick();   // hidden Scan
  void btnEraseClick();  // hidden Erase
  void RecoverSelection();
  // Asks for an image file and adds it to the volume box, selected.
  void OpenImage();
  // Adds the image at path to the volume box and selects it; false (the
  // reason shown) when it cannot be listed.
  bool AddImage(const QString& path);
  // Columns wide enough for their titles and contents, dates whole.
  void FitColumns();
  void RecoverHighlightedFolder();
  void BitBtn4Click();    // apply the quick filter
  void BitBtn5Click();    // cancel the quick filter
  void CheckBox1Click();  // show only good files
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

  // Blocks (keeping events flowing) until the last scanning thread has ended.
  void WaitForScanThread();
  // Tells what the last scan of disk could not read, if anything.
  void ReportScanProblems(TDiskObject* disk);

  int Operation = opNone;
  QString DiskLetter;
  TFilter Filter;
  QString LastDestination;
  QString LastImageFolder;

  TUpdatingThread& Updating;
  TImageList Icons;
  TIconList IconList;
  TViewBridge* Bridge;
  TFileListModel* Model;
  TfrmProgressForm* Progress;
  TfrmFilterForm* FilterForm;

  // Components, named as the window's parts.
  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QComboBox* cbxDiskList;
  QToolButton* BitBtn1;
  QPushButton* btnScan;
  QPushButton* btnErase;
  QGroupBox* RadioGroup1;
  QRadioButton* rbtstd;
  QRadioButton* rbtext;
  // A Long scan that also reads all free space for folders nothing links to.
  QCheckBox* chkLostFolders;
  QGroupBox* GroupBox1;
  QLineEdit* edNameMask;
  QCheckBox* CheckBox1;
  QToolButton* BitBtn4;
  QToolButton* BitBtn5;
  QPushButton* BitBtn2;
  QToolButton* BitBtn3;
  QLabel* Label2;
  QLabel* Label4;
  QPushButton* Button1;
  QPushButton* btnPreview;
  QPushButton* btnFilter;
  QWidget* Panel3;
  QWidget* Panel4;
  QWidget* Panel5;
  QSplitter* Splitter1;
  QTreeWidget* tvDirTree;
  TFileListView* lvFileList;
  QLabel* StatusPanel1;
  QWidget* Panel2;
  QLabel* lblWeb;
  QLabel* lblSupport;
  QLabel* lblHelp;
  QMenu* PopupMenu1;
  QMenu* PopupMenu2;
  // Menu items.
  QAction* OpenImage1;
  QAction* test1;
  QAction* Preview1;
  QAction* Preview2;
  QAction* OpenAsFolder1;
  QAction* Exit1;
  QAction* Filters1;
  QAction* ByFilename1;
  QAction* ByType1;
  QAction* SizeUnits1;
  QAction* Subfolders1;
  QAction* Help2;
  QAction* About1;
  QAction* RecoverHighlightedFolder1;
  QAction* expandall1;
  QAction* collapseall1;
  QAction* RecoverSelectedFiles1;
  QAction* PreviewSelectedFile1;
  QAction* OpenAsFolder2;
  QAction* Filter1;
  QAction* SelectAll1;

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
  // Starts the scanning thread; false (with the reason shown) when the
  // volume cannot be scanned.
  bool StartScanThread(TDiskObject* disk);
  // A device this user may not read, opened through the disk service and
  // listed again; the disk itself otherwise (AccessProblem says why).
  TDiskObject* GainAccess(TDiskObject* disk);
  QString AccessProblem;
  void ScanThreadEnded();
  TDiskObject* SelectedDisk() const;

  // Column widths came from the settings: scans leave them alone.
  bool ColumnsRestored = false;
  bool Shown = false;
  // The user moved the splitter (or it came from the settings): resizing
  // the window keeps it.
  bool SplitterPlaced = false;
  std::jthread ScanWatcher;
  std::atomic<bool> ScanRunning{false};
  std::unique_ptr<TErasingThread> ErasingThread;
  // The volume served for "Open as Folder"; it goes before its catalogue does.
  std::unique_ptr<TFolderMount> FolderMount;
};

}  // namespace mirel::ui
