#pragma once
// The end of a recovery: how many files came back whole, incomplete, failed
// or were skipped, the incomplete and failed ones with their reasons, where
// named streams went and which files took another name, in text that can be
// selected and copied, and the report to save.
#include <QDialog>
#include <vector>

#include "workers/RecoveringThread.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace mirel::ui {

class TfrmRecoverySummary : public QDialog {
  Q_OBJECT
public:
  // reportFolder: where the save dialog starts.
  TfrmRecoverySummary(std::vector<TRecoveredFile> results, bool stopped, const QString& reportFolder,
                      QWidget* parent = nullptr);

  // "2 files recovered, 1 incomplete, 0 failed, 3 skipped": only complete
  // files count as recovered.
  static QString CountsText(const std::vector<TRecoveredFile>& results);

  // Asks for a file name and writes the report there.
  void SaveReport();

  QLabel* CountsLabel;
  QPlainTextEdit* ProblemsText;
  QPushButton* SaveReportButton;
  QPushButton* CloseButton;

private:
  std::vector<TRecoveredFile> Results;
  QString ReportFolder;
};

}  // namespace mirel::ui
