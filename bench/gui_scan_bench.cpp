// A scan shown in the main window against the same scan without a window:
// makes a FAT32 image with many deleted files, scans it both ways (best of
// three) and prints the times and their ratio.
#include <QApplication>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "GuiBench.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "engine/ScanJob.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/JobViewEvents.h"
#include "ui/MainForm.h"
#include "workers/ViewUpdater.h"

namespace fs = std::filesystem;
using namespace mirel::bench;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const fs::path dir = fs::temp_directory_path() / "mirel-gui-bench";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // gui_scan_bench IMAGE scans a given volume; gui_scan_bench [FOLDERS FILES]
  // makes one with that many deleted files.
  fs::path image = dir / "big.img";
  if (argc == 2) {
    image = argv[1];
  } else {
    const int folders = argc > 2 ? std::atoi(argv[1]) : 400, files = argc > 2 ? std::atoi(argv[2]) : 100;
    if (!MakeDeletedFilesImage(dir, folders, files, TDeleted::Folders) || !fs::exists(image)) {
      std::fprintf(stderr, "gui_scan_bench: cannot make the image\n");
      return 1;
    }
  }
  mirel::TDiskObject* disk = StartEngineOn(image, dir);

  double plain = 1e9, shown = 1e9;
  int plainFound = 0, shownRows = 0;
  for (int round = 0; round < 3; ++round) {
    // Without a window: the query filled as the command line's scan fills it.
    mirel::TViewUpdater bare;
    bare.SetDisk(disk);
    bare.Query.ClearResults();
    bare.Query.ClearDisks();
    disk->ClearCatalogue();
    bare.Query.AddDisk(disk);
    auto t0 = Clock::now();
    mirel::ui::TJobViewEvents events(bare);
    mirel::TScanJob(*disk, {}, events).Run({});
    plain = std::min(plain, Seconds(t0, Clock::now()));
    plainFound = disk->Files.Count();
  }
  for (int round = 0; round < 3; ++round) {
    mirel::TViewUpdater updating;
    // The last round's catalogue is freed outside the timing, as above.
    disk->ClearCatalogue();
    {
      mirel::ui::TfrmMainForm w(updating, QString::fromStdString(disk->Name));
      w.resize(820, 520);
      w.show();
      app.processEvents();
      auto t0 = Clock::now();
      w.ScanButton->click();
      w.WaitForScan();
      shown = std::min(shown, Seconds(t0, Clock::now()));
      shownRows = disk->Files.Count();
    }
  }
  std::printf("gui_scan_bench: %s\n", image.string().c_str());
  std::printf("  engine scan:          %.3f s (%d files)\n", plain, plainFound);
  std::printf("  scan in the window:   %.3f s (%d files)\n", shown, shownRows);
  std::printf("  ratio window/engine:  %.2f (target at most 1.30)\n", shown / plain);
  mirel::DestroyRecoveryManager();
  fs::remove_all(dir);
  return 0;
}
