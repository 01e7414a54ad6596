#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sys/stat.h>

#include "cli/FilterOptions.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "platform/Event.h"
#include "platform/Mounts.h"
#include "workers/DestinationPolicy.h"
#include "workers/RecoveredFileWriter.h"
#include "workers/RecoveringThread.h"

namespace fs = std::filesystem;

namespace mirel::cli {

namespace {

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

// Every entry at a path from the volume root (files and folders).
std::vector<PFileInfo> FindEntries(const TDiskObject& disk, std::string path) {
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  while (!path.empty() && path.back() == '/') path.pop_back();
  std::vector<PFileInfo> found;
  for (const TDiskItems* list : {&disk.Folders, &disk.Files})
    for (PFileInfo e : *list)
      if (!IsVolumeRoot(*e) && GetRelativePath(*e) == path) found.push_back(e);
  return found;
}

// The whole tree: what lies in a volume root goes straight into the
// destination; other top-level entries (folders the volume no longer links
// anywhere) keep their own folder.
TDiskItems TopEntries(const TDiskObject& disk, TQueryObject& query) {
  TDiskItems items;
  for (const TDiskItems* list : {&disk.Folders, &disk.Files})
    for (PFileInfo e : *list)
      if (((e->Parent && IsVolumeRoot(*e->Parent)) || (!e->Parent && !IsVolumeRoot(*e))) &&
          (list == &disk.Folders || query.AcceptsInAnyFolder(e)))
        items.Add(e);
  return items;
}

}  // namespace

int CmdRecover(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.empty()) {
    ctx.Err << "mirel: recover needs a SOURCE\n" << Usage();
    return exitUsage;
  }
  std::string dest = args.Value("--to");
  if (dest.empty()) {
    ctx.Err << "mirel: recover needs --to DIR\n" << Usage();
    return exitUsage;
  }
  TOnExists onExists = ctx.InIsTerminal ? TOnExists::Ask : TOnExists::Skip;
  if (args.Has("--on-exists") && !ParseOnExists(args.Value("--on-exists"), onExists)) {
    ctx.Err << "mirel: --on-exists takes ask, overwrite, skip or rename\n";
    return exitUsage;
  }
  if (onExists == TOnExists::Ask && !ctx.InIsTerminal) onExists = TOnExists::Skip;
  TFilterOptions filter;
  std::string error;
  // Here --to names the destination; the upper date bound is --until.
  if (!ParseFilterOptions(args, filter, error, "")) {
    ctx.Err << "mirel: " << error << "\n";
    return exitUsage;
  }
  for (const std::string& w : filter.Warnings) ctx.Err << "mirel: " << w << "\n";
  TQueryObject query;
  query.SetFilter(filter.Filter);

  TScanSession session(args.Positional[0], ctx);
  if (!session.Ok()) return exitSource;

  std::error_code ec;
  fs::create_directories(dest, ec);
  if (!fs::is_directory(dest, ec)) {
    ctx.Err << "mirel: " << dest << ": cannot use as destination folder" << (ec ? ": " + ec.message() : "") << "\n";
    return exitUsage;
  }
  if (IsBlockDevice(session.Disk->Path) && IsOnDevice(dest, session.Disk->Path) && !args.Has("--force")) {
    std::string warn = dest + " lies on a file system mounted from " + session.Disk->Path +
                       "; writing there may overwrite the deleted files you want back.";
    if (AskUser(ctx, warn + " Continue? [y/N] ") != 'y') {
      ctx.Err << "mirel: " << warn << " Choose another folder" << (ctx.InIsTerminal ? "" : ", or give --force") << ".\n";
      return exitUsage;
    }
  }

  if (session.Scan(!args.Has("--all"))) return exitSource;

  TDiskItems items;
  int status = exitOk;
  if (args.Positional.size() > 1) {
    for (size_t i = 1; i < args.Positional.size(); ++i) {
      std::vector<PFileInfo> found = FindEntries(*session.Disk, args.Positional[i]);
      if (found.empty()) {
        ctx.Err << "mirel: " << session.Disk->Path << ": no entry found at " << args.Positional[i] << "\n";
        status = exitSource;
      }
      for (PFileInfo e : found) items.Add(e);
    }
  } else {
    items = TopEntries(*session.Disk, query);
  }

  TRecoveringThread thread(std::move(items));
  thread.DestDir = dest;
  thread.FolderFilter = [&query](const TFileInfo& e) { return query.AcceptsInAnyFolder(const_cast<PFileInfo>(&e)); };
  int written = 0, skipped = 0, damaged = 0;
  std::atomic<int> started{0};
  thread.OnFileStart = [&](const std::string&, PFileInfo) { ++started; };
  thread.OnCreateFile = [&](std::string& path, bool, std::string& why) {
    return CreateDestinationFile(path, onExists, [&](const std::string& p) {
      char c = AskUser(ctx, "\r\033[K" + p + " already exists. Overwrite? [y]es, [n]ew name, [s]kip: ");
      return c == 'y' ? TOnExists::Overwrite : c == 'n' ? TOnExists::Rename : TOnExists::Skip;
    }, why);
  };
  std::vector<TRecoveredFile> problems;
  thread.OnFileDone = [&](const TRecoveredFile& r) {
    if (r.Skipped) ++skipped;
    else ++written;
    if (!r.Skipped && !r.Problem.empty()) ++damaged;
    if (!r.Problem.empty()) problems.push_back(r);
  };

  TInterruptGuard interrupt;
  // Set when the last file is done, which ends the wait at once.
  TEvent finished;
  thread.OnDone = [&] { finished.Set(); };
  const auto began = std::chrono::steady_clock::now();
  thread.Start();
  while (!finished.Wait(std::chrono::milliseconds(100))) {
    if (interrupt.Requested()) thread.Terminate();
    if (ctx.ErrIsTerminal)
      ctx.Err << "\rrecovering: " << started << " files, " << Megabytes(thread.BytesWritten) << "\033[K" << std::flush;
  }
  thread.WaitFor();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  if (ctx.ErrIsTerminal) ctx.Err << "\r\033[K";

  for (const TRecoveredFile& r : problems)
    ctx.Err << (r.Skipped ? "skipped " : "incomplete ") << r.Path << ": " << r.Problem << "\n";
  char took[32];
  std::snprintf(took, sizeof took, " in %.3f s", seconds);
  ctx.Err << written << " files written (" << thread.BytesWritten << " bytes) to " << dest << took << ", " << skipped
          << " skipped" << (damaged ? ", " + std::to_string(damaged) + " incomplete" : "")
          << (thread.Terminated ? "; stopped by the user" : "") << "\n";
  if (damaged) status = exitSource;
  return status;
}

}  // namespace mirel::cli
