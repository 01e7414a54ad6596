#include "ui/MainForm.h"

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
#include "engine/RecoveryJob.h"
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
#include "workers/ViewUpdater.h"

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

TfrmMainForm::TfrmMainForm(TViewUpdater& updating, const QString& initialVolume, QWidget* parent)
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

  Bridge->SetTreeView(FolderTree);
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
  if (ScanRunning) ScanJob->RequestStop();
  WaitForScan();
  Bridge->OnScanDone = nullptr;
}

void TfrmMainForm::BuildLayout() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(4, 4, 4, 0);

  StepTabs = Named(new QTabWidget(central), "StepTabs");
  QFont bold = StepTabs->font();
  bold.setBold(true);
  StepTabs->tabBar()->setFont(bold);

  // Step 1: the volume and the scan.
  ScanPage = Named(new QWidget, "ScanPage");
  auto* t1 = new QHBoxLayout(ScanPage);
  VolumeBox = Named(new QComboBox(ScanPage), "VolumeBox");
  VolumeBox->setEditable(false);
  VolumeBox->setMinimumWidth(300);
  VolumeBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ScanButton = BigButton(ScanPage, "ScanButton", QStringLiteral("Scan"), QStyle::SP_BrowserReload);
  HiddenScanButton = Named(new QPushButton(QStringLiteral("Scan"), ScanPage), "HiddenScanButton");
  EraseButton = Named(new QPushButton(QStringLiteral("Erase"), ScanPage), "EraseButton");
  ModeGroup = Named(new QGroupBox(QStringLiteral(" Mode "), ScanPage), "ModeGroup");
  auto* modes = new QHBoxLayout(ModeGroup);
  QuickModeButton = Named(new QRadioButton(QStringLiteral("Quick"), ModeGroup), "QuickModeButton");
  LongModeButton = Named(new QRadioButton(QStringLiteral("Long"), ModeGroup), "LongModeButton");
  SetHint(QuickModeButton, QStringLiteral("Default deleted file recovery"));
  SetHint(LongModeButton, QStringLiteral("Display all files; deleted and current (beta!)"));
  QuickModeButton->setChecked(true);
  modes->addWidget(QuickModeButton);
  modes->addWidget(LongModeButton);
  LostFoldersBox =
      Named(new QCheckBox(QStringLiteral("Search free space for lost folders"), ScanPage), "LostFoldersBox");
  SetHint(LostFoldersBox, QStringLiteral("Lists current files too, and reads all free space: takes time"));
  auto* source = new QVBoxLayout;
  source->addStretch();
  source->addWidget(VolumeBox);
  source->addWidget(LostFoldersBox);
  source->addStretch();
  t1->addLayout(source, 1);
  t1->addWidget(ScanButton);
  t1->addWidget(HiddenScanButton);
  t1->addWidget(EraseButton);
  t1->addWidget(ModeGroup);
  HiddenScanButton->hide();
  EraseButton->hide();
  ModeGroup->hide();
  StepTabs->addTab(ScanPage, QStringLiteral("Step 1: Scan "));

  // Step 2: filters and recovery.
  RecoverPage = Named(new QWidget, "RecoverPage");
  auto* t2 = new QHBoxLayout(RecoverPage);
  QuickFilterGroup = Named(new QGroupBox(QStringLiteral(" Quick Filters "), RecoverPage), "QuickFilterGroup");
  auto* g = new QHBoxLayout(QuickFilterGroup);
  NameMaskEdit = Named(new QLineEdit(QStringLiteral("*.*"), QuickFilterGroup), "NameMaskEdit");
  GoodFilesOnlyBox = Named(new QCheckBox(QStringLiteral("Show only good files"), QuickFilterGroup), "GoodFilesOnlyBox");
  ApplyMaskButton = Named(new QToolButton(QuickFilterGroup), "ApplyMaskButton");
  ApplyMaskButton->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  SetHint(ApplyMaskButton, QStringLiteral("Apply quick filter"));
  ClearMaskButton = Named(new QToolButton(QuickFilterGroup), "ClearMaskButton");
  ClearMaskButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  SetHint(ClearMaskButton, QStringLiteral("Cancel quick filter"));
  AdvancedFiltersButton =
      Named(new QPushButton(QStringLiteral("Advanced filters >"), QuickFilterGroup), "AdvancedFiltersButton");
  SetHint(AdvancedFiltersButton, QStringLiteral("Advanced filters: time, date, size"));
  g->addWidget(NameMaskEdit, 1);
  g->addWidget(ApplyMaskButton);
  g->addWidget(ClearMaskButton);
  g->addWidget(GoodFilesOnlyBox);
  g->addWidget(AdvancedFiltersButton);
  CopyButton = BigButton(RecoverPage, "CopyButton", QStringLiteral("Copy"), QStyle::SP_DialogSaveButton);
  FoundCountLabel = Named(new QLabel(QStringLiteral("0"), RecoverPage), "FoundCountLabel");
  FoundSummaryLabel = Named(new QLabel(RecoverPage), "FoundSummaryLabel");
  RecoverSelectedButton =
      Named(new QPushButton(QStringLiteral("Recover selected"), RecoverPage), "RecoverSelectedButton");
  PreviewButton = Named(new QPushButton(QStringLiteral("Preview Selected"), RecoverPage), "PreviewButton");
  FilterButton = Named(new QPushButton(QStringLiteral("Filter"), RecoverPage), "FilterButton");
  for (QWidget* hidden : std::initializer_list<QWidget*>{FoundCountLabel, FoundSummaryLabel, RecoverSelectedButton,
                                                         PreviewButton, FilterButton})
    hidden->hide();
  t2->addWidget(QuickFilterGroup, 1);
  t2->addWidget(CopyButton);
  StepTabs->addTab(RecoverPage, QStringLiteral("Step 2: Recover "));
  outer->addWidget(StepTabs);

  // The tree and the list.
  BrowsePanel = Named(new QWidget(central), "BrowsePanel");
  auto* p3 = new QHBoxLayout(BrowsePanel);
  p3->setContentsMargins(0, 0, 0, 0);
  TreeListSplitter = Named(new QSplitter(Qt::Horizontal, BrowsePanel), "TreeListSplitter");
  TreePanel = Named(new QWidget(TreeListSplitter), "TreePanel");
  auto* p4 = new QVBoxLayout(TreePanel);
  p4->setContentsMargins(0, 0, 0, 0);
  FolderTree = Named(new QTreeWidget(TreePanel), "FolderTree");
  FolderTree->setHeaderHidden(true);
  FolderTree->setIndentation(19);
  FolderTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FolderTree->setContextMenuPolicy(Qt::CustomContextMenu);
  SetHint(FolderTree, QStringLiteral("|Right click for more options"));
  p4->addWidget(FolderTree);
  ListPanel = Named(new QWidget(TreeListSplitter), "ListPanel");
  auto* p5 = new QVBoxLayout(ListPanel);
  p5->setContentsMargins(0, 0, 0, 0);
  FileList = Named(new TFileListView(ListPanel), "FileList");
  FileList->setModel(Model);
  FileList->setSelectionBehavior(QAbstractItemView::SelectRows);
  FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FileList->setShowGrid(true);
  FileList->setAlternatingRowColors(true);
  // Tab moves on to the next control, not from cell to cell.
  FileList->setTabKeyNavigation(false);
  FileList->setWordWrap(false);
  FileList->setContextMenuPolicy(Qt::CustomContextMenu);
  FileList->verticalHeader()->hide();
  // Fixed row heights keep a million rows cheap to lay out.
  FileList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FileList->verticalHeader()->setDefaultSectionSize(FileList->fontMetrics().height() + 6);
  QHeaderView* header = FileList->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(30);
  // Only the rows a screen shows are measured when the columns are fitted.
  header->setResizeContentsPrecision(200);
  header->setStretchLastSection(false);
  // The entry's address is there for those who show it from the header.
  FileList->setColumnHidden(fcAddress, true);
  FitColumns();
  SetHint(FileList, QStringLiteral("|Hold SHIFT or CTRL key to select multiple items"));
  p5->addWidget(FileList);
  TreeListSplitter->addWidget(TreePanel);
  TreeListSplitter->addWidget(ListPanel);
  p3->addWidget(TreeListSplitter);
  BrowsePanel->installEventFilter(this);
  outer->addWidget(BrowsePanel, 1);

  // Links.
  LinksPanel = Named(new QWidget(central), "LinksPanel");
  auto* p2 = new QHBoxLayout(LinksPanel);
  auto link = [&](const char* name, const QString& text) {
    auto* l = Named(new QLabel(text, LinksPanel), name);
    l->setCursor(Qt::PointingHandCursor);
    l->setForegroundRole(QPalette::Link);
    QFont f = l->font();
    f.setUnderline(true);
    l->setFont(f);
    l->installEventFilter(this);
    return l;
  };
  p2->addWidget(new QLabel(QStringLiteral("Web:"), LinksPanel));
  WebLink = link("WebLink", QStringLiteral("manual.html"));
  p2->addWidget(WebLink);
  p2->addSpacing(20);
  p2->addWidget(new QLabel(QStringLiteral("Support:"), LinksPanel));
  SupportLink = link("SupportLink", QStringLiteral("Help and support"));
  p2->addWidget(SupportLink);
  HelpLink = link("HelpLink", QStringLiteral("Help"));
  HelpLink->hide();
  p2->addWidget(HelpLink);
  p2->addStretch();
  outer->addWidget(LinksPanel);
  setCentralWidget(central);

  StatusLabel = Named(new QLabel(statusBar()), "StatusLabel");
  StatusLabel->setMinimumWidth(300);
  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->addPermanentWidget(StatusLabel);

  connect(VolumeBox, &QComboBox::activated, this, &TfrmMainForm::DiskChosen);
  connect(TreeListSplitter, &QSplitter::splitterMoved, this, [this] { SplitterPlaced = true; });
  connect(ScanButton, &QToolButton::clicked, this, &TfrmMainForm::ScanButtonClick);
  connect(HiddenScanButton, &QPushButton::clicked, this, &TfrmMainForm::HiddenScanClick);
  connect(EraseButton, &QPushButton::clicked, this, &TfrmMainForm::EraseButtonClick);
  connect(CopyButton, &QToolButton::clicked, this, [this] { RecoverSelection(); });
  connect(RecoverSelectedButton, &QPushButton::clicked, this, [this] { RecoverSelection(); });
  connect(ApplyMaskButton, &QToolButton::clicked, this, &TfrmMainForm::ApplyQuickFilter);
  connect(ClearMaskButton, &QToolButton::clicked, this, &TfrmMainForm::ClearQuickFilter);
  connect(NameMaskEdit, &QLineEdit::returnPressed, this, &TfrmMainForm::ApplyQuickFilter);
  connect(GoodFilesOnlyBox, &QCheckBox::toggled, this, &TfrmMainForm::GoodFilesOnlyClick);
  connect(FolderTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) { TreeNodeChanged(node); });
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) { Model->HeaderClicked(column); });
  connect(Model, &QAbstractItemModel::layoutChanged, this, &TfrmMainForm::ShowSortIndicator);
  for (QPushButton* b : {AdvancedFiltersButton, FilterButton})
    connect(b, &QPushButton::clicked, this, &TfrmMainForm::ShowFilterDialog);
  connect(PreviewButton, &QPushButton::clicked, this, &TfrmMainForm::OpenPreview);
  connect(FileList, &QAbstractItemView::doubleClicked, this, &TfrmMainForm::OpenPreview);
  connect(FileList, &TFileListView::PreviewRequested, this, &TfrmMainForm::OpenPreview);
}

