#include "ui/MainForm.h"

#include "workers/ErasingThread.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <optional>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryManager.h"
#include "platform/Mounts.h"
#include "platform/RawSource.h"
#include "query/RecoveryRegEx.h"
#include "ui/Dialogs.h"
#include "ui/DiskService.h"
#include "ui/FileListModel.h"
#include "ui/FilterForm.h"
#include "ui/FolderMount.h"
#include "ui/ManualWindow.h"
#include "ui/PreviewForm.h"
#include "ui/RecoverySummary.h"
#include "ui/ViewBridge.h"
#include "workers/RecoveringThread.h"
#include "workers/UpdatingThread.h"

namespace mirel::ui {

namespace {

// A hint "short|long": the short part is the tooltip, the long part shows in
// the status bar; a hint without "|" is both.
void SetHint(QWidget* w, const QString& hint) {
  qsizetype bar = hint.indexOf(u'|');
  w->setToolTip(bar < 0 ? hint : hint.left(bar));
  w->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

template <class T>
T* Named(T* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QToolButton* BigButton(QWidget* parent, const char* name, const QString& caption, QStyle::StandardPixmap pixmap) {
  auto* b = Named(new QToolButton(parent), name);
  b->setText(caption);
  b->setIcon(parent->style()->standardIcon(pixmap));
  b->setIconSize(QSize(24, 24));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setMinimumSize(75, 56);
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  return b;
}

QAction* MakeAction(QObject* parent, const char* name, const QString& caption, const QKeySequence& keys = {}) {
  auto* a = new QAction(caption, parent);
  a->setObjectName(QString::fromLatin1(name));
  if (!keys.isEmpty()) a->setShortcut(keys);
  return a;
}

QString ManualPath() {
  const QString app = QCoreApplication::applicationDirPath();
  for (const QString& p :
       {app + QStringLiteral("/docs/manual.html"), app + QStringLiteral("/../docs/manual.html"),
        app + QStringLiteral("/../share/mirel/manual.html"), QStringLiteral(MIREL_DOCS_DIR "/manual.html")})
    if (QFileInfo::exists(p)) return QFileInfo(p).absoluteFilePath();
  return {};
}

// Whether the filter hides any file: a mask that takes every name does not.
bool FilterNarrows(const TFilter& filter) {
  if (filter.Flags & (qfDate | qfSize | qfAttributes | qfCondition)) return true;
  if (!(filter.Flags & qfMask)) return false;
  return filter.Mask != WildcardToPattern("*.*") && filter.Mask != WildcardToPattern("*");
}

}  // namespace

bool TFileListView::event(QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride && ContextMenu) {
    auto* k = static_cast<QKeyEvent*>(e);
    const QKeySequence pressed(k->keyCombination());
    for (QAction* a : ContextMenu->actions())
      if (!a->shortcut().isEmpty() && a->shortcut() == pressed) {
        e->accept();
        return true;
      }
  }
  return QTableView::event(e);
}

void TFileListView::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && e->modifiers() == Qt::NoModifier) {
    emit PreviewRequested();
    e->accept();
    return;
  }
  if (ContextMenu) {
    const QKeySequence pressed(e->keyCombination());
    for (QAction* a : ContextMenu->actions())
      if (!a->shortcut().isEmpty() && a->shortcut() == pressed) {
        if (a->isEnabled()) a->trigger();
        e->accept();
        return;
      }
  }
  QTableView::keyPressEvent(e);
}

TfrmMainForm::TfrmMainForm(TUpdatingThread& updating, const QString& initialVolume, QWidget* parent)
    : QMainWindow(parent), Updating(updating), IconList(&Icons) {
  setObjectName(QStringLiteral("frmMainForm"));
  // The window system adds the program's name after the title.
  setWindowTitle(QStringLiteral("Deleted File Recovery"));
  // Image 0 is what live folders show in the tree.
  Icons.Add(QIcon::fromTheme(QStringLiteral("folder"), style()->standardIcon(QStyle::SP_DirIcon)));
  Bridge = new TViewBridge(updating, IconList, this);
  Model = new TFileListModel(updating.Query, IconList, Icons, this);
  BuildLayout();
  BuildMenus();
  setAcceptDrops(true);
  Progress = new TfrmProgressForm(this);
  FilterForm = new TfrmFilterForm([this](const TFilter& f) { ApplyFilter(f); }, this);

  Bridge->SetTreeView(tvDirTree);
  Bridge->SetListModel(Model);
  DiskLetter = initialVolume;
  FillDiskList();
  Filter.Flags = qfFolder;
  ApplyFilter(Filter);
  Updating.SetDisk(RecoveryManager().FindDisk(DiskLetter.toStdString()));
  RestoreSettings();
}

TfrmMainForm::~TfrmMainForm() {
  FolderMount.reset();
  if (ScanRunning) RecoveryManager().StopScan(DiskLetter.toStdString());
  WaitForScanThread();
  Bridge->OnScanDone = nullptr;
}

