#include <unistd.h>
#include <cerrno>
#include <cstring>
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
TFileInfo* FindEntry(const TDiskObject& disk, std::string path) {
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  const std::string lower = ToLowerAscii(path);
  TFileInfo* best = nullptr;
  int bestRank = 99;
  for (TFileInfo* e : disk.Files) {
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

// Whether the entry has a named stream of that name (compared as the volume
// does, without the case of ASCII letters).
bool HasStream(const TFileInfo& entry, const std::string& name) {
  if (!entry.FsInfo) return false;
  for (const TNamedStream& s : entry.FsInfo->NamedStreams())
    if (ToLowerAscii(s.Name) == ToLowerAscii(name)) return true;
  return false;
}

// Writes all n bytes to standard output; false with errno set when it cannot.
bool WriteOut(TCliContext& ctx, const char* data, size_t n) {
  if (ctx.OutFd < 0) {
    ctx.Out.write(data, static_cast<std::streamsize>(n));
    return static_cast<bool>(ctx.Out);
  }
  while (n > 0) {
    const ssize_t w = ::write(ctx.OutFd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

int CmdCat(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.size() != 2) {
    ctx.Err << "mirel: cat needs SOURCE and PATH\n" << Usage();
    return exitUsage;
  }
  std::vector<std::string> sources{args.Positional[0]};
  if (!ApplySourceOptions(args, sources, ctx)) return exitUsage;
  TScanSession session(sources[0], ctx);
  if (!session.Ok()) return exitSource;
  // All free space is read only for a file in a lost folder.
  const bool inLostFolder = args.Positional[1].find("$lost_folder_") != std::string::npos;
  if (session.Scan(false, inLostFolder)) return exitStopped;
  const std::string source = PrintableName(session.Disk->Path);
  const std::string path = PrintableName(args.Positional[1]);
  TFileInfo* entry = FindByAddress(*session.Disk, args.Positional[1]);
  if (!entry) entry = FindEntry(*session.Disk, args.Positional[1]);
  if (!entry) {
    ctx.Err << "mirel: " << source << ": no file found at " << path << "\n";
    return exitSource;
  }
  const std::string streamName = args.Value("--stream");
  if (args.Has("--stream") && !HasStream(*entry, streamName)) {
    ctx.Err << "mirel: " << source << ": " << path << ": no stream " << PrintableName(streamName) << "\n";
    return exitSource;
  }
  std::unique_ptr<TRecoveryStream> stream = CreateRecoveryStream(entry, streamName);
  if (!stream) {
    ctx.Err << "mirel: " << source << ": cannot read " << path << "\n";
    return exitSource;
  }
  ctx.Out.flush();
  std::vector<char> buf(size_t{64} * 1024);
  int64_t total = 0;
  for (;;) {
    const size_t n = stream->Read(buf.data(), buf.size());
    if (n == 0) break;
    errno = 0;
    if (!WriteOut(ctx, buf.data(), n)) {
      // A reader that closed the pipe has what it wanted.
      if (errno == EPIPE) return exitOk;
      ctx.Err << "mirel: standard output: " << (errno ? std::strerror(errno) : "write error") << "\n";
      return exitIncomplete;
    }
    total += static_cast<int64_t>(n);
  }
  if (const int status = FinishOutput(ctx); status != exitOk) return status;
  // The engine delivers zeros where it could not read; a stream that ends
  // early is missing its tail.
  TByteRanges missing = stream->Missing();
  if (total < stream->GetSize()) missing.Add(total, stream->GetSize() - total);
  if (!missing.Empty()) {
    ctx.Err << "mirel: " << source << ": " << path << ": " << missing.TotalLength() << " of " << stream->GetSize()
            << " bytes could not be read: " << missing.Describe() << "\n";
    return exitIncomplete;
  }
  return exitOk;
}

}  // namespace mirel::cli
