#include <chrono>
#include <ostream>

#include "cli/FilterOptions.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "mount/MountServer.h"
#include "mount/MountTree.h"

namespace mirel::cli {

int CmdMount(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.size() != 2) {
    ctx.Err << "mirel: mount needs SOURCE and MOUNTPOINT\n" << Usage();
    return exitUsage;
  }
  TFilterOptions filter;
  if (!ReadFilterOptions(args, filter, ctx)) return exitUsage;
  const std::string& point = args.Positional[1];
  // Before the scan, which can take long.
  if (const std::string why = FuseProblem(); !why.empty()) {
    ctx.Err << "mirel: " << why << "\n";
    return exitSource;
  }
  if (const std::string why = MountPointProblem(point); !why.empty()) {
    ctx.Err << "mirel: " << PrintableName(point) << ": " << why << "\n";
    return exitSource;
  }

  std::vector<std::string> sources{args.Positional[0]};
  if (!ApplySourceOptions(args, sources, ctx)) return exitUsage;
  TScanSession session(sources[0], ctx);
  if (!session.Ok()) return exitSource;
  if (session.Scan(!args.Has("--all"))) return exitStopped;
  if (session.Problems == exitSource) return exitSource;

  TQueryObject query;
  query.SetFilter(filter.Filter);
  const TMountTree tree(session.Disk->Folders, session.Disk->Files,
                        [&query](const TFileInfo& e) { return query.AcceptsInAnyFolder(e); });
  TMountServer server(tree, session.Disk->Name);
  {
    // From before the mount appears: a Ctrl+C that comes with it ends the
    // serving, not the process.
    TInterruptGuard interrupt;
    std::string why;
    if (!server.Start(point, why)) {
      ctx.Err << "mirel: " << PrintableName(point) << ": " << PrintableName(why) << "\n";
      return exitSource;
    }
    ctx.Err << "mirel: " << tree.FileCount() << " files of " << PrintableName(session.Disk->Name) << " at "
            << PrintableName(point) << "; unmount with fusermount3 -u or Ctrl+C\n"
            << std::flush;
    while (!server.Ended.Wait(std::chrono::milliseconds(100)) && !interrupt.Requested()) {
    }
    server.Stop();
  }

  int status = session.Problems;
  const std::string source = PrintableName(session.Disk->Path);
  for (const TUnreadableFile& f : server.Unreadable()) {
    ctx.Err << "mirel: " << source << ": " << PrintableName(f.Path.substr(1)) << ": " << f.Ranges.TotalLength()
            << " of " << f.Size << " bytes could not be read: " << f.Ranges.Describe() << "\n";
    status = exitIncomplete;
  }
  return status;
}

}  // namespace mirel::cli
