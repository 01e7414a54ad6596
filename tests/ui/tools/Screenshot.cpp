// mirel-screenshot IMAGE OUT.png [dark]: opens the main window on IMAGE,
// scans it, shows its first folder and saves a picture of the window (for the
// README); "dark" draws it with a dark Fusion palette.
#include <QApplication>
#include <QSettings>
#include <QStyle>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>
#include <string>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "ui/Dialogs.h"
#include "ui/IconList.h"
#include "ui/MainForm.h"
#include "workers/ViewUpdater.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "dark")) {
    std::fprintf(stderr, "usage: mirel-screenshot IMAGE OUT.png [dark]\n");
    return 1;
  }
  // The picture shows the window as it first opens, not as a user left it.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication::setStyle(QStringLiteral("Fusion"));
  if (argc == 4) {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::AlternateBase, QColor(50, 50, 50));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    dark.setColor(QPalette::Link, QColor(102, 170, 240));
    dark.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    dark.setColor(QPalette::ToolTipText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    QApplication::setPalette(dark);
  }
  mirel::SetDebugLogPath("/dev/null");
  mirel::StartEngine();
  mirel::CreateRecoveryManager({argv[1]}, false);
  mirel::ui::SetUpIconTheme();
  mirel::ui::Dialogs().Message = [](QWidget*, QMessageBox::Icon, const QString&, const QString&,
                                    QMessageBox::StandardButtons) { return QMessageBox::Ok; };
  mirel::TViewUpdater updating;
  bool ok;
  {
    mirel::ui::TfrmMainForm w(updating, QString::fromStdString(mirel::RecoveryManager().DiskList[0]->Name));
    w.resize(980, 560);
    w.show();
    w.ScanButton->click();
    w.WaitForScan();
    w.ExpandTree();
    if (QTreeWidgetItem* root = w.FolderTree->topLevelItem(0))
      w.FolderTree->setCurrentItem(root->childCount() ? root->child(0) : root);
    w.FileList->selectRow(0);
    for (int i = 0; i < 10; ++i) app.processEvents();
    ok = w.grab().save(QString::fromLocal8Bit(argv[2]));
  }
  mirel::DestroyRecoveryManager();
  return ok ? 0 : 1;
}
