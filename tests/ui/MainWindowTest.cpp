#include <unistd.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Engine.h"
#include "TestSupport.h"
#include "UiTests.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "engine/RecoveryJob.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/MainForm.h"
#include "ui/ManualWindow.h"
#include "ui/PreviewForm.h"
#include "ui/RecoverySummary.h"
#include "ui/ViewBridge.h"
#include "workers/ViewUpdater.h"

namespace fs = std::filesystem;

namespace mirel::test {

using ui::TfrmMainForm;

// Takes the addresses the program opens instead of a browser.
class TUrlCatcher : public QObject {
  Q_OBJECT
public:
  explicit TUrlCatcher(QStringList& opened) : Opened(opened) {}
public slots:
  void Open(const QUrl& url) { Opened << url.toString(); }

private:
  QStringList& Opened;
};

bool Mounted(const QString& point) {
  std::ifstream info("/proc/self/mountinfo");
  for (std::string line; std::getline(info, line);) {
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 5 && fields >> field; ++i) {
    }
    if (field == point.toStdString()) return true;
  }
  return false;
}

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Temp;
  std::unique_ptr<TViewUpdater> Updating;
  std::unique_ptr<TfrmMainForm> W;
  QStringList Messages;
  std::function<QMessageBox::StandardButton(const QString& title)> Answer;
  QString Dest;
  // The existing-file questions asked, and the answer to give.
  QStringList Asked;
  ui::TExistsChoice ExistsAnswer = ui::TExistsChoice::Skip;
  QString ImageToOpen;
  // What the last end-of-recovery summary showed, and where Save report goes.
  QString SummaryCounts, SummaryProblems, ReportPath;

  QTreeWidgetItem* Node(const QString& name) {
    auto found = W->FolderTree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
  }
  QStringList Column(int column) {
    QStringList out;
    for (int r = 0; r < W->Model->rowCount(); ++r)
      out << W->Model->data(W->Model->index(r, column), Qt::DisplayRole).toString();
    return out;
  }
  void Scan() {
    W->ScanButton->click();
    W->WaitForScan();
  }
  void ShowFolder(const QString& name) {
    QTreeWidgetItem* n = Node(name);
    QVERIFY2(n, qPrintable(name));
    W->FolderTree->setCurrentItem(n);
  }
  // Deleted short names have lost their first letter.
  const QStringList Docs{"$ub", "Report 2024.docx", "$otes.txt"};
  bool Completed() const { return !Messages.filter(QStringLiteral("Disk Scan completed!")).isEmpty(); }

