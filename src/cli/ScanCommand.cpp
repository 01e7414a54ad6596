#include <algorithm>
#include <ostream>

#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "platform/FileTime.h"

namespace mirel::cli {

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

struct TRow {
  std::string Path;
  PFileInfo Entry;
};

void PrintJson(const std::vector<TRow>& rows, std::ostream& out) {
  for (const TRow& r : rows) {
    const TFileInfo& e = *r.Entry;
    bool deleted = e.FsInfo ? e.FsInfo->IsDeleted() : true;
    out << "{\"path\":" << JsonString(r.Path) << ",\"name\":" << JsonString(e.Name)
        << ",\"folder\":" << (e.IsFolder ? "true" : "false") << ",\"deleted\":" << (deleted ? "true" : "false")
        << ",\"size\":" << e.Size << ",\"condition\":" << e.Condition << ",\"attributes\":" << e.Attributes
        << ",\"created\":" << JsonString(FileTimeToIso(e.CreationTime))
        << ",\"modified\":" << JsonString(FileTimeToIso(e.LastWriteTime));
    if (e.Disk && e.Disk->FileSystem == fsNtfs) {
      out << ",\"streams\":[";
      bool first = true;
      for (const TNamedStream& s : e.FsInfo ? e.FsInfo->NamedStreams() : std::vector<TNamedStream>{}) {
        out << (first ? "" : ",") << "{\"name\":" << JsonString(s.Name) << ",\"size\":" << s.Size << "}";
        first = false;
      }
      out << "]";
    }
    out << "}\n";
  }
}

void PrintTable(const std::vector<TRow>& rows, std::ostream& out) {
  size_t sizeWidth = 4;
  for (const TRow& r : rows) sizeWidth = std::max(sizeWidth, std::to_string(r.Entry->Size).size());
  auto line = [&](const std::string& state, const std::string& cond, const std::string& size,
                  const std::string& modified, const std::string& attr, const std::string& path) {
    out << state << std::string(8 - std::min<size_t>(8, state.size()), ' ') << std::string(4 - std::min<size_t>(4, cond.size()), ' ')
        << cond << "  " << std::string(sizeWidth - size.size(), ' ') << size << "  " << modified
        << std::string(16 - std::min<size_t>(16, modified.size()), ' ') << "  " << attr << "  " << path << "\n";
  };
  line("STATE", "COND", "SIZE", "MODIFIED", "ATTR", "PATH");
  for (const TRow& r : rows) {
    const TFileInfo& e = *r.Entry;
    bool deleted = e.FsInfo ? e.FsInfo->IsDeleted() : true;
    line(deleted ? "deleted" : "live", e.IsFolder ? "" : std::to_string(e.Condition) + "%",
         e.IsFolder ? "" : std::to_string(e.Size), FileTimeToLocalText(e.LastWriteTime), AttributeLetters(e.Attributes),
         e.IsFolder ? r.Path + "/" : r.Path);
  }
}

}  // namespace

int CmdScan(const TCliArgs& args, TCliContext& ctx) {
  if (args.Positional.size() != 1) {
    ctx.Err << "mirel: scan needs exactly one SOURCE\n" << Usage();
    return exitUsage;
  }
  std::string format = args.Value("--format", "table");
  if (format != "table" && format != "json") {
    ctx.Err << "mirel: unknown format '" << format << "'\n";
    return exitUsage;
  }
  TScanSession session(args.Positional[0], ctx);
  if (!session.Ok()) return exitSource;
  session.Scan(!args.Has("--all"));

  std::vector<TRow> rows;
  for (const TDiskItems* list : {&session.Disk->Folders, &session.Disk->Files})
    for (PFileInfo e : *list)
      if (!IsVolumeRoot(*e)) rows.push_back({GetRelativePath(*e), e});
  std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) { return a.Path < b.Path; });
  if (format == "json")
    PrintJson(rows, ctx.Out);
  else
    PrintTable(rows, ctx.Out);
  ctx.Err << session.Disk->Files.Count() << " files and " << rows.size() - session.Disk->Files.Count()
          << " folders found on " << session.Disk->Name << "\n";
  return exitOk;
}

}  // namespace mirel::cli
