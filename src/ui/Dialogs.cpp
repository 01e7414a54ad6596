#include "ui/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QThread>

namespace mirel::ui {

namespace {

TExistsChoice AskExistsBox(QWidget* parent, const QString& path) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"),
                  QStringLiteral("File %1 already exists.\nOverwrite?").arg(path), QMessageBox::NoButton, parent);
  QAbstractButton* yes = box.addButton(QMessageBox::Yes);
  QAbstractButton* yesAll = box.addButton(QMessageBox::YesToAll);
  QAbstractButton* no = box.addButton(QMessageBox::No);
  QAbstractButton* noAll = box.addButton(QMessageBox::NoToAll);
  QAbstractButton* rename = box.addButton(QStringLiteral("&Rename"), QMessageBox::ActionRole);
  QAbstractButton* renameAll = box.addButton(QStringLiteral("Rename A&ll"), QMessageBox::ActionRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(static_cast<QPushButton*>(no));
  rename->setToolTip(QStringLiteral("Write the recovered file under a numbered name"));
  box.exec();
  QAbstractButton* c = box.clickedButton();
  if (c == yes) return TExistsChoice::Overwrite;
  if (c == yesAll) return TExistsChoice::OverwriteAll;
  if (c == no) return TExistsChoice::Skip;
  if (c == noAll) return TExistsChoice::SkipAll;
  if (c == rename) return TExistsChoice::Rename;
  if (c == renameAll) return TExistsChoice::RenameAll;
  return TExistsChoice::Cancel;
}

}  // namespace

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
      AskExistsBox,
      [](QWidget* parent, const QString& start) {
        return QFileDialog::getOpenFileName(
            parent, QStringLiteral("Open Image"), start,
            QStringLiteral("Disk images (*.img *.ima *.dd *.raw *.bin *.iso *.001 *.e01 *.E01 *.vhd *.vhdx *.vmdk "
                           "*.qcow2);;All files (*)"));
      },
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