void TfrmMainForm::BuildMenus() {
  OpenImageAction = MakeAction(this, "OpenImageAction", QStringLiteral("&Open Image..."), QKeySequence::Open);
  ScanAction = MakeAction(this, "ScanAction", QStringLiteral("&Scan"), QKeySequence(Qt::CTRL | Qt::Key_S));
  RecoverAction = MakeAction(this, "RecoverAction", QStringLiteral("&Recover"), QKeySequence(Qt::CTRL | Qt::Key_C));
  PreviewAction = MakeAction(this, "PreviewAction", QStringLiteral("&Preview"), QKeySequence(Qt::Key_F3));
  OpenAsFolderAction = MakeAction(this, "OpenAsFolderAction", QStringLiteral("Open as &Folder"));
  ExitAction = MakeAction(this, "ExitAction", QStringLiteral("E&xit"), QKeySequence::Quit);
  AdvancedFiltersAction = MakeAction(this, "AdvancedFiltersAction", QStringLiteral("&Advanced Filters"),
                                     QKeySequence(Qt::CTRL | Qt::Key_F));
  ExpandTreeAction =
      MakeAction(this, "ExpandTreeAction", QStringLiteral("&Expand Folder Tree"), QKeySequence(Qt::Key_F7));
  CollapseTreeAction =
      MakeAction(this, "CollapseTreeAction", QStringLiteral("&Collapse Folder Tree"), QKeySequence(Qt::Key_F8));
  SizeUnitsAction = MakeAction(this, "SizeUnitsAction", QStringLiteral("Sizes in &KB/MB"));
  SizeUnitsAction->setCheckable(true);
  SubfolderFilesAction =
      MakeAction(this, "SubfolderFilesAction", QStringLiteral("Show Files of &Subfolders While Filtering"));
  SubfolderFilesAction->setCheckable(true);
  SubfolderFilesAction->setChecked(true);
  ManualAction = MakeAction(this, "ManualAction", QStringLiteral("&Manual"), QKeySequence::HelpContents);
  AboutAction = MakeAction(this, "AboutAction", QStringLiteral("&About Corvane Mirel"));

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("FileMenu"));
  file->addAction(OpenImageAction);
  file->addSeparator();
  file->addActions({ScanAction, RecoverAction, PreviewAction, OpenAsFolderAction});
  file->addSeparator();
  file->addAction(ExitAction);
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("EditMenu"));
  edit->addAction(AdvancedFiltersAction);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("ViewMenu"));
  view->addActions({ExpandTreeAction, CollapseTreeAction});
  view->addSeparator();
  view->addActions({SizeUnitsAction, SubfolderFilesAction});
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("HelpMenu"));
  help->addAction(ManualAction);
  help->addAction(AboutAction);

  TreeMenu = Named(new QMenu(this), "TreeMenu");
  RecoverFolderAction = MakeAction(TreeMenu, "RecoverFolderAction", QStringLiteral("&Recover Highlighted Folder"));
  ExpandAllAction = MakeAction(TreeMenu, "ExpandAllAction", QStringLiteral("&Expand All"));
  CollapseAllAction = MakeAction(TreeMenu, "CollapseAllAction", QStringLiteral("&Collapse All"));
  TreeMenu->addActions({RecoverFolderAction, ExpandAllAction, CollapseAllAction});

  ListMenu = Named(new QMenu(this), "ListMenu");
  RecoverSelectedAction = MakeAction(ListMenu, "RecoverSelectedAction", QStringLiteral("&Recover Selected Item(s)"),
                                     QKeySequence(Qt::CTRL | Qt::Key_C));
  PreviewSelectedAction =
      MakeAction(ListMenu, "PreviewSelectedAction", QStringLiteral("&Preview Selected File"), QKeySequence(Qt::Key_F3));
  ListOpenAsFolderAction = MakeAction(ListMenu, "ListOpenAsFolderAction", QStringLiteral("Open as &Folder"));
  ListFilterAction =
      MakeAction(ListMenu, "ListFilterAction", QStringLiteral("F&ilter"), QKeySequence(Qt::CTRL | Qt::Key_F));
  SelectAllAction =
      MakeAction(ListMenu, "SelectAllAction", QStringLiteral("Select &All"), QKeySequence(Qt::CTRL | Qt::Key_A));
  // The list view fires these itself while it has the focus.
  for (QAction* a : ListMenu->actions()) a->setShortcutContext(Qt::WidgetShortcut);
  ListMenu->addActions(
      {RecoverSelectedAction, PreviewSelectedAction, ListOpenAsFolderAction, ListFilterAction, SelectAllAction});
  FileList->ContextMenu = ListMenu;

  for (QAction* a : {PreviewAction, PreviewSelectedAction})
    connect(a, &QAction::triggered, this, &TfrmMainForm::OpenPreview);
  for (QAction* a : {AdvancedFiltersAction, ListFilterAction})
    connect(a, &QAction::triggered, this, &TfrmMainForm::ShowFilterDialog);
  for (QAction* a : {OpenAsFolderAction, ListOpenAsFolderAction})
    connect(a, &QAction::triggered, this, &TfrmMainForm::OpenAsFolder);

  connect(ScanAction, &QAction::triggered, this, &TfrmMainForm::MenuScanClick);
  connect(OpenImageAction, &QAction::triggered, this, [this] { OpenImage(); });
  connect(SizeUnitsAction, &QAction::toggled, this, [this](bool on) { Model->SetSizeUnits(on); });
  connect(SubfolderFilesAction, &QAction::toggled, this, [this] { ApplyFilter(Filter); });
  connect(RecoverAction, &QAction::triggered, this, [this] { RecoverSelection(); });
  connect(ExitAction, &QAction::triggered, this, &QWidget::close);
  connect(ExpandTreeAction, &QAction::triggered, this, &TfrmMainForm::ExpandTree);
  connect(CollapseTreeAction, &QAction::triggered, this, &TfrmMainForm::CollapseTree);
  connect(ManualAction, &QAction::triggered, this, &TfrmMainForm::OpenHelp);
  connect(AboutAction, &QAction::triggered, this, &TfrmMainForm::ShowAbout);
  connect(RecoverFolderAction, &QAction::triggered, this, &TfrmMainForm::RecoverHighlightedFolder);
  connect(ExpandAllAction, &QAction::triggered, this, &TfrmMainForm::ExpandTree);
  connect(CollapseAllAction, &QAction::triggered, this, &TfrmMainForm::CollapseTree);
  connect(RecoverSelectedAction, &QAction::triggered, this, [this] { RecoverSelection(); });
  connect(SelectAllAction, &QAction::triggered, this, &TfrmMainForm::SelectAll);
  connect(FolderTree, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { TreeMenu->popup(FolderTree->viewport()->mapToGlobal(p)); });
  connect(FileList, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { ListMenu->popup(FileList->viewport()->mapToGlobal(p)); });
}

