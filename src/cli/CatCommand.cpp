#include <ostream>
#include <vector>

#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/Text.h"

namespace mirel::cli {

namespace {

// The file at path: deleted entries before live ones, an exact match before
// one that differs only in the case of ASCII letters.
PFileInfo FindEntry(const TDiskObject& disk, std::string path) {
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  const std::string lower = ToLowerAscii(path);
  PFileInfo best = nullptr;
  int bestRank = 99;
  for (PFileInfo e : disk.Files) {
    std::string p = GetRelativePath(*e);
    int rank;
    if (p == path)
      rank = 0;
    else if (ToLowerAscii(p) == lower)
      rank = 2;
    else
      continue;
    if (e->FsInfo && !e->FsInfo->IsDeleted()) rank += 1;
    if (rank < bestRank) {
      best = e;
      bestRank = rank;
    }
  }
  return best;
}

}  // namespace

int CmdCat(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.size() != 2) {
    ctx.Err << "mirel: cat needs SOURCE and PATH\n" << Usage();
    return exitUsage;
  }
  TScanSession session(args.Positional[0], ctx);
  if (!session.Ok()) return exitSource;
  if (session.Scan(false)) return exitSource;
  const std::string& path = args.Positional[1];
  PFileInfo entry = FindEntry(*session.Disk, path);
  if (!entry) {
    ctx.Err << "mirel: " << session.Disk->Path << ": no file found at " << path << "\n";
    return exitSource;
  }
  std::string streamName = args.Value("--stream");
  std::unique_ptr<TRecoveryStream> stream = CreateRecoveryStream(entry, streamName);
  if (!stream) {
    ctx.Err << "mirel: " << session.Disk->Path << ": cannot read " << path << "\n";
    return exitSource;
  }
  std::vector<char> buf(64 * 1024);
  int64_t total = 0;
  for (;;) {
    size_t n = stream->Read(buf.data(), buf.size());
    if (n == 0) break;
    ctx.Out.write(buf.data(), static_cast<std::streamsize>(n));
    total += static_cast<int64_t>(n);
  }
  ctx.Out.flush();
  if (total < stream->GetSize()) {
    ctx.Err << "mirel: " << session.Disk->Path << ": " << path << ": read " << total << " of " << stream->GetSize()
            << " bytes\n";
    return exitSource;
  }
  return exitOk;
}

}  // namespace mirel::cli
