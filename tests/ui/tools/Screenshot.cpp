// mirel-screenshot IMAGE OUT.png: opens the main window on IMAGE, scans it,
// shows its first folder and saves a picture of the window (for the README).
#include <QApplication>
#include <QTreeWidget>
#include <QToolButton>
#include <cstdio>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "ui/Dialogs.h"
#include "ui/IconList.h"
#include "ui/MainForm.h"
#include "workers/UpdatingThread.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: mirel-screenshot IMAGE OUT.png\n");
    return 1;
  }
  mirel::SetDebugLogPath("/dev/null");
  mirel::StartEngine();
  mirel::CreateRecoveryManager({argv[1]}, false);
  mirel::ui::SetUpIconTheme();
  mirel::ui::Dialogs().Message = [](QWidget*, QMessageBox::Icon, const QString&, const QString&,
                                    QMessageBox::StandardButtons) { return QMessageBox::Ok; };
  mirel::TUpdatingThread updating;
  mirel::SetUpdatingThread(&updating);
  bool ok;
  {
    mirel::ui::TfrmMainForm w(updating, QString::fromStdString(mirel::RecoveryManager().DiskList[0]->Name));
    w.resize(820, 520);
    w.show();
    w.BitBtn1->click();
    w.WaitForScanThread();
    w.ExpandTree();
    if (QTreeWidgetItem* root = w.tvDirTree->topLevelItem(0))
      w.tvDirTree->setCurrentItem(root->childCount() ? root->child(0) : root);
    w.lvFileList->selectRow(0);
    for (int i = 0; i < 10; ++i) app.processEvents();
    ok = w.grab().save(QString::fromLocal8Bit(argv[2]));
  }
  mirel::SetUpdatingThread(nullptr);
  mirel::DestroyRecoveryManager();
  return ok ? 0 : 1;
}