bool TfrmMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == BrowsePanel && event->type() == QEvent::Resize && !SplitterPlaced) {
    const int w = BrowsePanel->width();
    const int tree = w * 3 / 11;
    TreeListSplitter->setSizes({tree, std::max(0, w - tree - TreeListSplitter->handleWidth())});
  } else if (event->type() == QEvent::MouseButtonRelease) {
    // Every link leads into the manual that comes with the program.
    if (watched == WebLink || watched == HelpLink)
      OpenHelp();
    else if (watched == SupportLink)
      OpenManual(QStringLiteral("support"));
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMainForm::FillDiskList() {
  VolumeBox->clear();
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
    VolumeBox->addItem(text, i);
  }
  int selected = -1;
  for (int i = 0; i < disks.Count() && selected < 0; ++i)
    if (!DiskLetter.isEmpty() && QString::fromStdString(disks[i]->Name).compare(DiskLetter, Qt::CaseInsensitive) == 0)
      selected = i;
  VolumeBox->setCurrentIndex(selected);
}

TDiskObject* TfrmMainForm::SelectedDisk() const {
  int i = VolumeBox->currentIndex();
  return i < 0 ? nullptr : RecoveryManager().DiskList[VolumeBox->itemData(i).toInt()];
}

void TfrmMainForm::DiskChosen(int) {
  TDiskObject* d = SelectedDisk();
  if (!d) return;
  DiskLetter = QString::fromStdString(d->Name);
  Updating.SetDisk(RecoveryManager().FindDisk(d->Name));
  Model->Clear();
}

