#include "ui/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QThread>

namespace mirel::ui {

TDialogs& Dialogs() {
  static TDialogs d{
      [](QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
         QMessageBox::StandardButtons buttons) {
        QMessageBox box(icon, title, text, buttons, parent);
        return static_cast<QMessageBox::StandardButton>(box.exec());
      },
      [](QWidget* parent, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, title, start);
      },
      [](QWidget* parent, const QString& preset) { return QFileDialog::getSaveFileName(parent, QString(), preset); },
      [](QDialog& dialog) { dialog.exec(); },
  };
  return d;
}

void RunOnMainThread(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

void WaitWithEvents(const std::function<bool()>& done) {
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!done()) QThread::msleep(2);
  }
}

}  // namespace mirel::ui