private slots:
  void initTestCase() {
    Temp = std::make_unique<TTempDir>();
    SetDebugLogPath((Temp->Path() / "debug.log").string());
    StartEngine();
    // A volume that goes away after it was listed, and one with no file system.
    fs::copy_file(Fixture("fat12.img"), *Temp / "gone.img");
    WriteFile(*Temp / "zeros.img", std::vector<uint8_t>(64 * 1024, 0));
    // A copy cut short: deleted-root.bin keeps 2,048 of its 4,100 bytes.
    fs::copy_file(Fixture("fat16.img"), *Temp / "cut.img");
    fs::resize_file(*Temp / "cut.img", 104448);
    CreateRecoveryManager({Fixture("fat12.img").string(), Fixture("fat16.img").string(), (*Temp / "gone.img").string(),
                           (*Temp / "zeros.img").string(), (*Temp / "cut.img").string()},
                          false);
    fs::remove(*Temp / "gone.img");
    Updating = std::make_unique<TViewUpdater>();
    ui::Dialogs().Message = [this](QWidget*, QMessageBox::Icon, const QString& title, const QString& text,
                                   QMessageBox::StandardButtons) {
      Messages << title + QStringLiteral("|") + text;
      return Answer ? Answer(title) : QMessageBox::Ok;
    };
    ui::Dialogs().ChooseFolder = [this](QWidget*, const QString&, const QString&) { return Dest; };
    ui::Dialogs().AskExists = [this](QWidget*, const QString& path) {
      Asked << path;
      return ExistsAnswer;
    };
    ui::Dialogs().OpenImageFile = [this](QWidget*, const QString&) { return ImageToOpen; };
    ui::Dialogs().SaveFileName = [this](QWidget*, const QString&) { return ReportPath; };
    ui::Dialogs().ShowModal = [this](QDialog& d) {
      auto* summary = qobject_cast<ui::TfrmRecoverySummary*>(&d);
      QVERIFY(summary);
      SummaryCounts = summary->CountsLabel->text();
      SummaryProblems = summary->ProblemsText->toPlainText();
      if (!ReportPath.isEmpty()) summary->SaveReportButton->click();
    };
  }

  void cleanupTestCase() {
    Updating.reset();
    DestroyRecoveryManager();
  }

  void init() {
    Messages.clear();
    Asked.clear();
    ExistsAnswer = ui::TExistsChoice::Skip;
    ImageToOpen.clear();
    Answer = nullptr;
    Dest.clear();
    SummaryCounts.clear();
    SummaryProblems.clear();
    ReportPath.clear();
    W = std::make_unique<TfrmMainForm>(*Updating, QStringLiteral("fat12.img"));
    W->show();
  }

  void cleanup() { W.reset(); }

  void startSelectsTheNamedVolume() {
    QCOMPARE(W->VolumeBox->count(), 5);
    QCOMPARE(W->VolumeBox->currentIndex(), 0);
    // The volume box names each volume's file system and size.
    QVERIFY2(W->VolumeBox->currentText().startsWith(QStringLiteral("fat12.img: FAT12VOL (FAT12, ")) &&
                 W->VolumeBox->currentText().endsWith(QStringLiteral(" MB)")),
             qPrintable(W->VolumeBox->currentText()));
    QVERIFY(W->VolumeBox->itemText(2).contains(QStringLiteral("gone.img")));
    QVERIFY(W->VolumeBox->itemText(3).contains(QStringLiteral("no FAT, exFAT or NTFS")));
    QVERIFY(W->HiddenScanButton->isHidden() && W->EraseButton->isHidden() && W->ModeGroup->isHidden());
    // The window system adds the program's name itself.
    QCOMPARE(W->windowTitle(), QStringLiteral("Deleted File Recovery"));
    TfrmMainForm none(*Updating, QStringLiteral("sdz9"));
    QCOMPARE(none.VolumeBox->currentIndex(), -1);
  }

  void scanFillsTreeAndList() {
    Scan();
    QVERIFY2(Completed(), qPrintable(Messages.join(u'\n')));
    QCOMPARE(W->Operation, int(ui::opNone));
    QCOMPARE(W->StepTabs->currentWidget(), W->RecoverPage);
    TDiskObject* d = RecoveryManager().FindDisk("fat12.img");
    QCOMPARE(W->StatusLabel->text(), QStringLiteral("%1 files found").arg(d->Files.Count()));
    QCOMPARE(W->FolderTree->topLevelItemCount(), 1);
    QVERIFY(Node(QStringLiteral("$ocs")) && Node(QStringLiteral("$ub")) && Node(QStringLiteral("photos")));
    // The root is open and selected: its folders show and its files are listed.
    QVERIFY(W->FolderTree->topLevelItem(0)->isExpanded());
    QCOMPARE(W->FolderTree->currentItem(), W->FolderTree->topLevelItem(0));
    QVERIFY(Column(0).contains(QStringLiteral("deleted-root.bin")));
    // The scan dialog said how many files it found, and how far it got.
    QCOMPARE(W->Progress->CountsLabel->text(), QStringLiteral("%1 files found, 100%").arg(d->Files.Count()));

    ShowFolder(QStringLiteral("$ocs"));
    QCOMPARE(Column(0), Docs);
    ShowFolder(QStringLiteral("photos"));
    QStringList photos = Column(0);
    QVERIFY(photos.contains(QStringLiteral("Holiday photo with a long name.jpg")));
    QVERIFY(!photos.contains(QStringLiteral("IMG_0001.JPG")));

    // Deleted entries are in italics in the list as in the tree; each file
    // shows its condition with a cue and the number.
    const QModelIndex holiday =
        W->Model->index(int(Column(0).indexOf(QStringLiteral("Holiday photo with a long name.jpg"))), 0);
    QVERIFY(W->Model->data(holiday, Qt::FontRole).value<QFont>().italic());
    QVERIFY(Node(QStringLiteral("$ocs"))->font(0).italic());
    QVERIFY(!Node(QStringLiteral("photos"))->font(0).italic());
    const QModelIndex condition = holiday.siblingAtColumn(3);
    QVERIFY(!W->Model->data(condition, Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(W->Model->data(condition, Qt::DisplayRole).toString().endsWith(u'%'));
    QVERIFY(W->Model->data(condition, Qt::ToolTipRole).toString().contains(QStringLiteral("good")));

    // A second scan of the same volume shows only its own entries.
    const int folders = W->FolderTree->topLevelItem(0)->childCount();
    Messages.clear();
    Scan();
    QVERIFY(Completed());
    QCOMPARE(W->FolderTree->topLevelItemCount(), 1);
    QCOMPARE(W->FolderTree->topLevelItem(0)->childCount(), folders);
    ShowFolder(QStringLiteral("$ocs"));
    QCOMPARE(Column(0), Docs);
  }

  void lostFolderChoiceMakesALongScan() {
    QVERIFY(W->LostFoldersBox->isVisibleTo(W.get()));
    W->LostFoldersBox->setChecked(true);
    Scan();
    QVERIFY(Completed());
    TDiskObject* disk = RecoveryManager().FindDisk(W->DiskLetter.toStdString());
    QVERIFY(disk->Scaner->Options.LostFolders);
    QVERIFY(!disk->Scaner->Options.Quick);
    // Live files are listed too: IMG_0001.JPG is one.
    ShowFolder(QStringLiteral("photos"));
    QVERIFY(Column(0).contains(QStringLiteral("IMG_0001.JPG")));
    W->LostFoldersBox->setChecked(false);
    Scan();
    QVERIFY(!disk->Scaner->Options.LostFolders);
    ShowFolder(QStringLiteral("photos"));
    QVERIFY(!Column(0).contains(QStringLiteral("IMG_0001.JPG")));
  }

  void quickFilterAndGoodFiles() {
    Scan();
    W->NameMaskEdit->setText(QStringLiteral("*.txt"));
    W->ApplyMaskButton->click();
    // The tree now leads only to folders holding a .txt file.
    QVERIFY(Node(QStringLiteral("$ub")) && Node(QStringLiteral("photos")));
    QVERIFY(!Node(QStringLiteral("wrap")));
    // While a filter hides files, a folder lists the matches of its subfolders too.
    ShowFolder(QStringLiteral("$ocs"));
    QCOMPARE(Column(0), (QStringList{"$otes.txt", "$nner.txt"}));
    W->FolderTree->setCurrentItem(W->FolderTree->topLevelItem(0));
    QVERIFY(Column(0).contains(QStringLiteral("$nner.txt")) && Column(0).contains(QStringLiteral("$mall.txt")));
    W->SubfolderFilesAction->setChecked(false);
    ShowFolder(QStringLiteral("$ocs"));
    QCOMPARE(Column(0), (QStringList{"$otes.txt"}));
    W->SubfolderFilesAction->setChecked(true);

    W->NameMaskEdit->setText(QStringLiteral("report"));
    W->ApplyMaskButton->click();
    QCOMPARE(Column(0), (QStringList{"Report 2024.docx"}));

    W->GoodFilesOnlyBox->setChecked(true);
    QCOMPARE(W->NameMaskEdit->text(), QStringLiteral("*.*"));
    ShowFolder(QStringLiteral("photos"));
    const QStringList status = Column(3);
    QVERIFY(!status.isEmpty());
    for (const QString& s : status) QCOMPARE(s, QStringLiteral("100%"));

    W->ClearMaskButton->click();
    QVERIFY(!W->GoodFilesOnlyBox->isChecked());
    QVERIFY(Node(QStringLiteral("wrap")));
    // Without a filter a folder lists its own entries only.
    ShowFolder(QStringLiteral("$ocs"));
    QCOMPARE(Column(0).size(), 3);
  }

  void sortBySizeTwice() {
    Scan();
    ShowFolder(QStringLiteral("photos"));
    const int rows = W->Model->rowCount();
    QVERIFY(rows >= 2);
    W->FileList->selectRow(0);
    TFileInfo* const selected = W->Model->EntryAt(0);
    QHeaderView* header = W->FileList->horizontalHeader();
    auto click = [&] {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(2) + 5, 5));
    };
    click();
    QStringList up = Column(2);
    click();
    QStringList down = Column(2);
    QCOMPARE(up.size(), rows);
    for (int i = 1; i < rows; ++i) {
      QVERIFY(up[i - 1].toStdString() <= up[i].toStdString());
      QVERIFY(down[i - 1].toStdString() >= down[i].toStdString());
    }
    QVERIFY(W->Model->SortDescending);
    // The selection follows its entry through the re-ordering.
    const QModelIndexList sel = W->FileList->selectionModel()->selectedRows();
    QCOMPARE(sel.size(), 1);
    QCOMPARE(W->Model->EntryAt(sel.front().row()), selected);
  }

  std::vector<int64_t> Sizes() {
    std::vector<int64_t> out;
    for (int r = 0; r < W->Model->rowCount(); ++r) out.push_back(W->Model->EntryAt(r)->Size);
    return out;
  }

  void addressColumnIsHiddenAndSortable() {
    Scan();
    ShowFolder(QStringLiteral("photos"));
    QVERIFY(W->FileList->isColumnHidden(6));
    QCOMPARE(W->Model->headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Address"));
    const QStringList addresses = Column(6);
    QVERIFY(!addresses.isEmpty());
    for (const QString& a : addresses) QVERIFY(!a.isEmpty());
    W->Model->HeaderClicked(6);
    QStringList sorted = addresses;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.toLongLong() < b.toLongLong(); });
    QCOMPARE(Column(6), sorted);
  }

  void sortIsByValueAndHolds() {
    Scan();
    // Files of several folders, 0 to 12,000 bytes: as text "12000" < "300".
    W->NameMaskEdit->setText(QStringLiteral("*.txt;*.docx;*.bin;*.jpg"));
    W->ApplyMaskButton->click();
    W->FolderTree->setCurrentItem(W->FolderTree->topLevelItem(0));
    QVERIFY(W->Model->rowCount() >= 6);
    W->Model->HeaderClicked(2);
    QVERIFY(!W->Model->SortDescending);
    std::vector<int64_t> sizes = Sizes();
    QVERIFY(std::is_sorted(sizes.begin(), sizes.end()));
    QCOMPARE(sizes.back(), int64_t(12000));
    // Another folder, another filter: still by size.
    ShowFolder(QStringLiteral("$ocs"));
    sizes = Sizes();
    QVERIFY(sizes.size() >= 2 && std::is_sorted(sizes.begin(), sizes.end()));
    W->NameMaskEdit->setText(QStringLiteral("*.txt"));
    W->ApplyMaskButton->click();
    W->FolderTree->setCurrentItem(W->FolderTree->topLevelItem(0));
    sizes = Sizes();
    QVERIFY(sizes.size() >= 3 && std::is_sorted(sizes.begin(), sizes.end()));
    QCOMPARE(W->FileList->horizontalHeader()->sortIndicatorSection(), 2);

    // Condition and dates by value too, descending on the second click.
    W->Model->HeaderClicked(3);
    W->Model->HeaderClicked(3);
    for (int r = 1; r < W->Model->rowCount(); ++r)
      QVERIFY(W->Model->EntryAt(r - 1)->Condition >= W->Model->EntryAt(r)->Condition);
    W->Model->HeaderClicked(4);
    for (int r = 1; r < W->Model->rowCount(); ++r)
      QVERIFY(W->Model->EntryAt(r - 1)->LastWriteTime <= W->Model->EntryAt(r)->LastWriteTime);

    // Sizes in KB/MB, the exact count in the tooltip.
    W->Model->HeaderClicked(2);
    W->SizeUnitsAction->setChecked(true);
    const int last = W->Model->rowCount() - 1;
    QCOMPARE(W->Model->data(W->Model->index(last, 2), Qt::DisplayRole).toString(), QStringLiteral("2.4 KB"));
    QCOMPARE(W->Model->data(W->Model->index(last, 2), Qt::ToolTipRole).toString(), QStringLiteral("2,500 bytes"));
    W->SizeUnitsAction->setChecked(false);
    QCOMPARE(W->Model->data(W->Model->index(last, 2), Qt::DisplayRole).toString(), QStringLiteral("2500"));
  }

  void recoverSelectionWritesFiles() {
    Scan();
    ShowFolder(QStringLiteral("$ocs"));
    TTempDir out;
    Dest = QString::fromStdString(out.Path().string());
    W->SelectAll();
    W->CopyButton->click();
    QCOMPARE(W->Operation, int(ui::opNone));
    QCOMPARE(W->LastDestination, Dest);
    const fs::path orig = FixtureDir() / "fat12.files";
    for (auto [got, want] : {std::pair{"Report 2024.docx", "Report 2024.docx"}, std::pair{"$otes.txt", "notes.txt"},
                             std::pair{"$ub/$nner.txt", "sub/inner.txt"}})
      QVERIFY2(ReadWholeFile(out / got) == ReadWholeFile(orig / "docs" / want), got);
    QVERIFY(W->StatusLabel->text().startsWith(QStringLiteral("3 files recovered")));
    QCOMPARE(SummaryCounts, QStringLiteral("3 files recovered, 0 incomplete, 0 failed, 0 skipped"));
    QVERIFY(SummaryProblems.isEmpty());

    // Again into the same folder: every existing file is asked about.
    ExistsAnswer = ui::TExistsChoice::Overwrite;
    fs::resize_file(out / "$otes.txt", 1);
    W->SelectAll();
    W->CopyButton->click();
    QCOMPARE(Asked.size(), 3);
    QCOMPARE(ReadWholeFile(out / "$otes.txt"), ReadWholeFile(orig / "docs/notes.txt"));
    QCOMPARE(W->Progress->CountsLabel->text(), QStringLiteral("3 of 3 files, 14.5 KB of 14.5 KB"));

    // An answer for all is asked once and holds for the rest of the run.
    for (auto [answer, summary] :
         {std::pair{ui::TExistsChoice::RenameAll, "3 files recovered, 0 incomplete, 0 failed, 0 skipped"},
          std::pair{ui::TExistsChoice::SkipAll, "0 files recovered, 0 incomplete, 0 failed, 3 skipped"},
          std::pair{ui::TExistsChoice::OverwriteAll, "3 files recovered, 0 incomplete, 0 failed, 0 skipped"}}) {
      Asked.clear();
      ExistsAnswer = answer;
      W->SelectAll();
      W->CopyButton->click();
      QCOMPARE(Asked.size(), 1);
      QCOMPARE(SummaryCounts, QString::fromLatin1(summary));
    }
    QCOMPARE(ReadWholeFile(out / "$otes (2).txt"), ReadWholeFile(orig / "docs/notes.txt"));
    QCOMPARE(ReadWholeFile(out / "$ub/$nner (2).txt"), ReadWholeFile(orig / "docs/sub/inner.txt"));
    QVERIFY(!fs::exists(out / "$otes (3).txt"));
  }

  void recoveryDoesNotWaitForTheWindow() {
    Scan();
    ShowFolder(QStringLiteral("$ocs"));
    W->SelectAll();
    TDiskItems items;
    for (const QModelIndex& ix : W->FileList->selectionModel()->selectedRows()) items.Add(W->Model->EntryAt(ix.row()));
    TTempDir out;
    ui::TfrmProgressForm* p = W->Progress;
    ui::TJobViewEvents events(*Updating);
    events.OnFileStarted = [p](const std::string& path, TFileInfo* e) { p->FileStartHandler(path, e); };
    std::atomic<bool> done{false};
    events.OnDone = [&done](const TJobResult&) { done = true; };
    TRecoveryJob job(std::move(items), {.DestDir = out.Path().string()}, events);
    // The main thread handles no event until the run is over: a hand-off per
    // file would stop the worker at its first file.
    job.Start();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QVERIFY(done.load());
    job.Wait();
    const TRecoveringThread& thread = job.Worker();
    QCOMPARE(thread.FilesDone.load(), 3);
    QCOMPARE(thread.FilesTotal.load(), 3);
    QCOMPARE(thread.BytesTotal.load(), int64_t(12000 + 300 + 2500));
    QVERIFY(fs::exists(out / "$ub" / "$nner.txt"));
  }

  void noSelectionOrNoFolderDoesNothing() {
    Scan();
    Messages.clear();
    W->FileList->clearSelection();
    Dest = QStringLiteral("/nonexistent");
    W->CopyButton->click();
    ShowFolder(QStringLiteral("$ocs"));
    W->SelectAll();
    Dest.clear();
    W->CopyButton->click();
    QVERIFY(Messages.isEmpty());
    QVERIFY(W->LastDestination.isEmpty());
  }

  void cancelDuringScan() {
    bool clicked = false;
    connect(W->FolderTree->model(), &QAbstractItemModel::rowsInserted, this, [&] {
      // The scanner waits while its folder is added: the scan is surely running.
      if (!clicked) {
        clicked = true;
        W->Progress->CancelButton->click();
      }
    });
    W->ScanButton->click();
    QVERIFY(clicked);
    QCOMPARE(W->Operation, int(ui::opNone));
    QVERIFY(W->StatusLabel->text().endsWith(QStringLiteral("(scan stopped)")));
    W->WaitForScan();
    QVERIFY(!Completed());
    // The stopped scan leaves the window usable.
    Scan();
    QVERIFY(Completed());
  }

  void eraseOfAnUnmountedImageEndsWhenTheDialogIsClosed() {
    // An image that is not mounted cannot be erased; the dialog stays until
    // the user closes it, as after every erase, and nothing is written.
    QTimer::singleShot(300, W->Progress->CancelButton, &QPushButton::click);
    W->EraseButton->click();
    QCOMPARE(W->Operation, int(ui::opNone));
    QCOMPARE(W->StatusLabel->text(), QStringLiteral("Erase failed"));
    QCOMPARE(W->Model->rowCount(), 0);
  }

  void cancelDuringRecovery() {
    Scan();
    ShowFolder(QStringLiteral("$ocs"));
    TTempDir out;
    Dest = QString::fromStdString(out.Path().string());
    // The folder row comes first; its file exists already.
    fs::create_directory(out / "$ub");
    WriteFile(out / "$ub" / "$nner.txt", {1, 2, 3});
    ExistsAnswer = ui::TExistsChoice::Cancel;
    W->SelectAll();
    W->CopyButton->click();
    QCOMPARE(W->Operation, int(ui::opNone));
    QVERIFY2(W->StatusLabel->text().endsWith(QStringLiteral("(stopped)")), qPrintable(W->StatusLabel->text()));
    QCOMPARE(ReadWholeFile(out / "$ub" / "$nner.txt").size(), size_t(3));
    QVERIFY(!fs::exists(out / "$otes.txt"));
    QVERIFY(!fs::exists(out / "Report 2024.docx"));
  }

  void unreadableVolumesSayWhy() {
    W->VolumeBox->setCurrentIndex(2);
    emit W->VolumeBox->activated(2);
    QCOMPARE(W->DiskLetter, QStringLiteral("gone.img"));
    Scan();
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].contains(QStringLiteral("gone.img: the boot sector cannot be read")), qPrintable(Messages[0]));
    QCOMPARE(W->Operation, int(ui::opNone));
    QCOMPARE(W->StatusLabel->text(), QStringLiteral("Scan failed"));

    Messages.clear();
    W->VolumeBox->setCurrentIndex(3);
    emit W->VolumeBox->activated(3);
    Scan();
    QCOMPARE(Messages.size(), 1);
    QVERIFY(Messages[0].contains(QStringLiteral("holds no FAT, exFAT or NTFS file system")));
  }

  void listShortcutsWinWhileItHasFocus() {
    Scan();
    QApplication::setActiveWindow(W.get());
    QSignalSpy fromList(W->RecoverSelectedAction, &QAction::triggered);
    QSignalSpy fromMenu(W->RecoverAction, &QAction::triggered);
    W->FileList->setFocus();
    QTest::keyClick(W->FileList, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(fromList.count(), 1);
    QCOMPARE(fromMenu.count(), 0);
    W->FolderTree->setFocus();
    QTest::keyClick(W->FolderTree, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(fromList.count(), 1);
    QCOMPARE(fromMenu.count(), 1);
  }

  void summaryNamesIncompleteAndFailedFiles() {
    W->VolumeBox->setCurrentIndex(4);
    emit W->VolumeBox->activated(4);
    Scan();
    // The scan says the image is cut short, after the scan's own report.
    QVERIFY2(Messages.size() == 2 && Messages[1].startsWith(QStringLiteral("Scan incomplete|")) &&
                 Messages[1].contains(QStringLiteral("image holds 104448 of ")),
             qPrintable(Messages.join(u'\n')));
    W->FolderTree->setCurrentItem(W->FolderTree->topLevelItem(0));
    TTempDir out;
    Dest = QString::fromStdString(out.Path().string());
    ReportPath = QString::fromStdString((out / "report.jsonl").string());
    // The photos folder cannot be made: a file of that name is there.
    WriteFile(out / "photos", {'x'});
    W->SelectAll();
    W->CopyButton->click();
    QCOMPARE(SummaryCounts, QStringLiteral("5 files recovered, 2 incomplete, 2 failed, 0 skipped"));
    QVERIFY(W->StatusLabel->text().startsWith(SummaryCounts));
    const QString root = Dest + QStringLiteral("/deleted-root.bin");
    QVERIFY2(SummaryProblems.contains(QStringLiteral("incomplete: %1: 2052 of 4100 bytes could not be read").arg(root)),
             qPrintable(SummaryProblems));
    QVERIFY2(SummaryProblems.contains(
                 QStringLiteral("failed: %1/photos/$mall.txt: folder %1/photos cannot be created").arg(Dest)),
             qPrintable(SummaryProblems));
    QCOMPARE(SummaryProblems.count(u'\n'), 3);  // two incomplete and two failed lines
    // The saved report holds every file, in the command line's format.
    const QStringList report =
        QString::fromStdString(ReadWholeFile(ReportPath.toStdString())).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(report.size(), 9);
    QCOMPARE(report.filter(QStringLiteral("\"status\":\"incomplete\"")).size(), 2);
    const QString rootLine = report.filter(QStringLiteral("\"path\":\"deleted-root.bin\"")).front();
    QVERIFY(rootLine.contains(QStringLiteral("\"missing\":[[2048,2052]]")));
  }

  void dateColumnsShowAtTheStartSize() {
    QHeaderView* header = W->FileList->horizontalHeader();
    const int date = W->FileList->fontMetrics().horizontalAdvance(QStringLiteral("2024-05-17 10:20:30"));
    for (int column : {4, 5}) {
      QVERIFY(header->sectionSize(column) > date);
      QVERIFY2(header->sectionViewportPosition(column) + date <= W->FileList->viewport()->width(),
               qPrintable(QString::number(column)));
    }
  }

  void linksOpenTheManual() {
    QStringList opened;
    TUrlCatcher catcher(opened);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    QTest::mouseClick(W->WebLink, Qt::LeftButton);
    QTest::mouseClick(W->SupportLink, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(opened.size(), 2);
    QVERIFY2(opened[0].endsWith(QStringLiteral("docs/manual.html")), qPrintable(opened[0]));
    QVERIFY2(opened[1].endsWith(QStringLiteral("docs/manual.html#support")), qPrintable(opened[1]));
    QVERIFY(ReadWholeFile(QUrl(opened[0]).toLocalFile().toStdString()).find("id=\"support\"") != std::string::npos);
  }

  void openAsFolderServesTheScanUntilItIsCleared() {
    if (::geteuid() != 0 || !fs::exists("/dev/fuse")) QSKIP("needs root and /dev/fuse");
    TTempDir runtime;
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path().string()));
    QStringList opened;
    TUrlCatcher desktop(opened);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "Open");
    const QString point = QString::fromStdString((runtime / "mirel" / "fat12.img").string());

    // A volume without found files has nothing to show.
    W->DiskLetter = QStringLiteral("zeros.img");
    W->OpenAsFolderAction->trigger();
    QVERIFY(Messages.last().contains(QStringLiteral("scan the volume first")));
    QVERIFY(opened.isEmpty());

    W->DiskLetter = QStringLiteral("fat12.img");
    Scan();
    ShowFolder(QStringLiteral("photos"));
    W->ListOpenAsFolderAction->trigger();
    QCOMPARE(opened, QStringList{QUrl::fromLocalFile(point + QStringLiteral("/photos")).toString()});
    const std::string name = "/photos/Holiday photo with a long name.jpg";
    QCOMPARE(ReadWholeFile(point.toStdString() + name), ReadWholeFile(Fixture("fat12.files").string() + name));

    // Unmounted from outside, it is mounted again when asked for.
    QCOMPARE(std::system(("fusermount3 -u '" + point.toStdString() + "'").c_str()), 0);
    QTRY_VERIFY(!Mounted(point));
    W->OpenAsFolderAction->trigger();
    QVERIFY(Mounted(point));

    // A new scan takes the folder away before it frees what it served.
    Scan();
    QVERIFY(!Mounted(point));
    W->OpenAsFolderAction->trigger();
    QVERIFY(Mounted(point));
    QCOMPARE(opened.last(), QUrl::fromLocalFile(point).toString());
    // So does the window's end.
    W.reset();
    QVERIFY(!Mounted(point));

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
  }

  void nothingToScanSaysWhatToDo() {
    TfrmMainForm none(*Updating, QStringLiteral("sdz9"));
    none.ScanButton->click();
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].startsWith(QStringLiteral("Nothing to scan|")) &&
                 Messages[0].contains(QStringLiteral("Open Image")),
             qPrintable(Messages[0]));
  }

  void manualShowsInsideTheProgram() {
    TTempDir tmp;
    const fs::path page = tmp / "manual.html";
    std::ofstream(page) << "<html><body><h1>Start</h1><p>First words.</p>"
                           "<h2 id=\"support\">Help and support</h2><p>Keep the report.</p></body></html>";
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(page.string()));
    url.setFragment(QStringLiteral("support"));
    ui::TfrmManual manual(url);
    QVERIFY(manual.Text->toPlainText().contains(QStringLiteral("Keep the report.")));
    QCOMPARE(manual.Text->source().fragment(), QStringLiteral("support"));
  }

  void keyboardPaths() {
    Scan();
    QApplication::setActiveWindow(W.get());
    // Menus open with Alt and their letter; F1 asks for the manual.
    QCOMPARE(W->menuBar()->actions().size(), 4);
    for (QAction* m : W->menuBar()->actions()) QVERIFY2(m->text().contains(u'&'), qPrintable(m->text()));
    QCOMPARE(W->ManualAction->shortcut(), QKeySequence(Qt::Key_F1));
    // Tab leaves the list instead of walking its cells.
    ShowFolder(QStringLiteral("$ocs"));
    W->FileList->setFocus();
    W->FileList->setCurrentIndex(W->Model->index(int(Column(0).indexOf(QStringLiteral("$otes.txt"))), 0));
    W->FileList->selectRow(W->FileList->currentIndex().row());
    QTest::keyClick(W->FileList, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != W->FileList);
    // Enter previews the current file, text in Text mode with its state below;
    // Esc closes the preview.
    W->FileList->setFocus();
    QTest::keyClick(W->FileList, Qt::Key_Return);
    auto previews = W->findChildren<ui::TfrmDataPreview*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(previews.size(), 1);
    ui::TfrmDataPreview* preview = previews.front();
    QVERIFY(preview->TextAction->isChecked());
    QVERIFY2(preview->StatusLine->text().startsWith(QStringLiteral("300 bytes, condition 100%: good")) &&
                 preview->StatusLine->text().endsWith(QStringLiteral(", deleted")),
             qPrintable(preview->StatusLine->text()));
    QVERIFY(preview->minimumSize() != preview->maximumSize());
    QApplication::setActiveWindow(preview);
    QTest::keyClick(preview, Qt::Key_Escape);
    QTRY_VERIFY(W->findChildren<ui::TfrmDataPreview*>(Qt::FindDirectChildrenOnly).isEmpty());
  }

  void darkPaletteUsesItsRoles() {
    const QPalette light = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Link, QColor(42, 130, 218));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(dark);
    {
      TfrmMainForm w(*Updating, QStringLiteral("fat12.img"));
      w.show();
      w.ScanButton->click();
      w.WaitForScan();
      // No widget brings colours of its own: each takes the palette's.
      for (QWidget* c : w.findChildren<QWidget*>())
        for (QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Base, QPalette::Text})
          QVERIFY2(c->palette().color(role) == dark.color(role), qPrintable(c->objectName()));
      for (QWidget* c : w.Progress->findChildren<QWidget*>())
        QVERIFY2(c->palette().color(QPalette::Base) == dark.color(QPalette::Base), qPrintable(c->objectName()));
      QVERIFY(w.FileList->alternatingRowColors());
      QVERIFY(!w.Model->data(w.Model->index(1, 0), Qt::BackgroundRole).isValid());
      QVERIFY(!w.Model->data(w.Model->index(1, 0), Qt::ForegroundRole).isValid());
      QCOMPARE(w.WebLink->foregroundRole(), QPalette::Link);
    }
    QApplication::setPalette(light);
  }

  void settingsAreRemembered() {
    W->resize(1000, 700);
    W->FileList->setColumnWidth(4, 222);
    W->TreeListSplitter->setSizes({300, 600});
    emit W->TreeListSplitter->splitterMoved(300, 1);
    const QList<int> split = W->TreeListSplitter->sizes();
    W->SizeUnitsAction->setChecked(true);
    W->close();
    {
      TfrmMainForm again(*Updating, QStringLiteral("fat12.img"));
      again.show();
      QCOMPARE(again.size(), QSize(1000, 700));
      QCOMPARE(again.FileList->columnWidth(4), 222);
      QCOMPARE(again.TreeListSplitter->sizes(), split);
      QVERIFY(again.SizeUnitsAction->isChecked());
      // A scan leaves the remembered widths alone.
      again.ScanButton->click();
      again.WaitForScan();
      QCOMPARE(again.FileList->columnWidth(4), 222);
    }
    QSettings().clear();
  }

  void treeTakesThreeElevenths() {
    W->resize(W->width() + 550 - W->BrowsePanel->width(), W->height());
    QTRY_COMPARE(W->BrowsePanel->width(), 550);
    QCOMPARE(W->TreeListSplitter->sizes().front(), 150);
  }

  // Last: the volumes it adds stay in the list.
  void openImageAndDrop() {
    const fs::path first = *Temp / "opened.img", second = *Temp / "dropped.img";
    fs::copy_file(Fixture("fat16.img"), first);
    fs::copy_file(Fixture("fat12.img"), second);
    const int before = W->VolumeBox->count();
    ImageToOpen = QString::fromStdString(first.string());
    W->OpenImageAction->trigger();
    QCOMPARE(W->VolumeBox->count(), before + 1);
    QVERIFY2(W->VolumeBox->currentText().startsWith(QStringLiteral("opened.img: ")),
             qPrintable(W->VolumeBox->currentText()));
    QCOMPARE(W->DiskLetter, QStringLiteral("opened.img"));
    // Opened again, it is selected, not listed twice.
    W->VolumeBox->setCurrentIndex(0);
    W->OpenImageAction->trigger();
    QCOMPARE(W->VolumeBox->count(), before + 1);
    QCOMPARE(W->DiskLetter, QStringLiteral("opened.img"));
    Scan();
    QVERIFY(Completed());

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(second.string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(W.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(W.get(), &drop);
    QCOMPARE(W->VolumeBox->count(), before + 2);
    QCOMPARE(W->DiskLetter, QStringLiteral("dropped.img"));

    // A file that holds no volume says so.
    Messages.clear();
    ImageToOpen = QString::fromStdString((*Temp / "nothing.txt").string());
    W->OpenImageAction->trigger();
    QCOMPARE(W->VolumeBox->count(), before + 2);
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].contains(QStringLiteral("nothing.txt")), qPrintable(Messages[0]));
  }
};

static TRegisterUiTest<MainWindowTest> registerMainWindowTest;

}  // namespace mirel::test

#include "MainWindowTest.moc"
