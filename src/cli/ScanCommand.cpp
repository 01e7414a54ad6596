#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>

#include "cli/EntryListing.h"
#include "cli/FilterOptions.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "query/QueryObject.h"

namespace mirel::cli {

namespace {

// Reads every listed file for its checksums, with a progress line on a
// terminal. Returns how many could not be read whole, or nullopt when the
// user stopped it.
std::optional<int> HashEntries(std::vector<TListedEntry>& rows, const std::vector<std::string>& names,
                               TCliContext& ctx) {
  TInterruptGuard interrupt;
  int failed = 0;
  size_t done = 0;
  for (TListedEntry& r : rows) {
    if (interrupt.Requested()) return std::nullopt;
    if (ctx.ErrIsTerminal) ctx.Err << "\rhashing: " << done << " of " << rows.size() << " entries\033[K" << std::flush;
    ++done;
    if (r.Entry->IsFolder) {
      for (const std::string& n : names) r.Hashes.emplace_back(n, "");
      continue;
    }
    std::optional<THashes> hashes;
    if (std::unique_ptr<TRecoveryStream> stream = CreateRecoveryStream(r.Entry)) hashes = HashStream(*stream, names);
    if (hashes) {
      r.Hashes = std::move(*hashes);
    } else {
      ++failed;
      for (const std::string& n : names) r.Hashes.emplace_back(n, "");
    }
  }
  if (ctx.ErrIsTerminal) ctx.Err << "\r\033[K" << std::flush;
  return failed;
}

}  // namespace

int CmdScan(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.size() != 1) {
    ctx.Err << "mirel: scan needs exactly one SOURCE\n" << Usage();
    return exitUsage;
  }
  TListFormat format;
  if (!ParseListFormat(args.Value("--format", "table"), format)) {
    ctx.Err << "mirel: unknown format '" << args.Value("--format") << "'\n";
    return exitUsage;
  }
  TFilterOptions filter;
  if (!ReadFilterOptions(args, filter, ctx)) return exitUsage;
  std::vector<std::string> hashNames;
  if (!ReadHashOption(args, hashNames, ctx)) return exitUsage;
  std::vector<std::string> sources{args.Positional[0]};
  if (!ApplySourceOptions(args, sources, ctx)) return exitUsage;
  TScanSession session(sources[0], ctx);
  if (!session.Ok()) return exitSource;
  const bool stopped = session.Scan(!args.Has("--all"));
  if (session.Problems == exitSource) return exitSource;

  TQueryObject query;
  query.SetFilter(filter.Filter);
  query.AddDisk(session.Disk);
  std::vector<TListedEntry> rows;
  rows.reserve(static_cast<size_t>(query.ResultCount()));
  // An entry's path is its folder's path and its name: each folder's path is
  // made once, not once for every entry in it.
  std::unordered_map<const TFileInfo*, std::string> folderPaths;
  for (int i = 0; i < query.ResultCount(); ++i) {
    TFileInfo* e = query.GetResult(i);
    if (IsVolumeRoot(*e)) continue;
    auto [at, added] = folderPaths.try_emplace(e->Parent);
    if (added) {
      const std::string path = GetRelativePath(*e);
      at->second = path.substr(0, path.size() - e->Name.size());
    }
    rows.push_back({at->second, e});
  }
  SortByPath(rows);
  int unhashed = 0;
  if (!hashNames.empty()) {
    const std::optional<int> left = HashEntries(rows, hashNames, ctx);
    if (!left) return exitStopped;
    unhashed = *left;
  }
  PrintEntries(rows, format, ctx.Out);
  // The listing before the summary when both go to one terminal.
  const int written = FinishOutput(ctx);

  int folders = 0;
  for (TFileInfo* e : session.Disk->Folders) folders += !IsVolumeRoot(*e);
  ctx.Err << session.Disk->Files.Count() << " files and " << folders << " folders found on "
          << PrintableName(session.Disk->Name) << "\n";
  if (filter.Filter.Flags != 0) ctx.Err << rows.size() << " of them pass the filter\n";
  if (unhashed > 0)
    ctx.Err << "mirel: " << unhashed << " files could not be read whole; their checksums are left out\n";
  if (stopped) return exitStopped;
  if (written != exitOk) return written;
  return session.Problems == exitOk && unhashed > 0 ? exitIncomplete : session.Problems;
}

}  // namespace mirel::cli
