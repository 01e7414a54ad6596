// A recovery from the main window against `mirel recover` of the same volume:
// recovers every deleted file of the volume both ways (best of two) and
// prints the times and their ratio. gui_recover_bench MIREL IMAGE uses the
// given volume; gui_recover_bench MIREL [FOLDERS FILES] makes a FAT32 image
// with that many small deleted files.
#include <QApplication>
#include <QItemSelectionModel>
#include <QToolButton>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "GuiBench.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/MainForm.h"
#include "workers/ViewUpdater.h"

namespace fs = std::filesystem;
using namespace mirel::bench;

namespace {

size_t CountFiles(const fs::path& dir) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: gui_recover_bench MIREL [IMAGE | FOLDERS FILES]\n");
    return 1;
  }
  const std::string mirel = argv[1];
  const fs::path dir = fs::temp_directory_path() / "mirel-gui-recover-bench";
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path image = dir / "big.img";
  if (argc == 3) {
    image = argv[2];
  } else {
    const int folders = argc > 3 ? std::atoi(argv[2]) : 20, files = argc > 3 ? std::atoi(argv[3]) : 1000;
    if (!MakeDeletedFilesImage(dir, folders, files, TDeleted::FilesOnly) || !fs::exists(image)) {
      std::fprintf(stderr, "gui_recover_bench: cannot make the image\n");
      return 1;
    }
  }
  // Each run writes into a folder of its own and nothing is deleted until the
  // end: a file system that has just freed thousands of inodes creates new
  // ones more slowly, which would favour whichever run came first.
  int runs = 0;
  auto nextOut = [&] { return dir / ("out" + std::to_string(runs++)); };
  fs::path out;
  double cli = 1e9, window = 1e9;
  size_t cliFiles = 0, windowFiles = 0;
  auto runCommand = [&]() -> bool {
    out = nextOut();
    const std::string command =
        "'" + mirel + "' recover '" + image.string() + "' --to '" + out.string() + "' 2>/dev/null";
    auto t0 = Clock::now();
    const int status = std::system(command.c_str());
    cli = std::min(cli, Seconds(t0, Clock::now()));
    cliFiles = CountFiles(out);
    return WEXITSTATUS(status) <= 3;
  };
  if (!runCommand()) {
    std::fprintf(stderr, "gui_recover_bench: mirel recover failed\n");
    return 1;
  }

  mirel::TDiskObject* disk = StartEngineOn(image, dir);
  mirel::ui::Dialogs().ChooseFolder = [&out](QWidget*, const QString&, const QString&) {
    return QString::fromStdString(out.string());
  };
  mirel::ui::Dialogs().ShowModal = [](QDialog&) {};
  {
    mirel::TViewUpdater updating;
    {
      mirel::ui::TfrmMainForm w(updating, QString::fromStdString(disk->Name));
      w.show();
      w.ScanButton->click();
      w.WaitForScan();
      for (int round = 0; round < 2; ++round) {
        out = nextOut();
        fs::create_directories(out);
        // The root's folders and files, as `mirel recover` takes them.
        w.FolderTree->setCurrentItem(w.FolderTree->topLevelItem(0));
        w.SelectAll();
        app.processEvents();
        auto t0 = Clock::now();
        w.RecoverSelection();
        window = std::min(window, Seconds(t0, Clock::now()));
        windowFiles = CountFiles(out);
        if (round == 0 && !runCommand()) return 1;
      }
    }
  }
  std::printf("gui_recover_bench: %s\n", image.string().c_str());
  std::printf("  mirel recover:            %.3f s (%zu files)\n", cli, cliFiles);
  std::printf("  recovery in the window:   %.3f s (%zu files)\n", window, windowFiles);
  std::printf("  ratio window/command:     %.2f (target at most 1.30)\n", window / cli);
  mirel::DestroyRecoveryManager();
  fs::remove_all(dir);
  return windowFiles == cliFiles ? 0 : 1;
}
