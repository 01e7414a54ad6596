#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "cli/FilterOptions.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "engine/RecoveryJob.h"
#include "platform/Event.h"
#include "platform/Mounts.h"
#include "workers/DestinationPolicy.h"
#include "workers/RecoveringThread.h"
#include "workers/RecoveryReport.h"

namespace fs = std::filesystem;

namespace mirel::cli {

namespace {

// What the command does with a recovery's events.
class TRecoverEvents : public TJobEvents {
public:
  std::function<TExistsAnswer(const std::string& path)> OnExists;
  std::function<void(const TRecoveredFile& result)> OnRecovered;
  std::atomic<int> Started{0};
  // Set when the last file is done, which ends the wait at once.
  TEvent Ended;

  void FileStarted(const std::string&, TFileInfo*) override { ++Started; }
  TExistsAnswer FileExists(const std::string& path) override { return OnExists(path); }
  void FileRecovered(const TRecoveredFile& result) override { OnRecovered(result); }
  void JobDone(const TJobResult&) override { Ended.Set(); }
};

// Every entry at a path from the volume root (files and folders).
std::vector<TFileInfo*> FindEntries(const TDiskObject& disk, std::string path) {
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  while (!path.empty() && path.back() == '/') path.pop_back();
  std::vector<TFileInfo*> found;
  for (const TDiskItems* list : {&disk.Folders, &disk.Files})
    for (TFileInfo* e : *list)
      if (!IsVolumeRoot(*e) && GetRelativePath(*e) == path) found.push_back(e);
  return found;
}

// The whole tree: what lies in a volume root goes straight into the
// destination; other top-level entries (folders the volume no longer links
// anywhere) keep their own folder.
TDiskItems TopEntries(const TDiskObject& disk, TQueryObject& query) {
  TDiskItems items;
  for (const TDiskItems* list : {&disk.Folders, &disk.Files})
    for (TFileInfo* e : *list)
      if (((e->Parent && IsVolumeRoot(*e->Parent)) || (!e->Parent && !IsVolumeRoot(*e))) &&
          (list == &disk.Folders || query.AcceptsInAnyFolder(*e)))
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

  const std::string reportPath = args.Value("--report");
  std::vector<std::string> hashNames;
  if (!ReadHashOption(args, hashNames, ctx)) return exitUsage;

  std::vector<std::string> sources{args.Positional[0]};
  if (!ApplySourceOptions(args, sources, ctx)) return exitUsage;
  TScanSession session(sources[0], ctx);
  if (!session.Ok()) return exitSource;

  // Before anything is written, the destination folder or the report
  // included: nothing may land on a file system mounted from the source.
  if (!args.Has("--force")) {
    const std::vector<TMountEntry> table = ReadMountTable();
    for (const std::string& target : {dest, reportPath}) {
      if (target.empty()) continue;
      if (std::optional<TMountEntry> m = MountFromSource(target, session.Disk->Path, table)) {
        ctx.Err << "mirel: " << PrintableName(target) << " lies on a file system mounted from "
                << PrintableName(session.Disk->Path) << " (at " << PrintableName(m->MountPoint)
                << "); writing there may overwrite the deleted files you want back. "
                << "Choose another folder, or give --force.\n";
        return exitUsage;
      }
    }
  }
  std::unique_ptr<TReportFile> report;
  if (!reportPath.empty()) {
    report = std::make_unique<TReportFile>(reportPath);
    if (!report->Ok()) {
      ctx.Err << "mirel: cannot write the report " << PrintableName(report->Error()) << "\n";
      return exitUsage;
    }
  }

  std::error_code ec;
  fs::create_directories(dest, ec);
  if (!fs::is_directory(dest, ec)) {
    ctx.Err << "mirel: " << PrintableName(dest) << ": cannot use as destination folder"
            << (ec ? ": " + ec.message() : "") << "\n";
    return exitUsage;
  }

  if (session.Scan(!args.Has("--all"))) return exitStopped;
  if (session.Problems == exitSource) return exitSource;

  TDiskItems items;
  // A part of the volume the scan could not read leaves the run incomplete.
  int status = session.Problems;
  if (args.Positional.size() > 1) {
    for (size_t i = 1; i < args.Positional.size(); ++i) {
      std::vector<TFileInfo*> found;
      if (TFileInfo* byAddress = FindByAddress(*session.Disk, args.Positional[i]))
        found.push_back(byAddress);
      else
        found = FindEntries(*session.Disk, args.Positional[i]);
      if (found.empty()) {
        ctx.Err << "mirel: " << PrintableName(session.Disk->Path) << ": no entry found at "
                << PrintableName(args.Positional[i]) << "\n";
        status = exitSource;
      }
      for (TFileInfo* e : found) items.Add(e);
    }
  } else {
    items = TopEntries(*session.Disk, query);
  }

  TRecoverEvents events;
  events.OnExists = [&](const std::string& p) {
    TExistsAnswer answer{onExists};
    if (onExists == TOnExists::Ask) {
      char c = AskUser(ctx, "\r\033[K" + PrintableName(p) + " already exists. Overwrite? [y]es, [n]ew name, [s]kip: ");
      answer.Action = c == 'y' ? TOnExists::Overwrite : c == 'n' ? TOnExists::Rename : TOnExists::Skip;
    }
    return answer;
  };
  // Counted by status; all but the complete ones are listed at the end.
  int counts[4] = {};
  int64_t bytes = 0;
  std::vector<TRecoveredFile> noted;
  std::vector<std::pair<std::string, THashes>> sums;
  int unhashed = 0;
  events.OnRecovered = [&](const TRecoveredFile& done) {
    TRecoveredFile r = done;
    // What was written, read back: the checksums vouch for the file itself.
    if (!hashNames.empty() && !r.Dest.empty()) {
      if (std::optional<THashes> h = HashFile(r.Dest, hashNames)) {
        r.Hashes = std::move(*h);
        for (const auto& [name, hex] : r.Hashes)
          if (name == "sha256" && !r.Sha256.empty() && hex != r.Sha256) {
            r.Status = TRecoveryStatus::Failed;
            r.Reason = "the file written does not read back as written";
          }
        sums.emplace_back(r.Dest, r.Hashes);
      } else {
        ++unhashed;
      }
    }
    ++counts[static_cast<int>(r.Status)];
    if (!r.Dest.empty()) bytes += r.Size;
    if (r.Status != TRecoveryStatus::Complete || !r.Note.empty() || !r.Streams.empty()) noted.push_back(r);
    if (report) report->Add(r);
  };

  TRecoveryOptions options;
  // The report names files by paths that hold from anywhere.
  options.DestDir = fs::absolute(dest, ec).string();
  // Only the report shows the hashes.
  options.Hash = report != nullptr || !hashNames.empty();
  options.FolderFilter = [&query](const TFileInfo& e) { return query.AcceptsInAnyFolder(e); };
  TRecoveryJob job(std::move(items), std::move(options), events);

  TInterruptGuard interrupt;
  const auto began = std::chrono::steady_clock::now();
  job.Start();
  // Ctrl+C is looked for often, the progress line drawn every fifth turn.
  for (int turn = 1; !events.Ended.Wait(std::chrono::milliseconds(20)); ++turn) {
    if (interrupt.Requested()) job.RequestStop();
    if (ctx.ErrIsTerminal && turn % 5 == 0)
      ctx.Err << "\rrecovering: " << events.Started << " files, " << Megabytes(job.Worker().BytesWritten) << "\033[K"
              << std::flush;
  }
  const bool stopped = job.Wait().End == TJobEnd::Cancelled;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  if (ctx.ErrIsTerminal) ctx.Err << "\r\033[K";

  for (const TRecoveredFile& r : noted) {
    const std::string where = PrintableName(r.Dest.empty() ? r.Target : r.Dest);
    if (r.Status != TRecoveryStatus::Complete) {
      ctx.Err << StatusName(r.Status) << " " << where << ": " << PrintableName(r.Reason);
      if (!r.Missing.Empty()) ctx.Err << " (missing " << r.Missing.Describe() << ")";
      ctx.Err << "\n";
    }
    if (!r.Note.empty()) ctx.Err << where << ": " << PrintableName(r.Note) << "\n";
    // Where the destination has no streams, each one's place is said.
    for (const TStreamCopy& s : r.Streams) {
      if (s.Kind == TStreamCopy::Attribute)
        ctx.Err << where << ": stream " << PrintableName(s.Name) << " kept as the extended attribute "
                << PrintableName(s.Dest) << "\n";
      else if (s.Kind == TStreamCopy::File)
        ctx.Err << where << ": stream " << PrintableName(s.Name) << " written beside it as " << PrintableName(s.Dest)
                << "\n";
    }
  }
  const int complete = counts[static_cast<int>(TRecoveryStatus::Complete)];
  const int incomplete = counts[static_cast<int>(TRecoveryStatus::Incomplete)];
  const int failed = counts[static_cast<int>(TRecoveryStatus::Failed)];
  const int skipped = counts[static_cast<int>(TRecoveryStatus::Skipped)];
  char took[32];
  std::snprintf(took, sizeof took, " in %.3f s", seconds);
  ctx.Err << complete + incomplete << " files written (" << bytes << " bytes) to " << dest << took << ", " << incomplete
          << " incomplete, " << failed << " failed, " << skipped << " skipped"
          << (stopped ? "; stopped by the user" : "") << "\n";
  // Checksums in the tagged form that md5sum -c and sha256sum -c read.
  for (const auto& [path, hashes] : sums)
    for (const auto& [name, hex] : hashes) {
      std::string tag = name;
      for (char& c : tag) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      ctx.Out << tag << " (" << PrintableName(path) << ") = " << hex << "\n";
    }
  if (unhashed > 0) {
    ctx.Err << "mirel: " << unhashed << " written files could not be read back for their checksums\n";
    if (status == exitOk) status = exitIncomplete;
  }
  if (const int written = FinishOutput(ctx); written != exitOk && status == exitOk) status = written;
  if (report && !report->Close()) {
    ctx.Err << "mirel: the report is not whole: " << PrintableName(report->Error()) << "\n";
    if (status == exitOk) status = exitIncomplete;
  }
  if (stopped) return exitStopped;
  if (status == exitOk && (incomplete > 0 || failed > 0)) status = exitIncomplete;
  return status;
}

}  // namespace mirel::cli
