// Scans a FAT32 volume of 50,000 files (half of them deleted) in both modes
// and reads every deleted file back; prints files per second and peak memory.
// The volume is made once by make-fat-bench-image.sh and kept in the build tree.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Engine.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryManager.h"
#include "core/RecoveryStream.h"

using namespace mirel;
using Clock = std::chrono::steady_clock;

namespace {

double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

int main() {
  const std::filesystem::path image = std::filesystem::path(MIREL_BENCH_OUT) / "fat32-50k.img";
  if (!std::filesystem::exists(image)) {
    std::printf("making %s (once; about two minutes)\n", image.c_str());
    std::fflush(stdout);
    const std::string cmd = "bash '" MIREL_BENCH_DIR "/make-fat-bench-image.sh' '" + image.string() + "'";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "cannot make the benchmark volume\n");
      return 1;
    }
  }
  StartEngine();
  TRecoveryManager manager({image.string()}, false);
  TDiskObject* disk = manager.DiskList[0];
  if (!disk || !disk->Scaner) {
    std::fprintf(stderr, "%s: no FAT volume\n", image.c_str());
    return 1;
  }
  const double before = PeakMiB();
  std::printf("FAT32 scan of %s (%.0f MiB)\n", image.filename().c_str(), disk->TotalSize / 1048576.0);
  int64_t mostEntries = 0;
  for (bool quick : {true, false}) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
      disk->Scaner->Options.Quick = quick;
      auto t = Clock::now();
      disk->Scaner->ScanForFiles();
      best = std::min(best, Seconds(t));
    }
    const int files = disk->Files.Count();
    mostEntries = std::max<int64_t>(mostEntries, files + disk->Folders.Count());
    std::printf("  %-5s mode: %6d files, %4d folders in %.3f s: %8.0f files/s\n", quick ? "quick" : "long", files,
                disk->Folders.Count(), best, files / best);
  }
  const double grown = (PeakMiB() - before) * 1048576.0;
  std::printf("  peak memory: %.1f MiB (%.1f MiB before the scans)\n", PeakMiB(), before);
  std::printf("  peak memory per catalogued entry: %.0f bytes\n",
              mostEntries ? grown / static_cast<double>(mostEntries) : 0.0);

  // Read back every deleted file through its recovery stream.
  disk->Scaner->Options.Quick = true;
  disk->Scaner->ScanForFiles();
  std::vector<char> buf(64 * 1024);
  int64_t bytes = 0;
  auto t = Clock::now();
  for (TFileInfo* e : disk->Files) {
    auto stream = CreateRecoveryStream(e);
    for (size_t n; stream && (n = stream->Read(buf.data(), buf.size())) > 0;) bytes += static_cast<int64_t>(n);
  }
  const double s = Seconds(t);
  std::printf("  read back %d deleted files (%.1f MiB) in %.3f s: %.0f files/s, %.1f MiB/s\n", disk->Files.Count(),
              bytes / 1048576.0, s, disk->Files.Count() / s, bytes / 1048576.0 / s);
  return 0;
}
