#include <iomanip>
#include <ostream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "platform/BlockDevices.h"

namespace mirel::cli {

namespace {

std::string SerialText(uint32_t serial) {
  std::ostringstream s;
  s << std::hex << std::uppercase << std::setfill('0') << std::setw(4) << (serial >> 16) << '-' << std::setw(4)
    << (serial & 0xFFFF);
  return s.str();
}

std::string OrDash(const std::string& s) { return s.empty() ? "-" : s; }

}  // namespace

int CmdList(const TCliArgs& args, TCliContext& ctx) {
  std::vector<std::string> sources = args.Positional;
  if (!ApplySourceOptions(args, sources, ctx)) return exitUsage;
  TRecoveryManager manager(sources, sources.empty());
  int status = exitOk;
  for (const TRejectedSource& r : manager.DiskList.Rejected) {
    ctx.Err << "mirel: " << PrintableName(r.Path) << ": " << r.Reason << "\n";
    status = exitSource;
  }
  struct TRow {
    std::string Cells[9];
  };
  std::vector<TRow> rows;
  rows.push_back({{"NAME", "PATH", "TYPE", "FS", "LABEL", "SERIAL", "TOTAL", "FREE", ""}});
  for (TDiskObject* d : manager.DiskList.Items) {
    if (!d->OpenError.empty()) {
      ctx.Err << "mirel: " << PrintableName(d->Path) << ": " << d->OpenError << "\n";
      status = exitSource;
      continue;
    }
    if (d->FileSystem == fsNone) {
      ctx.Err << "mirel: " << PrintableName(d->Path) << ": no FAT, exFAT or NTFS file system found\n";
      if (!args.Positional.empty()) status = exitSource;
    }
    if (const std::string note = CutShortNote(*d); !note.empty())
      ctx.Err << "mirel: " << PrintableName(d->Path) << ": " << note << "\n";
    rows.push_back({{PrintableName(d->Name), PrintableName(d->Path), DriveTypeName(d->DriveType),
                     OrDash(d->FileSystemName), OrDash(PrintableName(d->VolumeLabel)),
                     d->FileSystem ? SerialText(d->SerialNumber) : "-", std::to_string(d->TotalSize),
                     std::to_string(d->FreeSize), d->BackupBootSector() ? "read through its backup boot sector" : ""}});
  }
  if (rows.size() == 1) return status;
  size_t width[9] = {};
  for (const TRow& r : rows)
    for (int c = 0; c < 9; ++c) width[c] = std::max(width[c], r.Cells[c].size());
  for (const TRow& r : rows) {
    std::string line;
    for (int c = 0; c < 9; ++c) {
      bool right = c == 6 || c == 7;
      std::string cell = r.Cells[c];
      std::string pad(width[c] - cell.size(), ' ');
      line += right ? pad + cell : cell + pad;
      if (c < 8) line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    ctx.Out << line << "\n";
  }
  const int written = FinishOutput(ctx);
  return status != exitOk ? status : written;
}

}  // namespace mirel::cli