void TfrmMainForm::BuildLayout() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(4, 4, 4, 0);

  PageControl1 = Named(new QTabWidget(central), "PageControl1");
  QFont bold = PageControl1->font();
  bold.setBold(true);
  PageControl1->tabBar()->setFont(bold);

  // Step 1: the volume and the scan.
  TabSheet1 = Named(new QWidget, "TabSheet1");
  auto* t1 = new QHBoxLayout(TabSheet1);
  cbxDiskList = Named(new QComboBox(TabSheet1), "cbxDiskList");
  cbxDiskList->setEditable(false);
  cbxDiskList->setMinimumWidth(300);
  cbxDiskList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  BitBtn1 = BigButton(TabSheet1, "BitBtn1", QStringLiteral("Scan"), QStyle::SP_BrowserReload);
  btnScan = Named(new QPushButton(QStringLiteral("Scan"), TabSheet1), "btnScan");
  btnErase = Named(new QPushButton(QStringLiteral("Erase"), TabSheet1), "btnErase");
  RadioGroup1 = Named(new QGroupBox(QStringLiteral(" Mode "), TabSheet1), "RadioGroup1");
  auto* modes = new QHBoxLayout(RadioGroup1);
  rbtstd = Named(new QRadioButton(QStringLiteral("Quick"), RadioGroup1), "rbtstd");
  rbtext = Named(new QRadioButton(QStringLiteral("Long"), RadioGroup1), "rbtext");
  SetHint(rbtstd, QStringLiteral("Default deleted file recovery"));
  SetHint(rbtext, QStringLiteral("Display all files; deleted and current (beta!)"));
  rbtstd->setChecked(true);
  modes->addWidget(rbtstd);
  modes->addWidget(rbtext);
  chkLostFolders =
      Named(new QCheckBox(QStringLiteral("Search free space for lost folders"), TabSheet1), "chkLostFolders");
  SetHint(chkLostFolders, QStringLiteral("Lists current files too, and reads all free space: takes time"));
  auto* source = new QVBoxLayout;
  source->addStretch();
  source->addWidget(cbxDiskList);
  source->addWidget(chkLostFolders);
  source->addStretch();
  t1->addLayout(source, 1);
  t1->addWidget(BitBtn1);
  t1->addWidget(btnScan);
  t1->addWidget(btnErase);
  t1->addWidget(RadioGroup1);
  btnScan->hide();
  btnErase->hide();
  RadioGroup1->hide();
  PageControl1->addTab(TabSheet1, QStringLiteral("Step 1: Scan "));

  // Step 2: filters and recovery.
  TabSheet2 = Named(new QWidget, "TabSheet2");
  auto* t2 = new QHBoxLayout(TabSheet2);
  GroupBox1 = Named(new QGroupBox(QStringLiteral(" Quick Filters "), TabSheet2), "GroupBox1");
  auto* g = new QHBoxLayout(GroupBox1);
  edNameMask = Named(new QLineEdit(QStringLiteral("*.*"), GroupBox1), "edNameMask");
  CheckBox1 = Named(new QCheckBox(QStringLiteral("Show only good files"), GroupBox1), "CheckBox1");
  BitBtn4 = Named(new QToolButton(GroupBox1), "BitBtn4");
  BitBtn4->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  SetHint(BitBtn4, QStringLiteral("Apply quick filter"));
  BitBtn5 = Named(new QToolButton(GroupBox1), "BitBtn5");
  BitBtn5->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  SetHint(BitBtn5, QStringLiteral("Cancel quick filter"));
  BitBtn2 = Named(new QPushButton(QStringLiteral("Advanced filters >"), GroupBox1), "BitBtn2");
  SetHint(BitBtn2, QStringLiteral("Advanced filters: time, date, size"));
  g->addWidget(edNameMask, 1);
  g->addWidget(BitBtn4);
  g->addWidget(BitBtn5);
  g->addWidget(CheckBox1);
  g->addWidget(BitBtn2);
  BitBtn3 = BigButton(TabSheet2, "BitBtn3", QStringLiteral("Copy"), QStyle::SP_DialogSaveButton);
  Label2 = Named(new QLabel(QStringLiteral("0"), TabSheet2), "Label2");
  Label4 = Named(new QLabel(TabSheet2), "Label4");
  Button1 = Named(new QPushButton(QStringLiteral("Recover selected"), TabSheet2), "Button1");
  btnPreview = Named(new QPushButton(QStringLiteral("Preview Selected"), TabSheet2), "btnPreview");
  btnFilter = Named(new QPushButton(QStringLiteral("Filter"), TabSheet2), "btnFilter");
  for (QWidget* hidden : std::initializer_list<QWidget*>{Label2, Label4, Button1, btnPreview, btnFilter})
    hidden->hide();
  t2->addWidget(GroupBox1, 1);
  t2->addWidget(BitBtn3);
  PageControl1->addTab(TabSheet2, QStringLiteral("Step 2: Recover "));
  outer->addWidget(PageControl1);

  // The tree and the list.
  Panel3 = Named(new QWidget(central), "Panel3");
  auto* p3 = new QHBoxLayout(Panel3);
  p3->setContentsMargins(0, 0, 0, 0);
  Splitter1 = Named(new QSplitter(Qt::Horizontal, Panel3), "Splitter1");
  Panel4 = Named(new QWidget(Splitter1), "Panel4");
  auto* p4 = new QVBoxLayout(Panel4);
  p4->setContentsMargins(0, 0, 0, 0);
  tvDirTree = Named(new QTreeWidget(Panel4), "tvDirTree");
  tvDirTree->setHeaderHidden(true);
  tvDirTree->setIndentation(19);
  tvDirTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvDirTree->setContextMenuPolicy(Qt::CustomContextMenu);
  SetHint(tvDirTree, QStringLiteral("|Right click for more options"));
  p4->addWidget(tvDirTree);
  Panel5 = Named(new QWidget(Splitter1), "Panel5");
  auto* p5 = new QVBoxLayout(Panel5);
  p5->setContentsMargins(0, 0, 0, 0);
  lvFileList = Named(new TFileListView(Panel5), "lvFileList");
  lvFileList->setModel(Model);
  lvFileList->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFileList->setShowGrid(true);
  lvFileList->setAlternatingRowColors(true);
  // Tab moves on to the next control, not from cell to cell.
  lvFileList->setTabKeyNavigation(false);
  lvFileList->setWordWrap(false);
  lvFileList->setContextMenuPolicy(Qt::CustomContextMenu);
  lvFileList->verticalHeader()->hide();
  // Fixed row heights keep a million rows cheap to lay out.
  lvFileList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvFileList->verticalHeader()->setDefaultSectionSize(lvFileList->fontMetrics().height() + 6);
  QHeaderView* header = lvFileList->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(30);
  // Only the rows a screen shows are measured when the columns are fitted.
  header->setResizeContentsPrecision(200);
  header->setStretchLastSection(false);
  // The entry's address is there for those who show it from the header.
  lvFileList->setColumnHidden(fcAddress, true);
  FitColumns();
  SetHint(lvFileList, QStringLiteral("|Hold SHIFT or CTRL key to select multiple items"));
  p5->addWidget(lvFileList);
  Splitter1->addWidget(Panel4);
  Splitter1->addWidget(Panel5);
  p3->addWidget(Splitter1);
  Panel3->installEventFilter(this);
  outer->addWidget(Panel3, 1);

  // Links.
  Panel2 = Named(new QWidget(central), "Panel2");
  auto* p2 = new QHBoxLayout(Panel2);
  auto link = [&](const char* name, const QString& text) {
    auto* l = Named(new QLabel(text, Panel2), name);
    l->setCursor(Qt::PointingHandCursor);
    l->setForegroundRole(QPalette::Link);
    QFont f = l->font();
    f.setUnderline(true);
    l->setFont(f);
    l->installEventFilter(this);
    return l;
  };
  p2->addWidget(new QLabel(QStringLiteral("Web:"), Panel2));
  lblWeb = link("lblWeb", QStringLiteral("manual.html"));
  p2->addWidget(lblWeb);
  p2->addSpacing(20);
  p2->addWidget(new QLabel(QStringLiteral("Support:"), Panel2));
  lblSupport = link("lblSupport", QStringLiteral("Help and support"));
  p2->addWidget(lblSupport);
  lblHelp = link("lblHelp", QStringLiteral("Help"));
  lblHelp->hide();
  p2->addWidget(lblHelp);
  p2->addStretch();
  outer->addWidget(Panel2);
  setCentralWidget(central);

  StatusPanel1 = Named(new QLabel(statusBar()), "StatusPanel1");
  StatusPanel1->setMinimumWidth(300);
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->addPermanentWidget(StatusPanel1);

  connect(cbxDiskList, &QComboBox::activated, this, &TfrmMainForm::DiskChosen);
  connect(Splitter1, &QSplitter::splitterMoved, this, [this] { SplitterPlaced = true; });
  connect(BitBtn1, &QToolButton::clicked, this, &TfrmMainForm::BitBtn1Click);
  connect(btnScan, &QPushButton::clicked, this, &TfrmMainForm::btnScanClick);
  connect(btnErase, &QPushButton::clicked, this, &TfrmMainForm::btnEraseClick);
  connect(rbtstd, &QRadioButton::clicked, this, [] { QuickScan = true; });
  connect(rbtext, &QRadioButton::clicked, this, [] { QuickScan = false; });
  connect(BitBtn3, &QToolButton::clicked, this, [this] { RecoverSelection(); });
  connect(Button1, &QPushButton::clicked, this, [this] { RecoverSelection(); });
  connect(BitBtn4, &QToolButton::clicked, this, &TfrmMainForm::BitBtn4Click);
  connect(BitBtn5, &QToolButton::clicked, this, &TfrmMainForm::BitBtn5Click);
  connect(edNameMask, &QLineEdit::returnPressed, this, &TfrmMainForm::BitBtn4Click);
  connect(CheckBox1, &QCheckBox::toggled, this, &TfrmMainForm::CheckBox1Click);
  connect(tvDirTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) { TreeNodeChanged(node); });
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) { Model->HeaderClicked(column); });
  connect(Model, &QAbstractItemModel::layoutChanged, this, &TfrmMainForm::ShowSortIndicator);
  for (QPushButton* b : {BitBtn2, btnFilter}) connect(b, &QPushButton::clicked, this, &TfrmMainForm::ShowFilterDialog);
  connect(btnPreview, &QPushButton::clicked, this, &TfrmMainForm::OpenPreview);
  connect(lvFileList, &QAbstractItemView::doubleClicked, this, &TfrmMainForm::OpenPreview);
  connect(lvFileList, &TFileListView::PreviewRequested, this, &TfrmMainForm::OpenPreview);
}

