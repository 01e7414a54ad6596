#pragma once
// The questions the windows ask, behind one replaceable seam so that tests
// can answer them without a person at the screen.
#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace mirel::ui {

// The answers to "this file exists already": for this file or for every
// file of the run that follows.
enum class TExistsChoice { Overwrite, OverwriteAll, Skip, SkipAll, Rename, RenameAll, Cancel };

struct TDialogs {
  std::function<QMessageBox::StandardButton(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                            const QString& text, QMessageBox::StandardButtons buttons)>
      Message;
  // The folder the user picked, empty when cancelled.
  std::function<QString(QWidget* parent, const QString& title, const QString& start)> ChooseFolder;
  // Another name for a file, empty when cancelled.
  std::function<QString(QWidget* parent, const QString& preset)> SaveFileName;
  // What to do with a recovered file whose name is taken at path.
  std::function<TExistsChoice(QWidget* parent, const QString& path)> AskExists;
  // An image file to open, empty when cancelled.
  std::function<QString(QWidget* parent, const QString& start)> OpenImageFile;
  // Shows a dialog of the program's own modally and returns when it closes.
  std::function<void(QDialog& dialog)> ShowModal;
};

// The process-wide dialogs; real dialogs unless a test replaced them.
TDialogs& Dialogs();

// Runs fn on the main thread and returns when it has run; runs it at once
// when called there.
void RunOnMainThread(const std::function<void()>& fn);

// Keeps the main thread's events flowing until done() holds; workers that
// hand work to the main thread can finish while the caller waits for them.
void WaitWithEvents(const std::function<bool()>& done);

}  // namespace mirel::ui
