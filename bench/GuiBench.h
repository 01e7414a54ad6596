#pragma once
// What the desktop program's benchmarks share: a FAT32 image of many small
// deleted files made with mtools, and the engine started on one volume with
// every message box answered at once.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "ui/Dialogs.h"

namespace mirel::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// What the image's deletion leaves: the folders with their files deleted, or
// nothing (whole folders deleted).
enum class TDeleted { FilesOnly, Folders };

// folders x files small files in dir/big.img; false when a tool failed.
inline bool MakeDeletedFilesImage(const std::filesystem::path& dir, int folders, int files, TDeleted deleted) {
  const std::string n = std::to_string(folders);
  const std::string removal =
      deleted == TDeleted::Folders
          ? "for d in $(seq 1 " + n + "); do echo ::/dir$d; done | MTOOLS_SKIP_CHECK=1 xargs mdeltree -i big.img"
          : "for d in $(seq 1 " + n + "); do MTOOLS_SKIP_CHECK=1 mdel -i big.img \"::/dir$d/*\"; done";
  const std::string script = "set -e; cd '" + dir.string() + "'; mkdir t; for d in $(seq 1 " + n +
                             "); do mkdir t/dir$d; for f in $(seq 1 " + std::to_string(files) +
                             "); do echo \"file $d $f\" > t/dir$d/file$f.txt; done; done; "
                             "mkfs.fat -C -F 32 -s 1 big.img 262144 >/dev/null; "
                             "MTOOLS_SKIP_CHECK=1 mcopy -s -i big.img t/* ::/; " +
                             removal;
  setenv("MIREL_BENCH_SCRIPT", script.c_str(), 1);
  return std::system("bash -c \"$MIREL_BENCH_SCRIPT\"") == 0;
}

// The engine on image alone, its debug log in dir.
inline TDiskObject* StartEngineOn(const std::filesystem::path& image, const std::filesystem::path& dir) {
  SetDebugLogPath((dir / "debug.log").string());
  StartEngine();
  CreateRecoveryManager({image.string()}, false);
  ui::Dialogs().Message = [](QWidget*, QMessageBox::Icon, const QString&, const QString&,
                             QMessageBox::StandardButtons) { return QMessageBox::Ok; };
  return RecoveryManager().DiskList[0];
}

}  // namespace mirel::bench