void TfrmMainForm::BuildMenus() {
  OpenImage1 = MakeAction(this, "OpenImage1", QStringLiteral("&Open Image..."), QKeySequence::Open);
  test1 = MakeAction(this, "test1", QStringLiteral("&Scan"), QKeySequence(Qt::CTRL | Qt::Key_S));
  Preview1 = MakeAction(this, "Preview1", QStringLiteral("&Recover"), QKeySequence(Qt::CTRL | Qt::Key_C));
  Preview2 = MakeAction(this, "Preview2", QStringLiteral("&Preview"), QKeySequence(Qt::Key_F3));
  OpenAsFolder1 = MakeAction(this, "OpenAsFolder1", QStringLiteral("Open as &Folder"));
  Exit1 = MakeAction(this, "Exit1", QStringLiteral("E&xit"), QKeySequence::Quit);
  Filters1 = MakeAction(this, "Filters1", QStringLiteral("&Advanced Filters"), QKeySequence(Qt::CTRL | Qt::Key_F));
  ByFilename1 = MakeAction(this, "ByFilename1", QStringLiteral("&Expand Folder Tree"), QKeySequence(Qt::Key_F7));
  ByType1 = MakeAction(this, "ByType1", QStringLiteral("&Collapse Folder Tree"), QKeySequence(Qt::Key_F8));
  SizeUnits1 = MakeAction(this, "SizeUnits1", QStringLiteral("Sizes in &KB/MB"));
  SizeUnits1->setCheckable(true);
  Subfolders1 = MakeAction(this, "Subfolders1", QStringLiteral("Show Files of &Subfolders While Filtering"));
  Subfolders1->setCheckable(true);
  Subfolders1->setChecked(true);
  Help2 = MakeAction(this, "Help2", QStringLiteral("&Manual"), QKeySequence::HelpContents);
  About1 = MakeAction(this, "About1", QStringLiteral("&About Corvane Mirel"));

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  file->addAction(OpenImage1);
  file->addSeparator();
  file->addActions({test1, Preview1, Preview2, OpenAsFolder1});
  file->addSeparator();
  file->addAction(Exit1);
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("Edit1"));
  edit->addAction(Filters1);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1"));
  view->addActions({ByFilename1, ByType1});
  view->addSeparator();
  view->addActions({SizeUnits1, Subfolders1});
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  help->addAction(Help2);
  help->addAction(About1);

  PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
  RecoverHighlightedFolder1 =
      MakeAction(PopupMenu1, "RecoverHighlightedFolder1", QStringLiteral("&Recover Highlighted Folder"));
  expandall1 = MakeAction(PopupMenu1, "expandall1", QStringLiteral("&Expand All"));
  collapseall1 = MakeAction(PopupMenu1, "collapseall1", QStringLiteral("&Collapse All"));
  PopupMenu1->addActions({RecoverHighlightedFolder1, expandall1, collapseall1});

  PopupMenu2 = Named(new QMenu(this), "PopupMenu2");
  RecoverSelectedFiles1 = MakeAction(PopupMenu2, "RecoverSelectedFiles1", QStringLiteral("&Recover Selected Item(s)"),
                                     QKeySequence(Qt::CTRL | Qt::Key_C));
  PreviewSelectedFile1 = MakeAction(PopupMenu2, "PreviewSelectedFile1", QStringLiteral("&Preview Selected File"),
                                    QKeySequence(Qt::Key_F3));
  OpenAsFolder2 = MakeAction(PopupMenu2, "OpenAsFolder2", QStringLiteral("Open as &Folder"));
  Filter1 = MakeAction(PopupMenu2, "Filter1", QStringLiteral("F&ilter"), QKeySequence(Qt::CTRL | Qt::Key_F));
  SelectAll1 = MakeAction(PopupMenu2, "SelectAll1", QStringLiteral("Select &All"), QKeySequence(Qt::CTRL | Qt::Key_A));
  // The list view fires these itself while it has the focus.
  for (QAction* a : PopupMenu2->actions()) a->setShortcutContext(Qt::WidgetShortcut);
  PopupMenu2->addActions({RecoverSelectedFiles1, PreviewSelectedFile1, OpenAsFolder2, Filter1, SelectAll1});
  lvFileList->ContextMenu = PopupMenu2;

  for (QAction* a : {Preview2, PreviewSelectedFile1}) connect(a, &QAction::triggered, this, &TfrmMainForm::OpenPreview);
  for (QAction* a : {Filters1, Filter1}) connect(a, &QAction::triggered, this, &TfrmMainForm::ShowFilterDialog);
  for (QAction* a : {OpenAsFolder1, OpenAsFolder2}) connect(a, &QAction::triggered, this, &TfrmMainForm::OpenAsFolder);

  connect(test1, &QAction::triggered, this, &TfrmMainForm::MenuScanClick);
  connect(OpenImage1, &QAction::triggered, this, [this] { OpenImage(); });
  connect(SizeUnits1, &QAction::toggled, this, [this](bool on) { Model->SetSizeUnits(on); });
  connect(Subfolders1, &QAction::toggled, this, [this] { ApplyFilter(Filter); });
  connect(Preview1, &QAction::triggered, this, [this] { RecoverSelection(); });
  connect(Exit1, &QAction::triggered, this, &QWidget::close);
  connect(ByFilename1, &QAction::triggered, this, &TfrmMainForm::ExpandTree);
  connect(ByType1, &QAction::triggered, this, &TfrmMainForm::CollapseTree);
  connect(Help2, &QAction::triggered, this, &TfrmMainForm::OpenHelp);
  connect(About1, &QAction::triggered, this, &TfrmMainForm::ShowAbout);
  connect(RecoverHighlightedFolder1, &QAction::triggered, this, &TfrmMainForm::RecoverHighlightedFolder);
  connect(expandall1, &QAction::triggered, this, &TfrmMainForm::ExpandTree);
  connect(collapseall1, &QAction::triggered, this, &TfrmMainForm::CollapseTree);
  connect(RecoverSelectedFiles1, &QAction::triggered, this, [this] { RecoverSelection(); });
  connect(SelectAll1, &QAction::triggered, this, &TfrmMainForm::SelectAll);
  connect(tvDirTree, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopupMenu1->popup(tvDirTree->viewport()->mapToGlobal(p)); });
  connect(lvFileList, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopupMenu2->popup(lvFileList->viewport()->mapToGlobal(p)); });
}

