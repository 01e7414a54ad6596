#include <algorithm>
#include <ostream>
#include <string>
#include <unordered_map>

#include "cli/EntryListing.h"
#include "cli/FilterOptions.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "query/QueryObject.h"

namespace mirel::cli {

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
  std::string error;
  if (!ParseFilterOptions(args, filter, error)) {
    ctx.Err << "mirel: " << error << "\n";
    return exitUsage;
  }
  for (const std::string& w : filter.Warnings) ctx.Err << "mirel: warning: " << w << "\n";
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
    PFileInfo e = query.GetResult(i);
    if (IsVolumeRoot(*e)) continue;
    auto [at, added] = folderPaths.try_emplace(e->Parent);
    if (added) {
      const std::string path = GetRelativePath(*e);
      at->second = path.substr(0, path.size() - e->Name.size());
    }
    rows.push_back({at->second, e});
  }
  std::stable_sort(rows.begin(), rows.end(), PathLess);
  PrintEntries(rows, format, ctx.Out);
  // The listing before the summary when both go to one terminal.
  const int written = FinishOutput(ctx);

  int folders = 0;
  for (PFileInfo e : session.Disk->Folders) folders += !IsVolumeRoot(*e);
  ctx.Err << session.Disk->Files.Count() << " files and " << folders << " folders found on "
          << PrintableName(session.Disk->Name) << "\n";
  if (filter.Filter.Flags != 0) ctx.Err << rows.size() << " of them pass the filter\n";
  if (stopped) return exitStopped;
  return written != exitOk ? written : session.Problems;
}

}  // namespace mirel::cli
