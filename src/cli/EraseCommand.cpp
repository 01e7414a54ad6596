#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <istream>
#include <ostream>
#include <thread>

#include "cli/Cli.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "engine/EraseJob.h"
#include "erase/TempFileRegistry.h"
#include "workers/EraseTarget.h"

namespace fs = std::filesystem;

namespace mirel::cli {

namespace {

volatile std::sig_atomic_t Interrupted = 0;

// The first Ctrl+C or SIGTERM stops the erase after the current write, which
// then removes its files itself; a second one ends the process at once,
// removing them here.
void OnSignal(int) {
  if (Interrupted) {
    UnlinkRegisteredTempFiles();
    _exit(exitStopped);
  }
  Interrupted = 1;
}

class TEraseBar : public TJobEvents {
public:
  TEraseBar(std::ostream& err, bool show, std::string name) : Err(err), Show(show), Name(std::move(name)) {}
  void EraseProgress(TDiskObject*, int64_t done, int64_t total) override {
    int pct = ProgressPercent(done, total);
    if (!Show || pct == Last.exchange(pct)) return;
    Err << "\rerasing " << Name << ": " << pct << "% " << std::flush;
  }
  void Finish() {
    if (Show && Last >= 0) Err << "\r\033[K" << std::flush;
  }

private:
  std::ostream& Err;
  bool Show;
  std::string Name;
  std::atomic<int> Last{-1};
};

int64_t FreeBytesAt(const std::string& mountPoint) {
  struct statvfs st {};
  if (::statvfs(mountPoint.c_str(), &st) != 0 || st.f_blocks == 0) return -1;
  return static_cast<int64_t>(st.f_bfree) * static_cast<int64_t>(st.f_frsize ? st.f_frsize : st.f_bsize);
}

}  // namespace

int CmdErase(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.size() != 1) {
    ctx.Err << "mirel: erase needs one SOURCE or MOUNTPOINT\n" << Usage();
    return exitUsage;
  }
  const std::string& given = args.Positional[0];
  TEraseTarget target;
  std::string why;
  if (!FindEraseTarget(given, ReadMountTable(), target, why)) {
    ctx.Err << "mirel: " << PrintableName(why) << "\n";
    return exitSource;
  }

  // The volume as the engine sees it: read from what it was mounted from
  // where that can be read, otherwise known only by its mount.
  std::error_code ec;
  std::string source = fs::is_directory(given, ec) ? target.Source : fs::absolute(given, ec).string();
  std::unique_ptr<TRecoveryManager> manager;
  TDiskObject* disk = nullptr;
  if (!source.empty() && source[0] == '/' && fs::exists(source, ec)) {
    manager = std::make_unique<TRecoveryManager>(std::vector<std::string>{source}, false);
    disk = manager->DiskList[0];
    if (disk && (!disk->OpenError.empty() || disk->FileSystem == fsNone)) disk = nullptr;
  }
  std::unique_ptr<TDiskObject> mountOnly;
  if (!disk) {
    if (target.FileSystem == fsNone) {
      ctx.Err << "mirel: " << PrintableName(target.MountPoint) << ": not a FAT, exFAT or NTFS volume (mounted as "
              << PrintableName(target.FsType) << ")\n";
      return exitSource;
    }
    mountOnly = std::make_unique<TDiskObject>(fs::path(target.MountPoint).filename().string(), "", 2);
    mountOnly->FileSystem = target.FileSystem;
    mountOnly->FileSystemName = FindFileSystem(target.FileSystem)->Family;
    disk = mountOnly.get();
  }

  int64_t free = FreeBytesAt(target.MountPoint);
  const std::string name = PrintableName(disk->Name);
  const TFileSystemDriver* driver = FindFileSystem(disk->FileSystem);
  ctx.Err << "This fills the free space of " << name << " (" << disk->FileSystemName << ", mounted at "
          << PrintableName(target.MountPoint) << (free >= 0 ? ", " + Megabytes(free) + " free" : "")
          << ") with random data" << (driver ? driver->EraseNote : std::string())
          << ".\nDeleted files on it can no longer be recovered; live files are not touched.\n";
  if (!args.Has("--yes")) {
    if (!ctx.In || !ctx.InIsTerminal) {
      ctx.Err << "mirel: erase asks for confirmation on a terminal; give --yes to erase without asking\n";
      return exitUsage;
    }
    ctx.Err << "Type the volume name (" << name << ") to erase it: " << std::flush;
    std::string answer;
    if (!std::getline(*ctx.In, answer) || answer != disk->Name) {
      ctx.Err << "mirel: nothing erased\n";
      return exitUsage;
    }
  }

  TEraseBar bar(ctx.Err, ctx.ErrIsTerminal, name);
  Interrupted = 0;
  struct sigaction sa {
  }, oldInt{}, oldTerm{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);

  auto started = std::chrono::steady_clock::now();
  TEraseJob job(*disk, target.MountPoint, bar);
  job.Start();
  while (!job.Finished()) {
    if (Interrupted) job.RequestStop();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const TJobResult result = job.Wait();
  const bool stopped = result.End == TJobEnd::Cancelled;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  CompactTempFileRegistry();
  bar.Finish();

  char time[32];
  std::snprintf(time, sizeof time, "%.1f s", seconds);
  ctx.Err << (stopped ? "erase stopped by the user: " : "erased " + name + ": ") << job.Worker().BytesWritten
          << " bytes written, " << job.Worker().FilesCreated << " temporary files created and removed, " << time
          << "\n";
  if (stopped) return exitStopped;
  if (result.End == TJobEnd::Failed) {
    ctx.Err << "mirel: " << PrintableName(target.MountPoint) << ": " << result.Failure << "\n";
    return exitSource;
  }
  return exitOk;
}

}  // namespace mirel::cli
