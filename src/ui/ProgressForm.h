#pragma once
// The modal dialog shown while a scan or a recovery runs: what is going on,
// how far it is (files found and percent; files and bytes done of the
// total), a bar, and Cancel. What it shows is read every 100 ms from the
// workers' counters, so no worker waits for the window to draw. It also carries the recovery's handlers (the
// current file, the questions about existing files, the end of the run) and
// the end-of-scan message.
#include <QDialog>
#include <QProgressBar>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "core/FileInfo.h"
#include "ui/Dialogs.h"
#include "workers/DestinationPolicy.h"

class QLabel;
class QPushButton;
class QTimer;

namespace mirel {
class TRecoveryJob;
}

namespace mirel::ui {

class TfrmMainForm;

enum TOperation : int { opNone = 0, opScan = 1, opErase = 2, opRecover = 3 };

// A progress bar that can run as a busy indicator.
class TMarqueeProgressBar : public QProgressBar {
  Q_OBJECT
public:
  using QProgressBar::QProgressBar;
  bool Active() const { return FActive; }
  void SetActive(bool active);
  int AnimationSpeed() const { return FAnimationSpeed; }
  // Kept for the caller; the style decides how fast the indicator moves.
  void SetAnimationSpeed(int ms) { FAnimationSpeed = ms; }

private:
  bool FActive = false;
  int FAnimationSpeed = 60;
};

class TfrmProgressForm : public QDialog {
  Q_OBJECT
public:
  explicit TfrmProgressForm(TfrmMainForm* main);

  QLabel* ActivityLabel;
  // "1,234 files found, 42%" or "12 of 100 files, 1.2 MB of 3.4 MB".
  QLabel* CountsLabel;
  QProgressBar* Bar;
  TMarqueeProgressBar* BusyBar;
  QPushButton* CancelButton;

  // Set by the main window for a recovery, which this dialog starts when it
  // shows; cleared when it ends.
  TRecoveryJob* RecoveryJob = nullptr;
  // Whether the recovery has run its end handler.
  std::atomic<bool> RecoveryFinished{false};

  // Worker-side handlers. The start of a file is only noted; the question
  // and the end run on the main thread while the worker waits.
  void ScanDoneHandler();
  void FileStartHandler(const std::string& path, TFileInfo* entry);
  // A file of the recovery exists already: asks whether to overwrite it,
  // write under a numbered name, or skip it; an answer "to all" holds for
  // the rest of the run without asking again. Cancel stops the run.
  TExistsAnswer FileExistsHandler(const std::string& path);
  void RecoveryDoneHandler();

  // How the last scan shown here ended.
  enum TScanEnd { seRunning, seCompleted, seCancelled, seFailed };
  TScanEnd ScanEnd = seRunning;

  // Cancel: stops the running operation and closes the dialog.
  void CancelClick();
  // The scan ended without its end report (the volume could not be read).
  void ScanFailed(const QString& why);

  // The shown path, shortened to fit the status line.
  static QString ShortenPath(const QString& path, const QFontMetrics& metrics, int width);

protected:
  void showEvent(QShowEvent* event) override;
  // The close box and Esc cancel like the button: the dialog never goes away
  // while a worker still needs it.
  void reject() override;

private:
  void FormShow();
  // Shows the counters of the running scan or recovery.
  void Tick();
  TfrmMainForm* Main;
  QTimer* Ticker;
  std::mutex CurrentLock;
  std::string CurrentFile;
  bool CurrentShown = true;
  // An answer the user gave "to all" during this recovery.
  std::optional<TExistsChoice> AnswerForAll;
};

}  // namespace mirel::ui