bool TfrmMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panel3 && event->type() == QEvent::Resize && !SplitterPlaced) {
    const int w = Panel3->width();
    const int tree = w * 3 / 11;
    Splitter1->setSizes({tree, std::max(0, w - tree - Splitter1->handleWidth())});
  } else if (event->type() == QEvent::MouseButtonRelease) {
    // Every link leads into the manual that comes with the program.
    if (watched == lblWeb || watched == lblHelp)
      OpenHelp();
    else if (watched == lblSupport)
      OpenManual(QStringLiteral("support"));
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMainForm::FillDiskList() {
  cbxDiskList->clear();
  const TDiskList& disks = RecoveryManager().DiskList;
  for (int i = 0; i < disks.Count(); ++i) {
    const TDiskObject* d = disks[i];
    QString text = QString::fromStdString(d->Name) + QStringLiteral(": ") + QString::fromStdString(d->VolumeLabel);
    // An unreadable volume stays listed; scanning it says why.
    if (d->OpenErrno == EACCES || d->OpenErrno == EPERM)
      text += DiskServiceAvailable() ? QStringLiteral(" (Scan asks for access)")
                                     : QStringLiteral(" (cannot be read: ") + NoAccessHint() + u')';
    else if (!d->OpenError.empty())
      text += QStringLiteral(" (cannot be read)");
    else if (d->FileSystem == fsNone)
      text += QStringLiteral(" (no FAT, exFAT or NTFS file system)");
    else
      text += QStringLiteral(" (%1, %2)").arg(QString::fromStdString(d->FileSystemName), SizeInUnits(d->TotalSize));
    cbxDiskList->addItem(text, i);
  }
  int selected = -1;
  for (int i = 0; i < disks.Count() && selected < 0; ++i)
    if (!DiskLetter.isEmpty() && QString::fromStdString(disks[i]->Name).compare(DiskLetter, Qt::CaseInsensitive) == 0)
      selected = i;
  cbxDiskList->setCurrentIndex(selected);
}

TDiskObject* TfrmMainForm::SelectedDisk() const {
  int i = cbxDiskList->currentIndex();
  return i < 0 ? nullptr : RecoveryManager().DiskList[cbxDiskList->itemData(i).toInt()];
}

void TfrmMainForm::DiskChosen(int) {
  TDiskObject* d = SelectedDisk();
  if (!d) return;
  DiskLetter = QString::fromStdString(d->Name);
  Updating.SetDisk(RecoveryManager().FindDisk(d->Name));
  Model->Clear();
}

void TfrmMainForm::ApplyFilter(const TFilter& filter) {
  PFileInfo folder = Filter.Folder;
  Filter = filter;
  Filter.Folder = folder;
  Filter.Flags |= qfFolder;
  SetSubfolderFlag();
  Updating.Query.SetFilter(Filter);
  Updating.RefreshList();
  Updating.RefreshTree();
}

void TfrmMainForm::SetSubfolderFlag() {
  if (Subfolders1->isChecked() && FilterNarrows(Filter))
    Filter.Flags |= qfSubfolders;
  else
    Filter.Flags &= ~uint32_t(qfSubfolders);
}

void TfrmMainForm::TreeNodeChanged(QTreeWidgetItem* node) {
  if (!node) return;
  Filter.Folder = TViewBridge::EntryOf(node);
  Updating.Query.SetFilter(Filter);
  Updating.RefreshList();
}

void TfrmMainForm::ShowSortIndicator() {
  QHeaderView* header = lvFileList->horizontalHeader();
  header->setSortIndicatorShown(Model->SortColumn >= 0);
  if (Model->SortColumn >= 0)
    header->setSortIndicator(Model->SortColumn, Model->SortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TfrmMainForm::FitColumns() {
  const QFontMetrics fm = lvFileList->fontMetrics();
  const int pad = 2 * lvFileList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12;
  const int icon = lvFileList->style()->pixelMetric(QStyle::PM_SmallIconSize) + 4;
  // Every column at least as wide as its title and its widest likely text.
  auto atLeast = [&](int column, const QString& sample, int extra = 0) {
    const int title = fm.horizontalAdvance(Model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()) + 24;
    return std::max(title, fm.horizontalAdvance(sample) + pad + extra);
  };
  const bool rows = Model->rowCount() > 0;
  if (rows) lvFileList->resizeColumnsToContents();
  const int widths[] = {0,
                        atLeast(fcType, QStringLiteral(".JPEG")),
                        atLeast(fcSize, QStringLiteral("99999999")),
                        atLeast(fcCondition, QStringLiteral("100%"), icon),
                        atLeast(fcModified, QStringLiteral("8888-88-88 88:88:88")),
                        atLeast(fcCreated, QStringLiteral("8888-88-88 88:88:88")),
                        atLeast(fcAddress, QStringLiteral("99999999-99"))};
  static_assert(std::size(widths) == fcCount);
  int others = 0;
  for (int c = fcType; c < fcCount; ++c) {
    lvFileList->setColumnWidth(c, std::max(widths[c], rows ? lvFileList->columnWidth(c) : 0));
    if (!lvFileList->isColumnHidden(c)) others += lvFileList->columnWidth(c);
  }
  // The name takes what the other columns leave, within reason; long names
  // show whole in their tooltip.
  const int least = atLeast(fcName, QStringLiteral("A long name.txt"), icon);
  const int most = std::max(least, fm.horizontalAdvance(QLatin1Char('x')) * 48);
  const int room = lvFileList->viewport()->width() - others;
  lvFileList->setColumnWidth(fcName,
                             std::clamp(std::max(room, rows ? lvFileList->columnWidth(fcName) : 0), least, most));
}

void TfrmMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!Shown && !ColumnsRestored) FitColumns();
  Shown = true;
}

void TfrmMainForm::PrepareQuery(TDiskObject* disk) {
  Updating.Query.ClearResults();
  Updating.Query.ClearDisks();
  Updating.RefreshList();
  Filter.Folder = nullptr;
  Updating.Query.SetFilter(Filter);
  if (disk) {
    // Open previews, the tree and folders waiting to join it refer to
    // entries of the catalogue about to be freed.
    DropPreviewsOf(disk);
    if (FolderMount && FolderMount->Disk() == disk) FolderMount.reset();
    Bridge->ViewsCleared();
    disk->ClearCatalogue();
    Updating.FoundCount = 0;
    Updating.Query.AddDisk(disk);
  }
}

void TfrmMainForm::BitBtn1Click() {
  if (!CanScan()) return;
  Bridge->ViewsCleared();
  Model->Clear();
  TDiskObject* d = SelectedDisk();
  if (!d) return;
  DiskLetter = QString::fromStdString(d->Name);
  Updating.SetDisk(RecoveryManager().FindDisk(d->Name));
  RunScan();
}

void TfrmMainForm::MenuScanClick() {
  if (!CanScan()) return;
  // Only the folders of the new scan are to show in the emptied tree.
  Filter.Flags = 0;
  ApplyFilter(Filter);
  edNameMask->setText(QStringLiteral("*.*"));
  Bridge->ViewsCleared();
  Model->Clear();
  if (RunScan()) ShowFilterDialog();
}

void TfrmMainForm::btnScanClick() {
  if (!CanScan()) return;
  Bridge->ViewsCleared();
  Model->Clear();
  RunScan();
}

void TfrmMainForm::btnEraseClick() {
  TDiskObject* disk = RecoveryManager().FindDisk(DiskLetter.toStdString());
  if (!disk) return;
  WaitForScanThread();
  Bridge->ViewsCleared();
  Model->Clear();
  PrepareQuery(disk);
  Operation = opErase;
  Bridge->SetEraseProgressBar(Progress->ProgressBar1);
  ErasingThread = RecoveryManager().StartErase(disk);
  if (!ErasingThread) {
    Operation = opNone;
    return;
  }
  // The dialog stays open after the erase until the user closes it.
  Progress->exec();
  ErasingThread->WaitFor();
  StatusPanel1->setText(ErasingThread->Result ? QStringLiteral("Erase completed") : QStringLiteral("Erase failed"));
  ErasingThread.reset();
}

bool TfrmMainForm::CanScan() {
  if (RecoveryManager().FindDisk(DiskLetter.toStdString())) return true;
  Dialogs().Message(this, QMessageBox::Information, QStringLiteral("Nothing to scan"),
                    cbxDiskList->count() == 0
                        ? QStringLiteral("No volume is listed. Open a disk image with File > Open Image... (Ctrl+O) "
                                         "or drop one onto this window.")
                        : QStringLiteral("No volume is selected. Choose one in the volume box, or open a disk image "
                                         "with File > Open Image... (Ctrl+O)."),
                    QMessageBox::Ok);
  return false;
}

bool TfrmMainForm::RunScan() {
  // The search is part of the Long scan only.
  LostFolderSearch = chkLostFolders->isChecked();
  QuickScan = rbtstd->isChecked() && !LostFolderSearch;
  StatusPanel1->setText(QStringLiteral("Scanning ..."));
  // The catalogue the last scan is still filling must not be freed under it.
  WaitForScanThread();
  TDiskObject* disk = GainAccess(RecoveryManager().FindDisk(DiskLetter.toStdString()));
  PrepareQuery(disk);
  Operation = opScan;
  Bridge->SetScanProgressBar(Progress->ProgressBar1);
  Bridge->SetCountLabel(Label2);
  if (!StartScanThread(disk)) {
    Operation = opNone;
    StatusPanel1->setText(QStringLiteral("Scan failed"));
    return false;
  }
  Progress->ScanEnd = TfrmProgressForm::seRunning;
  Progress->exec();
  if (Progress->ScanEnd == TfrmProgressForm::seFailed) {
    StatusPanel1->setText(QStringLiteral("Scan failed"));
    return false;
  }
  PageControl1->setCurrentWidget(TabSheet2);
  Bridge->Flush();
  // The root's folders in sight and its files listed.
  if (QTreeWidgetItem* root = tvDirTree->topLevelItem(0)) {
    root->setExpanded(true);
    tvDirTree->setCurrentItem(root);
  }
  if (!ColumnsRestored) FitColumns();
  Label4->setText(Label2->text() + QStringLiteral(" files found"));
  StatusPanel1->setText(Progress->ScanEnd == TfrmProgressForm::seCancelled
                            ? Label4->text() + QStringLiteral(" (scan stopped)")
                            : Label4->text());
  ReportScanProblems(disk);
  return true;
}

TDiskObject* TfrmMainForm::GainAccess(TDiskObject* disk) {
  AccessProblem.clear();
  if (!disk || (disk->OpenErrno != EACCES && disk->OpenErrno != EPERM)) return disk;
  const std::optional<int> fd = OpenForBackup(QString::fromStdString(disk->Path), AccessProblem);
  if (!fd) return disk;
  GrantSource(disk->Path, *fd);
  TDiskList& disks = RecoveryManager().DiskList;
  for (int i = 0; i < disks.Count(); ++i)
    if (disks[i] == disk) {
      if (TDiskObject* fresh = disks.Reopen(i)) disk = fresh;
      break;
    }
  Updating.SetDisk(disk);
  FillDiskList();
  return disk;
}

bool TfrmMainForm::StartScanThread(TDiskObject* disk) {
  QString why;
  if (!disk)
    why = QStringLiteral("No volume is selected.");
  else if (!disk->OpenError.empty())
    why = QStringLiteral("%1 cannot be read: %2%3")
              .arg(QString::fromStdString(disk->Path), QString::fromStdString(disk->OpenError),
                   AccessProblem.isEmpty() ? QString() : QStringLiteral("; ") + AccessProblem);
  else if (!disk->Scaner)
    why = QStringLiteral("%1 holds no FAT, exFAT or NTFS file system.").arg(QString::fromStdString(disk->Path));
  if (!why.isEmpty()) {
    Dialogs().Message(this, QMessageBox::Warning, QStringLiteral("Cannot scan"), why, QMessageBox::Ok);
    return false;
  }
  ScanRunning = true;
  std::jthread scan = RecoveryManager().StartScan(disk);
  ScanWatcher = std::jthread([this, t = std::move(scan)]() mutable {
    if (t.joinable()) t.join();
    ScanRunning = false;
    QMetaObject::invokeMethod(
        this, [this] { ScanThreadEnded(); }, Qt::QueuedConnection);
  });
  return true;
}

void TfrmMainForm::ScanThreadEnded() {
  // A scan that ends without its end report could not read the volume.
  if (Operation != opScan || ScanRunning) return;
  TDiskObject* disk = RecoveryManager().FindDisk(DiskLetter.toStdString());
  QString path = disk ? QString::fromStdString(disk->Path) : DiskLetter;
  const QString why = disk && disk->Scaner && !disk->Scaner->ScanFailure.empty()
                          ? QString::fromStdString(disk->Scaner->ScanFailure)
                          : QStringLiteral("the file system could not be read");
  Progress->ScanFailed(
      QStringLiteral("%1: %2 (details in %3).").arg(path, why, QString::fromStdString(DebugLogPath())));
}

void TfrmMainForm::ReportScanProblems(TDiskObject* disk) {
  if (!disk || !disk->Scaner) return;
  QStringList lines;
  if (const std::string note = CutShortNote(*disk); !note.empty()) lines << QString::fromStdString(note);
  if (!disk->Scaner->ScanFailure.empty()) lines << QString::fromStdString(disk->Scaner->ScanFailure);
  for (const std::string& w : disk->Scaner->ScanWarnings) lines << QString::fromStdString(w);
  if (lines.isEmpty()) return;
  const bool failed = !disk->Scaner->ScanFailure.empty();
  Dialogs().Message(
      this, QMessageBox::Warning, failed ? QStringLiteral("Cannot scan") : QStringLiteral("Scan incomplete"),
      QStringLiteral("%1: %2\n\n%3")
          .arg(QString::fromStdString(disk->Path),
               failed ? QStringLiteral("the volume's folders could not be read.")
                      : QStringLiteral("parts of the volume could not be read; what was found is listed."),
               lines.join(QStringLiteral("\n"))),
      QMessageBox::Ok);
  if (failed) StatusPanel1->setText(QStringLiteral("Scan failed"));
}

void TfrmMainForm::WaitForScanThread() {
  WaitWithEvents([this] { return !ScanRunning.load(); });
  if (ScanWatcher.joinable()) ScanWatcher.join();
}

void TfrmMainForm::RecoverSelection() {
  QModelIndexList rows = lvFileList->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  TDiskItems items;
  for (const QModelIndex& ix : rows)
    if (PFileInfo e = Model->EntryAt(ix.row())) items.Add(e);
  if (items.Count() == 0) return;

  TDiskObject* disk = RecoveryManager().FindDisk(DiskLetter.toStdString());
  QString dest;
  for (;;) {
    dest = Dialogs().ChooseFolder(this, QStringLiteral("Select Destination Folder:"), LastDestination);
    if (dest.isEmpty()) return;
    LastDestination = dest;
    // Block devices, loop devices of an image and FUSE mounts of either.
    const bool sameVolume = disk && MountFromSource(dest.toStdString(), disk->Path, ReadMountTable());
    if (!sameVolume) break;
    if (Dialogs().Message(this, QMessageBox::Warning, QStringLiteral("Warning"),
                          QStringLiteral("We do not recommend that you write a recovered file to the same\n"
                                         "drive location due to the danger of permanently overwriting the source\n"
                                         "of deleted data.\n\n"
                                         "Are you sure you want to recover to the same drive?"),
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
      break;
  }

  auto thread = std::make_unique<TRecoveringThread>(std::move(items));
  thread->DestDir = dest.toStdString();
  thread->FolderFilter = [this](const TFileInfo& e) {
    return Updating.Query.AcceptsInAnyFolder(const_cast<PFileInfo>(&e));
  };
  TfrmProgressForm* p = Progress;
  // Filled on the worker; read here only after it has ended.
  std::vector<TRecoveredFile> results;
  thread->OnFileStart = [p](const std::string& path, PFileInfo e) { p->FileStartHandler(path, e); };
  thread->OnFileExists = [p](const std::string& path) { return p->FileExistsHandler(path); };
  thread->OnFileDone = [&results](const TRecoveredFile& r) { results.push_back(r); };
  thread->OnDone = [p] { p->RecoveryDoneHandler(); };
  Progress->RecoveryItems = &thread->Items;
  Progress->RecoveringThread = thread.get();

  Operation = opRecover;
  Progress->exec();
  WaitWithEvents([p] { return p->RecoveryFinished.load(); });
  thread->WaitFor();
  Progress->MarqueeProgressBar1->SetActive(false);
  Progress->MarqueeProgressBar1->hide();
  Progress->ProgressBar1->show();
  Operation = opNone;
  const bool stopped = thread->Terminated;
  StatusPanel1->setText(
      QStringLiteral("%1; destination %2%3")
          .arg(TfrmRecoverySummary::CountsText(results), dest, stopped ? QStringLiteral(" (stopped)") : QString()));
  TfrmRecoverySummary summary(std::move(results), stopped, dest, this);
  Dialogs().ShowModal(summary);
}

void TfrmMainForm::RecoverHighlightedFolder() {
  SelectAll();
  RecoverSelection();
}

void TfrmMainForm::BitBtn4Click() {
  TFilter f;
  f.Flags = qfMask;
  f.Mask = WildcardToPattern(edNameMask->text().toStdString());
  if (CheckBox1->isChecked()) {
    f.Flags = qfCondition;
    f.MinCondition = 100;
  }
  ApplyFilter(f);
}

void TfrmMainForm::BitBtn5Click() {
  Filter.Flags = 0;
  ApplyFilter(Filter);
  edNameMask->setText(QStringLiteral("*.*"));
  CheckBox1->setChecked(false);
}

void TfrmMainForm::CheckBox1Click() {
  if (CheckBox1->isChecked()) {
    edNameMask->setText(QStringLiteral("*.*"));
    Filter.Flags = qfCondition;
    Filter.MinCondition = 100;
  } else {
    Filter.Flags = 0;
  }
  ApplyFilter(Filter);
}

void TfrmMainForm::SelectAll() { lvFileList->selectAll(); }

void TfrmMainForm::ShowFilterDialog() { FilterForm->exec(); }

TfrmDataPreview* TfrmMainForm::OpenPreview() {
  QModelIndexList rows = lvFileList->selectionModel()->selectedRows();
  if (rows.isEmpty()) return nullptr;
  // The row with the focus when it is selected, else the first selected.
  const QModelIndex current = lvFileList->currentIndex();
  const int row = current.isValid() && lvFileList->selectionModel()->isRowSelected(current.row())
                      ? current.row()
                      : std::min_element(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
                          return a.row() < b.row();
                        })->row();
  // Folder rows have no status.
  if (Model->data(Model->index(row, 3), Qt::DisplayRole).toString().isEmpty()) return nullptr;
  PFileInfo entry = Model->EntryAt(row);
  if (!entry) return nullptr;
  auto* window = new TfrmDataPreview(this);
  SetPreviewCaption(window, QString::fromStdString(entry->Name));
  window->ShowEntry(*entry);
  window->LoadPreview(RecoveryManager().CreateRecoveryStream(entry));
  window->show();
  return window;
}

void TfrmMainForm::OpenAsFolder() {
  TDiskObject* disk = RecoveryManager().FindDisk(DiskLetter.toStdString());
  if (!disk || (disk->Files.Count() == 0 && disk->Folders.Count() == 0)) {
    Dialogs().Message(this, QMessageBox::Information, QStringLiteral("Open as Folder"),
                      QStringLiteral("There are no found files to show: scan the volume first."), QMessageBox::Ok);
    return;
  }
  if (FolderMount && (FolderMount->Disk() != disk || !FolderMount->Serving())) FolderMount.reset();
  if (!FolderMount) {
    QString why;
    FolderMount = TFolderMount::Start(disk, why);
    if (!FolderMount) {
      Dialogs().Message(this, QMessageBox::Warning, QStringLiteral("Cannot open as folder"), why, QMessageBox::Ok);
      return;
    }
  }
  const QString folder = FolderMount->PathOf(Filter.Folder);
  StatusPanel1->setText(QStringLiteral("Found files served at %1").arg(FolderMount->MountPoint()));
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    Dialogs().Message(this, QMessageBox::Information, QStringLiteral("Open as Folder"),
                      QStringLiteral("No file manager could be started. The found files are served at %1.").arg(folder),
                      QMessageBox::Ok);
}

void TfrmMainForm::DropPreviewsOf(TDiskObject* disk) {
  for (TfrmDataPreview* w : findChildren<TfrmDataPreview*>(Qt::FindDirectChildrenOnly))
    if (w->StreamDisk() == disk) {
      w->LoadPreview(nullptr);
      w->close();
    }
}

void TfrmMainForm::ExpandTree() { tvDirTree->expandAll(); }

void TfrmMainForm::CollapseTree() { tvDirTree->collapseAll(); }

void TfrmMainForm::OpenHelp() { OpenManual({}); }

void TfrmMainForm::OpenManual(const QString& section) {
  const QString manual = ManualPath();
  if (manual.isEmpty()) {
    Dialogs().Message(this, QMessageBox::Warning, QStringLiteral("Help"),
                      QStringLiteral("The manual (share/mirel/manual.html) is not installed with the program."),
                      QMessageBox::Ok);
    return;
  }
  QUrl url = QUrl::fromLocalFile(manual);
  url.setFragment(section);
  // Without a browser to hand it to, the manual opens here.
  if (!QDesktopServices::openUrl(url)) (new TfrmManual(url, this))->show();
}

void TfrmMainForm::ShowAbout() {
  // The window system adds the program's name to every title.
  Dialogs().Message(this, QMessageBox::Information, QStringLiteral("About"),
                    QStringLiteral("Corvane Mirel %1\n\nFinds deleted files and folders on FAT and NTFS volumes and "
                                   "brings them back.\n\nThe command line: mirel, 'man mirel'.\n\n"
                                   "Copyright 2026 The mirel developers. All rights reserved: no licence to copy, "
                                   "modify or distribute mirel has been granted yet.")
                        .arg(QStringLiteral(MIREL_VERSION)),
                    QMessageBox::Ok);
}

void TfrmMainForm::SayRejectedSources(const std::vector<TRejectedSource>& rejected) {
  if (rejected.empty()) return;
  QStringList lines;
  for (const TRejectedSource& r : rejected)
    lines << QStringLiteral("%1: %2").arg(QString::fromStdString(r.Path), QString::fromStdString(r.Reason));
  Dialogs().Message(this, QMessageBox::Warning, QStringLiteral("Cannot open"),
                    QStringLiteral("These could not be opened:\n\n") + lines.join(u'\n'), QMessageBox::Ok);
}

void TfrmMainForm::OpenImage() {
  const QString path = Dialogs().OpenImageFile(this, LastImageFolder);
  if (path.isEmpty()) return;
  LastImageFolder = QFileInfo(path).absolutePath();
  AddImage(path);
}

bool TfrmMainForm::AddImage(const QString& path) {
  TDiskList& disks = RecoveryManager().DiskList;
  const std::string wanted = QFileInfo(path).canonicalFilePath().toStdString();
  // An image listed already is selected, not listed twice.
  int index = -1;
  for (int i = 0; i < disks.Count() && index < 0; ++i)
    if (!wanted.empty() &&
        QFileInfo(QString::fromStdString(disks[i]->Path)).canonicalFilePath().toStdString() == wanted)
      index = i;
  if (index < 0 && !QFileInfo(path).isReadable()) {
    SayRejectedSources({{path.toStdString(), QFileInfo::exists(path) ? "cannot be read" : "no such file"}});
    return false;
  }
  if (index < 0) {
    const int before = disks.Count();
    const size_t rejected = disks.Rejected.size();
    if (disks.AddSource(path.toStdString()) == 0) {
      SayRejectedSources({disks.Rejected.begin() + static_cast<std::ptrdiff_t>(rejected), disks.Rejected.end()});
      return false;
    }
    index = before;
  }
  DiskLetter = QString::fromStdString(disks[index]->Name);
  FillDiskList();
  DiskChosen(cbxDiskList->currentIndex());
  PageControl1->setCurrentWidget(TabSheet1);
  StatusPanel1->setText(QStringLiteral("%1 added; Scan looks for deleted files on it").arg(DiskLetter));
  return true;
}

void TfrmMainForm::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); }))
    event->acceptProposedAction();
}

