#pragma once
// The questions the windows ask, behind one replaceable seam so that tests
// can answer them without a person at the screen.
#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace mirel::ui {

struct TDialogs {
  std::function<QMessageBox::StandardButton(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                            const QString& text, QMessageBox::StandardButtons buttons)>
      Message;
  // The folder the user picked, empty when cancelled.
  std::function<QString(QWidget* parent, const QString& title, const QString& start)> ChooseFolder;
  // Another name for a file, empty when cancelled.
  std::function<QString(QWidget* parent, const QString& preset)> SaveFileName;
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
