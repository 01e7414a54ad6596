#include "ui/ProgressForm.h"

#include <unistd.h>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/RecoveryJob.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/MainForm.h"
#include "ui/ViewBridge.h"

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
  panel->setObjectName(QStringLiteral("Panel"));
  panel->setBackgroundRole(QPalette::Base);
  panel->setAutoFillBackground(true);
  auto* inner = new QVBoxLayout(panel);
  ActivityLabel = new QLabel(panel);
  ActivityLabel->setObjectName(QStringLiteral("ActivityLabel"));
  ActivityLabel->setMinimumWidth(342);
  ActivityLabel->setMinimumHeight(ActivityLabel->fontMetrics().height() * 3);
  ActivityLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  CountsLabel = new QLabel(panel);
  CountsLabel->setObjectName(QStringLiteral("CountsLabel"));
  Bar = new QProgressBar(panel);
  Bar->setObjectName(QStringLiteral("Bar"));
  Bar->setTextVisible(false);
  BusyBar = new TMarqueeProgressBar(panel);
  BusyBar->setObjectName(QStringLiteral("BusyBar"));
  BusyBar->setTextVisible(false);
  BusyBar->hide();
  inner->addWidget(ActivityLabel);
  inner->addWidget(CountsLabel);
  inner->addWidget(Bar);
  inner->addWidget(BusyBar);
  layout->addWidget(panel);

  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(CancelButton);
  layout->addLayout(row);
  connect(CancelButton, &QPushButton::clicked, this, &TfrmProgressForm::CancelClick);
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
      CountsLabel->setText(
          QStringLiteral("%1 files found, %2%").arg(english.toString(Main->Updating.FoundCount.load())).arg(percent));
      break;
    }
    case opRecover: {
      if (!RecoveryJob) break;
      const TRecoveringThread& t = RecoveryJob->Worker();
      {
        std::lock_guard lock(CurrentLock);
        if (!CurrentShown) {
          ActivityLabel->setText(
              ShortenPath(QString::fromStdString(CurrentFile), ActivityLabel->fontMetrics(), ActivityLabel->width()));
          CurrentShown = true;
        }
      }
      const int total = t.FilesTotal.load();
      // The files are still being counted.
      if (total < 0) break;
      const int done = t.FilesDone.load();
      if (BusyBar->isVisible()) {
        BusyBar->SetActive(false);
        BusyBar->hide();
        Bar->show();
      }
      Bar->setRange(0, std::max(total, 1));
      Bar->setValue(std::min(done, std::max(total, 1)));
      CountsLabel->setText(QStringLiteral("%1 of %2 files, %3 of %4")
                               .arg(english.toString(done), english.toString(total), SizeInUnits(t.BytesWritten.load()),
                                    SizeInUnits(t.BytesTotal.load())));
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
      ActivityLabel->setText(text);
      Main->Bridge->OnScanDone = [this] { ScanDoneHandler(); };
      Tick();
      Ticker->start();
      break;
    }
    case opErase:
      ActivityLabel->setText(QStringLiteral("Performing the erase process"));
      CountsLabel->clear();
      break;
    case opRecover:
      setWindowTitle(QStringLiteral("Copying files"));
      ActivityLabel->clear();
      CountsLabel->setText(QStringLiteral("Counting the files ..."));
      // A busy bar while the files are counted.
      Bar->hide();
      BusyBar->show();
      BusyBar->SetActive(true);
      RecoveryFinished = false;
      AnswerForAll.reset();
      Ticker->start();
      try {
        if (!RecoveryJob) throw std::runtime_error("no recovery to run");
        RecoveryJob->Start();
      } catch (...) {
        Main->Operation = opNone;
        RecoveryFinished = true;
        QTimer::singleShot(0, this, [this] { QDialog::reject(); });
      }
      break;
    default: break;
  }
}

void TfrmProgressForm::CancelClick() {
  switch (Main->Operation) {
    case opScan:
      ScanEnd = seCancelled;
      if (Main->ScanJob) Main->ScanJob->RequestStop();
      break;
    case opErase:
      if (Main->EraseJob) Main->EraseJob->RequestStop();
      break;
    case opRecover:
      if (RecoveryJob) {
        RecoveryJob->RequestStop();
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

void TfrmProgressForm::reject() { CancelClick(); }

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

void TfrmProgressForm::FileStartHandler(const std::string& path, TFileInfo*) {
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
      if (RecoveryJob) RecoveryJob->RequestStop();
      return {TOnExists::Skip, "skipped by the user"};
    default: return {TOnExists::Skip, "skipped by the user"};
  }
}

void TfrmProgressForm::RecoveryDoneHandler() {
  RunOnMainThread([this] {
    Tick();
    Ticker->stop();
    RecoveryJob = nullptr;
    Main->Operation = opNone;
    ActivityLabel->setText(QStringLiteral("Done"));
    RecoveryFinished = true;
    if (isVisible()) QDialog::accept();
  });
}

}  // namespace mirel::ui
