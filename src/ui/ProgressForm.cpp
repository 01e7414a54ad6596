#include "ui/ProgressForm.h"

#include <unistd.h>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/RecoveryManager.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/MainForm.h"
#include "ui/ViewBridge.h"
#include "workers/RecoveringThread.h"

namespace mirel::ui {

void TMarqueeProgressBar::SetActive(bool active) {
  FActive = active;
  // An empty range is the style's busy indicator.
  if (active)
    setRange(0, 0);
  else
    setRange(0, 100);
}

TfrmProgressForm::TfrmProgressForm(TfrmMainForm* main) : QDialog(main), Main(main) {
  setObjectName(QStringLiteral("frmProgressForm"));
  setWindowTitle(QStringLiteral("Current progress"));
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  auto* layout = new QVBoxLayout(this);
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel2"));
  panel->setBackgroundRole(QPalette::Base);
  panel->setAutoFillBackground(true);
  auto* inner = new QVBoxLayout(panel);
  lblFileName = new QLabel(panel);
  lblFileName->setObjectName(QStringLiteral("lblFileName"));
  lblFileName->setMinimumWidth(342);
  lblFileName->setMinimumHeight(lblFileName->fontMetrics().height() * 3);
  lblFileName->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label2 = new QLabel(panel);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->hide();
  lblCounts = new QLabel(panel);
  lblCounts->setObjectName(QStringLiteral("lblCounts"));
  ProgressBar1 = new QProgressBar(panel);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setTextVisible(false);
  MarqueeProgressBar1 = new TMarqueeProgressBar(panel);
  MarqueeProgressBar1->setObjectName(QStringLiteral("MarqueeProgressBar1"));
  MarqueeProgressBar1->setTextVisible(false);
  MarqueeProgressBar1->hide();
  inner->addWidget(lblFileName);
  inner->addWidget(lblCounts);
  inner->addWidget(ProgressBar1);
  inner->addWidget(MarqueeProgressBar1);
  layout->addWidget(panel);

  btnAbort = new QPushButton(QStringLiteral("Cancel"), this);
  btnAbort->setObjectName(QStringLiteral("btnAbort"));
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(btnAbort);
  layout->addLayout(row);
  connect(btnAbort, &QPushButton::clicked, this, &TfrmProgressForm::btnAbortClick);
  setMinimumWidth(363);
  Ticker = new QTimer(this);
  Ticker->setInterval(100);
  connect(Ticker, &QTimer::timeout, this, &TfrmProgressForm::Tick);
}

void TfrmProgressForm::Tick() {
  const QLocale english(QLocale::English);
  switch (Main->Operation) {
    case opScan: {
      // A scan that reached its end has read everything there was.
      const int percent = ScanEnd == seCompleted ? 100 : Main->Updating.ScanPercent.load();
      lblCounts->setText(
          QStringLiteral("%1 files found, %2%").arg(english.toString(Main->Updating.FoundCount.load())).arg(percent));
      break;
    }
    case opRecover: {
      TRecoveringThread* t = RecoveringThread;
      if (!t) break;
      {
        std::lock_guard lock(CurrentLock);
        if (!CurrentShown) {
          lblFileName->setText(
              ShortenPath(QString::fromStdString(CurrentFile), lblFileName->fontMetrics(), lblFileName->width()));
          CurrentShown = true;
        }
      }
      const int total = t->FilesTotal.load();
      // The files are still being counted.
      if (total < 0) break;
      const int done = t->FilesDone.load();
      if (MarqueeProgressBar1->isVisible()) {
        MarqueeProgressBar1->SetActive(false);
        MarqueeProgressBar1->hide();
        ProgressBar1->show();
      }
      ProgressBar1->setRange(0, std::max(total, 1));
      ProgressBar1->setValue(std::min(done, std::max(total, 1)));
      lblCounts->setText(QStringLiteral("%1 of %2 files, %3 of %4")
                             .arg(english.toString(done), english.toString(total), SizeInUnits(t->BytesWritten.load()),
                                  SizeInUnits(t->BytesTotal.load())));
      break;
    }
    default: break;
  }
}

void TfrmProgressForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TfrmProgressForm::FormShow() {
  switch (Main->Operation) {
    case opScan: {
      ScanEnd = seRunning;
      const QString text = QStringLiteral("Scanning drive ") + Main->DiskLetter + QStringLiteral(": for files");
      setWindowTitle(text);
      lblFileName->setText(text);
      Main->Bridge->OnScanDone = [this] { ScanDoneHandler(); };
      Tick();
      Ticker->start();
      break;
    }
    case opErase:
      lblFileName->setText(QStringLiteral("Performing the erase process"));
      lblCounts->clear();
      break;
    case opRecover:
      setWindowTitle(QStringLiteral("Copying files"));
      lblFileName->clear();
      lblCounts->setText(QStringLiteral("Counting the files ..."));
      // A busy bar while the files are counted.
      ProgressBar1->hide();
      MarqueeProgressBar1->show();
      MarqueeProgressBar1->SetActive(true);
      RecoveryFinished = false;
      AnswerForAll.reset();
      Ticker->start();
      try {
        if (!RecoveringThread) throw std::runtime_error("no recovering thread");
        RecoveringThread->Start();
      } catch (...) {
        Main->Operation = opNone;
        RecoveryFinished = true;
        QTimer::singleShot(0, this, [this] { QDialog::reject(); });
      }
      break;
    default: break;
  }
}

void TfrmProgressForm::btnAbortClick() {
  switch (Main->Operation) {
    case opScan:
      ScanEnd = seCancelled;
      RecoveryManager().StopScan(Main->DiskLetter.toStdString());
      break;
    case opErase: RecoveryManager().StopErase(Main->DiskLetter.toStdString()); break;
    case opRecover:
      if (RecoveringThread) {
        RecoveringThread->Terminate();
        // The worker may still need the main thread (its end handler, a
        // question about an existing file) before it can end.
        WaitWithEvents([this] { return RecoveryFinished.load(); });
      }
      break;
    default: break;
  }
  Ticker->stop();
  Main->Operation = opNone;
  QDialog::reject();
}

void TfrmProgressForm::reject() { btnAbortClick(); }

void TfrmProgressForm::ScanDoneHandler() {
  RunOnMainThread([this] {
    const bool cancelled = ScanEnd == seCancelled;
    if (!cancelled) ScanEnd = seCompleted;
    Tick();
    Ticker->stop();
    setWindowTitle(QStringLiteral("Done"));
    Main->Operation = opNone;
    Main->Bridge->OnScanDone = nullptr;
    // A scan the user stopped did not complete; the main window says so.
    if (!cancelled)
      Dialogs().Message(this, QMessageBox::Information, QStringLiteral("Done!"),
                        QStringLiteral("Disk Scan completed!\n\nYou can now expand the directory tree,\n"
                                       "select the Recover TAB and select files to recover.\n\n"
                                       "Do NOT save files to the drive you are recovering from!"),
                        QMessageBox::Ok);
    if (isVisible()) QDialog::accept();
  });
}

void TfrmProgressForm::ScanFailed(const QString& why) {
  if (Main->Operation != opScan) return;
  Main->Operation = opNone;
  ScanEnd = seFailed;
  Main->Bridge->OnScanDone = nullptr;
  if (isVisible()) QDialog::reject();
  Dialogs().Message(Main, QMessageBox::Warning, QStringLiteral("Scan failed"), why, QMessageBox::Ok);
}

QString TfrmProgressForm::ShortenPath(const QString& path, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(path) <= width) return path;
  // Inner folder names give way first, the start and the file name stay.
  QStringList parts = path.split(u'/');
  if (parts.size() > 3) {
    const QString first = parts.front().isEmpty() && parts.size() > 1 ? u'/' + parts[1] : parts.front();
    const int firstInner = parts.front().isEmpty() ? 2 : 1;
    for (int drop = 1; firstInner + drop < parts.size(); ++drop) {
      QStringList kept{first, QStringLiteral("...")};
      for (int i = firstInner + drop; i < parts.size(); ++i) kept.push_back(parts[i]);
      QString candidate = kept.join(u'/');
      if (metrics.horizontalAdvance(candidate) <= width) return candidate;
    }
  }
  return metrics.elidedText(path, Qt::ElideMiddle, width);
}