void TfrmMainForm::dropEvent(QDropEvent* event) {
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) AddImage(u.toLocalFile());
  event->acceptProposedAction();
}

void TfrmMainForm::closeEvent(QCloseEvent* event) {
  SaveSettings();
  QMainWindow::closeEvent(event);
}

void TfrmMainForm::RestoreSettings() {
  QSettings settings;
  if (!restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray())) {
    // Two thirds of the screen, and no less than the six columns need.
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    resize(std::clamp(screen.width() * 2 / 3, 900, std::max(900, screen.width())),
           std::clamp(screen.height() * 2 / 3, 540, std::max(540, screen.height())));
  }
  if (Splitter1->restoreState(settings.value(QStringLiteral("window/splitter")).toByteArray())) SplitterPlaced = true;
  const QList<QVariant> widths = settings.value(QStringLiteral("list/columns")).toList();
  if (widths.size() == fcCount) {
    for (int c = 0; c < fcCount; ++c) lvFileList->setColumnWidth(c, std::max(widths[c].toInt(), 30));
    ColumnsRestored = true;
  }
  SizeUnits1->setChecked(settings.value(QStringLiteral("list/sizeUnits"), false).toBool());
  Subfolders1->setChecked(settings.value(QStringLiteral("list/subfolders"), true).toBool());
  LastImageFolder = settings.value(QStringLiteral("files/imageFolder")).toString();
}

void TfrmMainForm::SaveSettings() const {
  QSettings settings;
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  if (SplitterPlaced) settings.setValue(QStringLiteral("window/splitter"), Splitter1->saveState());
  QList<QVariant> widths;
  for (int c = 0; c < fcCount; ++c) widths << lvFileList->columnWidth(c);
  settings.setValue(QStringLiteral("list/columns"), widths);
  settings.setValue(QStringLiteral("list/sizeUnits"), SizeUnits1->isChecked());
  settings.setValue(QStringLiteral("list/subfolders"), Subfolders1->isChecked());
  settings.setValue(QStringLiteral("files/imageFolder"), LastImageFolder);
}

}  // namespace mirel::ui
