#include "cli/ScanSession.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/UpdateView.h"
#include "engine/ScanJob.h"
#include "platform/Event.h"
#include "workers/Digests.h"

namespace mirel::cli {

namespace {

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int) { Interrupted = 1; }

}  // namespace

TInterruptGuard::TInterruptGuard() {
  Interrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &OldInt);
  sigaction(SIGTERM, &sa, &OldTerm);
}

TInterruptGuard::~TInterruptGuard() {
  sigaction(SIGINT, &OldInt, nullptr);
  sigaction(SIGTERM, &OldTerm, nullptr);
}

bool TInterruptGuard::Requested() const { return Interrupted != 0; }

namespace {

// Draws "scanning NAME: 42%" on a terminal, at most once per percent.
class TProgressBar : public TJobEvents {
public:
  TProgressBar(std::ostream& err, bool show) : Err(err), Show(show) {}
  void ScanProgress(TDiskObject* disk, int64_t done, int64_t total) override {
    int pct = ProgressPercent(done, total);
    if (!Show || pct == Last.exchange(pct)) return;
    Err << "\rscanning " << PrintableName(disk->Name) << ": " << pct << "% " << std::flush;
  }
  void JobDone(const TJobResult&) override { Ended.Set(); }
  void Finish() {
    if (Show && Last >= 0) Err << "\r\033[K" << std::flush;
  }
  // Set when the scan ends, so that the wait for it ends at once.
  TEvent Ended;

private:
  std::ostream& Err;
  bool Show;
  std::atomic<int> Last{-1};
};

}  // namespace

std::string Megabytes(int64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return buf;
}

std::string AttributeLetters(uint32_t a) {
  std::string s = "----";
  if (a & faReadOnly) s[0] = 'r';
  if (a & faHidden) s[1] = 'h';
  if (a & faSysFile) s[2] = 's';
  if (a & faArchive) s[3] = 'a';
  return s;
}

TFileInfo* FindByAddress(const TDiskObject& disk, const std::string& given) {
  if (given.size() < 2 || given[0] != '@') return nullptr;
  const std::string address = given.substr(1);
  for (const TDiskItems* list : {&disk.Files, &disk.Folders})
    for (TFileInfo* e : *list)
      if (e->FsInfo && e->FsInfo->Address() == address) return e;
  return nullptr;
}

bool ReadHashOption(const TCliArgs& args, std::vector<std::string>& names, TCliContext& ctx) {
  names.clear();
  if (!args.Has("--hash")) return true;
  std::optional<std::vector<std::string>> parsed = ParseHashNames(args.Value("--hash"));
  if (!parsed) {
    ctx.Err << "mirel: --hash takes md5, sha1 and sha256, comma-separated, each once\n";
    return false;
  }
  names = std::move(*parsed);
  return true;
}

bool ApplySourceOptions(const TCliArgs& args, std::vector<std::string>& sources, TCliContext& ctx) {
  if (args.Has("--offset")) {
    if (sources.empty()) {
      ctx.Err << "mirel: --offset needs a SOURCE\n";
      return false;
    }
    const std::string sectors = args.Value("--offset");
    if (sectors.empty() || sectors.size() > 15 || sectors.find_first_not_of("0123456789") != std::string::npos) {
      ctx.Err << "mirel: --offset takes a number of 512-byte sectors, not '" << PrintableName(sectors) << "'\n";
      return false;
    }
    for (std::string& source : sources) {
      if (source.find('#') != std::string::npos && source.rfind('#') > source.rfind('/') + 1) {
        const std::string base = source.substr(0, source.rfind('#'));
        if (std::error_code ec; !std::filesystem::exists(source, ec) && std::filesystem::exists(base, ec)) {
          ctx.Err << "mirel: --offset and a partition number (" << PrintableName(source) << ") exclude each other\n";
          return false;
        }
      }
      source += "@" + std::to_string(std::stoll(sectors));
    }
  }
  return true;
}

TScanSession::~TScanSession() {
  // Still open are the volume's handle and the debug log; both close with the process.
  if (Ctx.LeaveCatalogueToExit) static_cast<void>(Manager.release());
}

TScanSession::TScanSession(const std::string& source, TCliContext& ctx) : Ctx(ctx) {
  Manager = std::make_unique<TRecoveryManager>(std::vector<std::string>{source}, false);
  for (const TRejectedSource& r : Manager->DiskList.Rejected)
    Ctx.Err << "mirel: " << PrintableName(r.Path) << ": " << r.Reason << "\n";
  TDiskObject* d = Manager->DiskList[0];
  if (!d) return;
  if (!d->OpenError.empty()) {
    Ctx.Err << "mirel: " << PrintableName(d->Path) << ": " << d->OpenError << "\n";
    return;
  }
  if (!d->Scaner) {
    Ctx.Err << "mirel: " << PrintableName(d->Path) << ": no FAT, exFAT or NTFS file system found\n";
    return;
  }
  if (!d->Scaner->Init()) {
    Ctx.Err << "mirel: " << PrintableName(d->Path) << ": the " << d->FileSystemName
            << " file system cannot be read (details in " << DebugLogPath() << ")\n";
    return;
  }
  Disk = d;
}

bool TScanSession::Scan(bool quick, bool lostFolders) {
  TProgressBar bar(Ctx.Err, Ctx.ErrIsTerminal);
  TScanJob job(*Disk, TScanOptions{.Quick = quick, .LostFolders = !quick && lostFolders}, bar);
  bool stopped = false;
  {
    TInterruptGuard interrupt;
    job.Start();
    while (!bar.Ended.Wait(std::chrono::milliseconds(20))) {
      if (interrupt.Requested() && !stopped) {
        stopped = true;
        job.RequestStop();
      }
    }
    stopped = job.Wait().End == TJobEnd::Cancelled;
  }
  bar.Finish();
  if (stopped) Ctx.Err << "mirel: scan stopped; showing what was found so far\n";
  ReportProblems();
  return stopped;
}

void TScanSession::ReportProblems() {
  Problems = exitOk;
  if (const std::string note = CutShortNote(*Disk); !note.empty()) {
    Ctx.Err << "mirel: " << PrintableName(Disk->Path) << ": " << note << "\n";
    Problems = exitIncomplete;
  }
  const TDiskScaner& scaner = *Disk->Scaner;
  for (const std::string& w : scaner.ScanWarnings) {
    Ctx.Err << "mirel: " << PrintableName(Disk->Path) << ": warning: " << PrintableName(w) << "\n";
    Problems = exitIncomplete;
  }
  if (!scaner.ScanFailure.empty()) {
    Ctx.Err << "mirel: " << PrintableName(Disk->Path) << ": cannot scan: " << PrintableName(scaner.ScanFailure) << "\n";
    Problems = exitSource;
  }
}

}  // namespace mirel::cli
