// mirel-gui [SOURCE...]: the desktop program. The volume first named on the
// command line is selected at start; the machine's block devices follow it.
#include <QApplication>
#include <cstdio>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "ui/IconList.h"
#include "ui/MainForm.h"
#include "workers/UpdatingThread.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("mirel"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane Mirel"));
  mirel::InitDebugLog();
  mirel::StartEngine();

  std::vector<std::string> sources;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) sources.push_back(args[i].toStdString());
  mirel::CreateRecoveryManager(sources, true);
  mirel::TRecoveryManager& manager = mirel::RecoveryManager();
  for (const mirel::TRejectedSource& r : manager.DiskList.Rejected)
    std::fprintf(stderr, "mirel-gui: %s: %s\n", r.Path.c_str(), r.Reason.c_str());

  QString initial;
  if (!sources.empty() && manager.DiskList.Count() > 0) initial = QString::fromStdString(manager.DiskList[0]->Name);

  mirel::ui::SetUpIconTheme();
  int status;
  {
    mirel::TUpdatingThread updating;
    mirel::SetUpdatingThread(&updating);
    {
      mirel::ui::TfrmMainForm window(updating, initial);
      window.show();
      status = app.exec();
    }
    mirel::SetUpdatingThread(nullptr);
  }
  mirel::DestroyRecoveryManager();
  return status;
}
