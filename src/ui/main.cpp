// mirel-gui [SOURCE...]: the desktop program. The volume first named on the
// command line is selected at start; the machine's block devices follow it.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <optional>
#include <string>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "ui/IconList.h"
#include "ui/MainForm.h"
#include "workers/ViewUpdater.h"

namespace {

const char* const kUsage = "usage: mirel-gui [SOURCE...]\n";

const char* const kHelp =
    "The desktop program of mirel: scan a volume for deleted files and folders,\n"
    "browse, preview and recover them. The first SOURCE is selected at start; the\n"
    "machine's block devices are listed after the sources.\n"
    "\n"
    "Positionals:\n"
    "  SOURCE ...                  image files or devices, or IMAGE#N for partition N\n"
    "\n"
    "Options:\n"
    "  -h,--help                   print this help and exit\n"
    "  --version                   print the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are taken as well; a SOURCE\n"
    "that starts with '-' follows '--'.\n"
    "Exit status: 0 when the window is closed; 1 usage error.\n";

// Help and version need no display, so they are answered before Qt starts.
std::optional<int> AnswerInfoOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") break;
    if (a == "-h" || a == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    }
    if (a == "--version") {
      std::printf("mirel-gui %s\n", MIREL_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

// The sources among the arguments Qt left; an option of neither is a usage
// error, not a source that cannot be found.
std::optional<std::vector<std::string>> Sources(const QStringList& args) {
  std::vector<std::string> sources;
  bool optionsEnd = false;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const std::string a = args[i].toStdString();
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "mirel-gui: unknown option '%s'\n%s", a.c_str(), kUsage);
      return std::nullopt;
    } else {
      sources.push_back(a);
    }
  }
  return sources;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::optional<int> status = AnswerInfoOption(argc, argv)) return *status;
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("mirel"));
  QApplication::setApplicationName(QStringLiteral("mirel"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane Mirel"));
  QApplication::setApplicationVersion(QStringLiteral(MIREL_VERSION));
  // Ties the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.mirel"));
  const std::optional<std::vector<std::string>> sources = Sources(QApplication::arguments());
  if (!sources) return 1;
  mirel::InitDebugLog();
  mirel::StartEngine();

  mirel::CreateRecoveryManager(*sources, true);
  mirel::TRecoveryManager& manager = mirel::RecoveryManager();
  for (const mirel::TRejectedSource& r : manager.DiskList.Rejected)
    std::fprintf(stderr, "mirel-gui: %s: %s\n", r.Path.c_str(), r.Reason.c_str());

  QString initial;
  if (!sources->empty() && manager.DiskList.Count() > 0) initial = QString::fromStdString(manager.DiskList[0]->Name);

  mirel::ui::SetUpIconTheme();
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.example.mirel")));
  int status;
  {
    mirel::TViewUpdater updating;
    {
      mirel::ui::TfrmMainForm window(updating, initial);
      window.show();
      // Started from a file manager, standard error is seen by nobody.
      window.SayRejectedSources(manager.DiskList.Rejected);
      status = app.exec();
    }
  }
  mirel::DestroyRecoveryManager();
  return status;
}