void TfrmProgressForm::FileStartHandler(const std::string& path, PFileInfo) {
  std::lock_guard lock(CurrentLock);
  CurrentFile = path;
  CurrentShown = false;
}

TExistsAnswer TfrmProgressForm::FileExistsHandler(const std::string& path) {
  TExistsChoice choice = TExistsChoice::Cancel;
  RunOnMainThread([&] {
    if (AnswerForAll) {
      choice = *AnswerForAll;
      return;
    }
    choice = Dialogs().AskExists(this, QString::fromStdString(path));
    if (choice == TExistsChoice::OverwriteAll || choice == TExistsChoice::SkipAll || choice == TExistsChoice::RenameAll)
      AnswerForAll = choice;
  });
  switch (choice) {
    case TExistsChoice::Overwrite:
    case TExistsChoice::OverwriteAll: return {TOnExists::Overwrite};
    case TExistsChoice::Rename:
    case TExistsChoice::RenameAll: return {TOnExists::Rename};
    case TExistsChoice::Cancel:
      if (RecoveringThread) RecoveringThread->Terminate();
      return {TOnExists::Skip, "skipped by the user"};
    default: return {TOnExists::Skip, "skipped by the user"};
  }
}

void TfrmProgressForm::RecoveryDoneHandler() {
  RunOnMainThread([this] {
    Tick();
    Ticker->stop();
    RecoveryItems = nullptr;
    RecoveringThread = nullptr;
    Main->Operation = opNone;
    lblFileName->setText(QStringLiteral("Done"));
    RecoveryFinished = true;
    if (isVisible()) QDialog::accept();
  });
}

}  // namespace mirel::ui
