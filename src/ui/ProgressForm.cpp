#include "ui/ProgressForm.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <unistd.h>

#include "core/RecoveryManager.h"
#include "ui/Dialogs.h"
#include "ui/MainForm.h"
#include "ui/ViewBridge.h"
#include "workers/RecoveringThread.h"

namespace mirel::ui {

void TMarqueeProgressBar::SetActive(bool active) {
  FActive = active;
  // An empty range is the style's busy indicator.
  if (active) setRange(0, 0);
  else setRange(0, 100);
}

TfrmProgressForm::TfrmProgressForm(TfrmMainForm* main) : QDialog(main), Main(main) {
  setObjectName(QStringLiteral("frmProgressForm"));
  setWindowTitle(QStringLiteral("Current progress"));
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  auto* layout = new QVBoxLayout(this);
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel2"));
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, Qt::white);
  panel->setPalette(pal);
  auto* inner = new QVBoxLayout(panel);
  lblFileName = new QLabel(panel);
  lblFileName->setObjectName(QStringLiteral("lblFileName"));
  lblFileName->setMinimumWidth(342);
  lblFileName->setMinimumHeight(lblFileName->fontMetrics().height() * 3);
  lblFileName->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label2 = new QLabel(panel);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->hide();
  ProgressBar1 = new QProgressBar(panel);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setTextVisible(false);
  MarqueeProgressBar1 = new TMarqueeProgressBar(panel);
  MarqueeProgressBar1->setObjectName(QStringLiteral("MarqueeProgressBar1"));
  MarqueeProgressBar1->setTextVisible(false);
  MarqueeProgressBar1->hide();
  inner->addWidget(lblFileName);
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
      break;
    }
    case opErase:
      lblFileName->setText(QStringLiteral("Performing the erase process"));
      break;
    case opRecover:
      setWindowTitle(QStringLiteral("Copying files"));
      lblFileName->clear();
      ProgressBar1->setRange(0, RecoveryItems ? RecoveryItems->Count() : 0);
      ProgressBar1->setValue(0);
      RecoveryFinished = false;
      try {
        if (!RecoveringThread) throw std::runtime_error("no recovering thread");
        RecoveringThread->Start();
      } catch (...) {
        Main->Operation = opNone;
        RecoveryFinished = true;
        QTimer::singleShot(0, this, [this] { QDialog::reject(); });
      }
      break;
    default:
      break;
  }
}

void TfrmProgressForm::btnAbortClick() {
  switch (Main->Operation) {
    case opScan:
      ScanEnd = seCancelled;
      RecoveryManager().StopScan(Main->DiskLetter.toStdString());
      break;
    case opErase:
      RecoveryManager().StopErase(Main->DiskLetter.toStdString());
      break;
    case opRecover:
      if (RecoveringThread) {
        RecoveringThread->Terminate();
        // The worker may still need the main thread (its end handler, a
        // question about an existing file) before it can end.
        WaitWithEvents([this] { return RecoveryFinished.load(); });
      }
      break;
    default:
      break;
  }
  Main->Operation = opNone;
  QDialog::reject();
}

void TfrmProgressForm::reject() { btnAbortClick(); }

void TfrmProgressForm::ScanDoneHandler() {
  RunOnMainThread([this] {
    const bool cancelled = ScanEnd == seCancelled;
    if (!cancelled) ScanEnd = seCompleted;
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
  RunOnMainThread([this, text = QString::fromStdString(path)] {
    lblFileName->setText(ShortenPath(text, lblFileName->fontMetrics(), lblFileName->width()));
  });
}

TExistsAnswer TfrmProgressForm::FileExistsHandler(const std::string& path) {
  QMessageBox::StandardButton answer = QMessageBox::Cancel;
  QString chosen;
  RunOnMainThread([&] {
    answer = Dialogs().Message(this, QMessageBox::Question, QStringLiteral("Confirmation"),
                               QStringLiteral("File %1 already exists.\nOverwrite?").arg(QString::fromStdString(path)),
                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::No) chosen = Dialogs().SaveFileName(this, QString::fromStdString(path));
  });
  if (answer == QMessageBox::Yes) return {TOnExists::Overwrite};
  // A file chosen in the save dialog is replaced without another question.
  if (answer == QMessageBox::No && !chosen.isEmpty()) return {TOnExists::Overwrite, {}, chosen.toStdString()};
  return {TOnExists::Skip, "skipped by the user"};
}

void TfrmProgressForm::RecoveryDoneHandler() {
  RunOnMainThread([this] {
    RecoveryItems = nullptr;
    RecoveringThread = nullptr;
    Main->Operation = opNone;
    lblFileName->setText(QStringLiteral("Done"));
    RecoveryFinished = true;
    if (isVisible()) QDialog::accept();
  });
}

}  // namespace mirel::ui
