#include "ui/RecoverySummary.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Dialogs.h"
#include "workers/RecoveryReport.h"

namespace mirel::ui {

namespace {

int Count(const std::vector<TRecoveredFile>& results, TRecoveryStatus status) {
  return static_cast<int>(
      std::count_if(results.begin(), results.end(), [status](const TRecoveredFile& r) { return r.Status == status; }));
}

}  // namespace

QString TfrmRecoverySummary::CountsText(const std::vector<TRecoveredFile>& results) {
  const int recovered = Count(results, TRecoveryStatus::Complete);
  return QStringLiteral("%1 %2 recovered, %3 incomplete, %4 failed, %5 skipped")
      .arg(recovered)
      .arg(recovered == 1 ? QStringLiteral("file") : QStringLiteral("files"))
      .arg(Count(results, TRecoveryStatus::Incomplete))
      .arg(Count(results, TRecoveryStatus::Failed))
      .arg(Count(results, TRecoveryStatus::Skipped));
}

TfrmRecoverySummary::TfrmRecoverySummary(std::vector<TRecoveredFile> results, bool stopped, const QString& reportFolder,
                                         QWidget* parent)
    : QDialog(parent), Results(std::move(results)), ReportFolder(reportFolder) {
  setObjectName(QStringLiteral("frmRecoverySummary"));
  setWindowTitle(QStringLiteral("Recovery finished"));
  auto* layout = new QVBoxLayout(this);
  CountsLabel = new QLabel(this);
  CountsLabel->setObjectName(QStringLiteral("CountsLabel"));
  CountsLabel->setText(CountsText(Results) + (stopped ? QStringLiteral("; stopped by the user") : QString()));
  layout->addWidget(CountsLabel);

  QStringList lines;
  for (const TRecoveredFile& r : Results) {
    const QString where = QString::fromStdString(r.Dest.empty() ? r.Target : r.Dest);
    if (r.Status == TRecoveryStatus::Incomplete || r.Status == TRecoveryStatus::Failed) {
      QString line = QStringLiteral("%1: %2: %3")
                         .arg(QString::fromLatin1(StatusName(r.Status)), where, QString::fromStdString(r.Reason));
      if (!r.Missing.Empty()) line += QStringLiteral(" (missing %1)").arg(QString::fromStdString(r.Missing.Describe()));
      lines << line;
    }
    if (!r.Note.empty()) lines << QStringLiteral("%1: %2").arg(where, QString::fromStdString(r.Note));
    // Where the destination has no streams, each one's place is said.
    for (const TStreamCopy& s : r.Streams) {
      if (s.Kind == TStreamCopy::Attribute)
        lines << QStringLiteral("%1: stream %2 kept as the extended attribute %3")
                     .arg(where, QString::fromStdString(s.Name), QString::fromStdString(s.Dest));
      else if (s.Kind == TStreamCopy::File)
        lines << QStringLiteral("%1: stream %2 written beside it as %3")
                     .arg(where, QString::fromStdString(s.Name), QString::fromStdString(s.Dest));
    }
  }
  ProblemsText = new QPlainTextEdit(this);
  ProblemsText->setObjectName(QStringLiteral("ProblemsText"));
  ProblemsText->setReadOnly(true);
  ProblemsText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  ProblemsText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  ProblemsText->setPlainText(lines.join(u'\n'));
  ProblemsText->setVisible(!lines.isEmpty());
  layout->addWidget(ProblemsText, 1);

  SaveReportButton = new QPushButton(QStringLiteral("Save report"), this);
  SaveReportButton->setObjectName(QStringLiteral("SaveReportButton"));
  CloseButton = new QPushButton(QStringLiteral("Close"), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CloseButton->setDefault(true);
  auto* row = new QHBoxLayout;
  row->addWidget(SaveReportButton);
  row->addStretch();
  row->addWidget(CloseButton);
  layout->addLayout(row);
  connect(SaveReportButton, &QPushButton::clicked, this, &TfrmRecoverySummary::SaveReport);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
  resize(lines.isEmpty() ? 360 : 620, lines.isEmpty() ? 100 : 320);
}

void TfrmRecoverySummary::SaveReport() {
  const QString preset = QDir(ReportFolder).filePath(QStringLiteral("recovery-report.jsonl"));
  const QString path = Dialogs().SaveFileName(this, preset);
  if (path.isEmpty()) return;
  std::string why;
  if (!WriteReport(path.toStdString(), Results, why))
    Dialogs().Message(this, QMessageBox::Warning, QStringLiteral("Report not saved"), QString::fromStdString(why),
                      QMessageBox::Ok);
}

}  // namespace mirel::ui