void TfrmMainForm::ApplyFilter(const TFilter& filter) {
  TFileInfo* folder = Filter.Folder;
  Filter = filter;
  Filter.Folder = folder;
  Filter.Flags |= qfFolder;
  SetSubfolderFlag();
  Updating.Query.SetFilter(Filter);
  Updating.RefreshList();
  Updating.RefreshTree();
}

void TfrmMainForm::SetSubfolderFlag() {
  if (SubfolderFilesAction->isChecked() && FilterNarrows(Filter))
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
  QHeaderView* header = FileList->horizontalHeader();
  header->setSortIndicatorShown(Model->SortColumn >= 0);
  if (Model->SortColumn >= 0)
    header->setSortIndicator(Model->SortColumn, Model->SortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TfrmMainForm::FitColumns() {
  const QFontMetrics fm = FileList->fontMetrics();
  const int pad = 2 * FileList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12;
  const int icon = FileList->style()->pixelMetric(QStyle::PM_SmallIconSize) + 4;
  // Every column at least as wide as its title and its widest likely text.
  auto atLeast = [&](int column, const QString& sample, int extra = 0) {
    const int title = fm.horizontalAdvance(Model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()) + 24;
    return std::max(title, fm.horizontalAdvance(sample) + pad + extra);
  };
  const bool rows = Model->rowCount() > 0;
  if (rows) FileList->resizeColumnsToContents();
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
    FileList->setColumnWidth(c, std::max(widths[c], rows ? FileList->columnWidth(c) : 0));
    if (!FileList->isColumnHidden(c)) others += FileList->columnWidth(c);
  }
  // The name takes what the other columns leave, within reason; long names
  // show whole in their tooltip.
  const int least = atLeast(fcName, QStringLiteral("A long name.txt"), icon);
  const int most = std::max(least, fm.horizontalAdvance(QLatin1Char('x')) * 48);
  const int room = FileList->viewport()->width() - others;
  FileList->setColumnWidth(fcName, std::clamp(std::max(room, rows ? FileList->columnWidth(fcName) : 0), least, most));
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

void TfrmMainForm::ScanButtonClick() {
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
  NameMaskEdit->setText(QStringLiteral("*.*"));
  Bridge->ViewsCleared();
  Model->Clear();
  if (RunScan()) ShowFilterDialog();
}

void TfrmMainForm::HiddenScanClick() {
  if (!CanScan()) return;
  Bridge->ViewsCleared();
  Model->Clear();
  RunScan();
}

void TfrmMainForm::EraseButtonClick() {
  TDiskObject* disk = RecoveryManager().FindDisk(DiskLetter.toStdString());
  if (!disk) return;
  WaitForScan();
  Bridge->ViewsCleared();
  Model->Clear();
  PrepareQuery(disk);
  Operation = opErase;
  Bridge->SetEraseProgressBar(Progress->Bar);
  EraseEvents = std::make_unique<TJobViewEvents>(Updating);
  EraseJob = std::make_unique<TEraseJob>(*disk, std::string(), *EraseEvents);
  EraseJob->Start();
  // The dialog stays open after the erase until the user closes it.
  Progress->exec();
  EraseJob->Wait();
  StatusLabel->setText(EraseJob->Worker().Result ? QStringLiteral("Erase completed") : QStringLiteral("Erase failed"));
  EraseJob.reset();
  EraseEvents.reset();
}

bool TfrmMainForm::CanScan() {
  if (RecoveryManager().FindDisk(DiskLetter.toStdString())) return true;
  Dialogs().Message(this, QMessageBox::Information, QStringLiteral("Nothing to scan"),
                    VolumeBox->count() == 0
                        ? QStringLiteral("No volume is listed. Open a disk image with File > Open Image... (Ctrl+O) "
                                         "or drop one onto this window.")
                        : QStringLiteral("No volume is selected. Choose one in the volume box, or open a disk image "
                                         "with File > Open Image... (Ctrl+O)."),
                    QMessageBox::Ok);
  return false;
}

bool TfrmMainForm::RunScan() {
  StatusLabel->setText(QStringLiteral("Scanning ..."));
  // The catalogue the last scan is still filling must not be freed under it.
  WaitForScan();
  TDiskObject* disk = GainAccess(RecoveryManager().FindDisk(DiskLetter.toStdString()));
  PrepareQuery(disk);
  Operation = opScan;
  Bridge->SetScanProgressBar(Progress->Bar);
  Bridge->SetCountLabel(FoundCountLabel);
  if (!StartScanJob(disk)) {
    Operation = opNone;
    StatusLabel->setText(QStringLiteral("Scan failed"));
    return false;
  }
  Progress->ScanEnd = TfrmProgressForm::seRunning;
  Progress->exec();
  if (Progress->ScanEnd == TfrmProgressForm::seFailed) {
    StatusLabel->setText(QStringLiteral("Scan failed"));
    return false;
  }
  StepTabs->setCurrentWidget(RecoverPage);
  Bridge->Flush();
  // The root's folders in sight and its files listed.
  if (QTreeWidgetItem* root = FolderTree->topLevelItem(0)) {
    root->setExpanded(true);
    FolderTree->setCurrentItem(root);
  }
  if (!ColumnsRestored) FitColumns();
  FoundSummaryLabel->setText(FoundCountLabel->text() + QStringLiteral(" files found"));
  StatusLabel->setText(Progress->ScanEnd == TfrmProgressForm::seCancelled
                           ? FoundSummaryLabel->text() + QStringLiteral(" (scan stopped)")
                           : FoundSummaryLabel->text());
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

bool TfrmMainForm::StartScanJob(TDiskObject* disk) {
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
  ScanJob.reset();
  ScanEvents = std::make_unique<TJobViewEvents>(Updating);
  ScanEvents->OnDone = [this](const TJobResult&) {
    ScanRunning = false;
    QMetaObject::invokeMethod(
        this, [this] { ScanEnded(); }, Qt::QueuedConnection);
  };
  // The search is part of the Long scan only.
  const bool lostFolders = LostFoldersBox->isChecked();
  const TScanOptions options{.Quick = QuickModeButton->isChecked() && !lostFolders, .LostFolders = lostFolders};
  ScanJob = std::make_unique<TScanJob>(*disk, options, *ScanEvents);
  ScanJob->Start();
  return true;
}

void TfrmMainForm::ScanEnded() {
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
  if (failed) StatusLabel->setText(QStringLiteral("Scan failed"));
}

void TfrmMainForm::WaitForScan() {
  WaitWithEvents([this] { return !ScanRunning.load(); });
  if (ScanJob) ScanJob->Wait();
}

void TfrmMainForm::RecoverSelection() {
  QModelIndexList rows = FileList->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  TDiskItems items;
  for (const QModelIndex& ix : rows)
    if (TFileInfo* e = Model->EntryAt(ix.row())) items.Add(e);
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

  TfrmProgressForm* p = Progress;
  // Filled on the worker; read here only after it has ended.
  std::vector<TRecoveredFile> results;
  TJobViewEvents events(Updating);
  events.OnFileStarted = [p](const std::string& path, TFileInfo* e) { p->FileStartHandler(path, e); };
  events.OnFileExists = [p](const std::string& path) { return p->FileExistsHandler(path); };
  events.OnFileRecovered = [&results](const TRecoveredFile& r) { results.push_back(r); };
  events.OnDone = [p](const TJobResult&) { p->RecoveryDoneHandler(); };
  TRecoveryOptions options;
  options.DestDir = dest.toStdString();
  options.FolderFilter = [this](const TFileInfo& e) { return Updating.Query.AcceptsInAnyFolder(e); };
  TRecoveryJob job(std::move(items), std::move(options), events);
  Progress->RecoveryJob = &job;

  Operation = opRecover;
  Progress->exec();
  WaitWithEvents([p] { return p->RecoveryFinished.load(); });
  const bool stopped = job.Wait().End == TJobEnd::Cancelled;
  Progress->BusyBar->SetActive(false);
  Progress->BusyBar->hide();
  Progress->Bar->show();
  Operation = opNone;
  StatusLabel->setText(
      QStringLiteral("%1; destination %2%3")
          .arg(TfrmRecoverySummary::CountsText(results), dest, stopped ? QStringLiteral(" (stopped)") : QString()));
  TfrmRecoverySummary summary(std::move(results), stopped, dest, this);
  Dialogs().ShowModal(summary);
}

void TfrmMainForm::RecoverHighlightedFolder() {
  SelectAll();
  RecoverSelection();
}

void TfrmMainForm::ApplyQuickFilter() {
  TFilter f;
  f.Flags = qfMask;
  f.Mask = WildcardToPattern(NameMaskEdit->text().toStdString());
  if (GoodFilesOnlyBox->isChecked()) {
    f.Flags = qfCondition;
    f.MinCondition = 100;
  }
  ApplyFilter(f);
}

void TfrmMainForm::ClearQuickFilter() {
  Filter.Flags = 0;
  ApplyFilter(Filter);
  NameMaskEdit->setText(QStringLiteral("*.*"));
  GoodFilesOnlyBox->setChecked(false);
}

void TfrmMainForm::GoodFilesOnlyClick() {
  if (GoodFilesOnlyBox->isChecked()) {
    NameMaskEdit->setText(QStringLiteral("*.*"));
    Filter.Flags = qfCondition;
    Filter.MinCondition = 100;
  } else {
    Filter.Flags = 0;
  }
  ApplyFilter(Filter);
}

void TfrmMainForm::SelectAll() { FileList->selectAll(); }

void TfrmMainForm::ShowFilterDialog() { FilterForm->exec(); }

TfrmDataPreview* TfrmMainForm::OpenPreview() {
  QModelIndexList rows = FileList->selectionModel()->selectedRows();
  if (rows.isEmpty()) return nullptr;
  // The row with the focus when it is selected, else the first selected.
  const QModelIndex current = FileList->currentIndex();
  const int row = current.isValid() && FileList->selectionModel()->isRowSelected(current.row())
                      ? current.row()
                      : std::min_element(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
                          return a.row() < b.row();
                        })->row();
  // Folder rows have no status.
  if (Model->data(Model->index(row, 3), Qt::DisplayRole).toString().isEmpty()) return nullptr;
  TFileInfo* entry = Model->EntryAt(row);
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
  StatusLabel->setText(QStringLiteral("Found files served at %1").arg(FolderMount->MountPoint()));
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

void TfrmMainForm::ExpandTree() { FolderTree->expandAll(); }

void TfrmMainForm::CollapseTree() { FolderTree->collapseAll(); }

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
  DiskChosen(VolumeBox->currentIndex());
  StepTabs->setCurrentWidget(ScanPage);
  StatusLabel->setText(QStringLiteral("%1 added; Scan looks for deleted files on it").arg(DiskLetter));
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
  if (TreeListSplitter->restoreState(settings.value(QStringLiteral("window/splitter")).toByteArray()))
    SplitterPlaced = true;
  const QList<QVariant> widths = settings.value(QStringLiteral("list/columns")).toList();
  if (widths.size() == fcCount) {
    for (int c = 0; c < fcCount; ++c) FileList->setColumnWidth(c, std::max(widths[c].toInt(), 30));
    ColumnsRestored = true;
  }
  SizeUnitsAction->setChecked(settings.value(QStringLiteral("list/sizeUnits"), false).toBool());
  SubfolderFilesAction->setChecked(settings.value(QStringLiteral("list/subfolders"), true).toBool());
  LastImageFolder = settings.value(QStringLiteral("files/imageFolder")).toString();
}

void TfrmMainForm::SaveSettings() const {
  QSettings settings;
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  if (SplitterPlaced) settings.setValue(QStringLiteral("window/splitter"), TreeListSplitter->saveState());
  QList<QVariant> widths;
  for (int c = 0; c < fcCount; ++c) widths << FileList->columnWidth(c);
  settings.setValue(QStringLiteral("list/columns"), widths);
  settings.setValue(QStringLiteral("list/sizeUnits"), SizeUnitsAction->isChecked());
  settings.setValue(QStringLiteral("list/subfolders"), SubfolderFilesAction->isChecked());
  settings.setValue(QStringLiteral("files/imageFolder"), LastImageFolder);
}

}  // namespace mirel::ui
