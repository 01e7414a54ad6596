#include "cli/EntryListing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <thread>

#include "cli/ScanSession.h"
#include "core/DiskObject.h"
#include "platform/FileTime.h"

namespace mirel::cli {

namespace {

bool IsDeleted(const TFileInfo& e) { return e.FsInfo ? e.FsInfo->IsDeleted() : true; }

std::string AddressOf(const TFileInfo& e) { return e.FsInfo ? e.FsInfo->Address() : std::string(); }

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

void PrintJson(const std::vector<TListedEntry>& rows, std::ostream& out) {
  for (const TListedEntry& r : rows) {
    const TFileInfo& e = *r.Entry;
    out << "{\"path\":" << JsonString(r.Path()) << ",\"name\":" << JsonString(e.Name)
        << ",\"folder\":" << (e.IsFolder ? "true" : "false") << ",\"deleted\":" << (IsDeleted(e) ? "true" : "false")
        << ",\"size\":" << e.Size << ",\"condition\":" << e.Condition << ",\"attributes\":" << e.Attributes
        << ",\"created\":" << JsonString(FileTimeToIso(e.CreationTime))
        << ",\"modified\":" << JsonString(FileTimeToIso(e.LastWriteTime))
        << ",\"address\":" << JsonString(AddressOf(e));
    for (const auto& [name, hex] : r.Hashes) out << ",\"" << name << "\":" << (hex.empty() ? "null" : JsonString(hex));
    const TFileSystemDriver* driver = e.Disk ? FindFileSystem(e.Disk->FileSystem) : nullptr;
    if (driver && driver->HasNamedStreams) {
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

void PrintTable(const std::vector<TListedEntry>& rows, std::ostream& out) {
  size_t sizeWidth = 4;
  for (const TListedEntry& r : rows) sizeWidth = std::max(sizeWidth, std::to_string(r.Entry->Size).size());
  // Lines are composed in one buffer written a block at a time: listings run
  // to hundreds of thousands of lines.
  constexpr size_t WRITE_BYTES = 64 << 10;
  std::string buf;
  auto drain = [&] {
    out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
    buf.clear();
  };
  auto pad = [&buf](size_t width, size_t used) { buf.append(width - std::min(width, used), ' '); };
  auto line = [&](std::string_view state, std::string_view cond, std::string_view size, std::string_view modified,
                  std::string_view attr, std::string_view folderPath, std::string_view name, bool folder) {
    buf.append(state);
    pad(8, state.size());
    pad(4, cond.size());
    buf.append(cond).append("  ");
    pad(sizeWidth, size.size());
    buf.append(size).append("  ").append(modified);
    pad(16, modified.size());
    buf.append("  ").append(attr).append("  ");
    const size_t at = buf.size();
    buf.append(folderPath).append(name);
    // In place of PrintableName, which would copy the path once more.
    for (size_t i = at; i < buf.size(); ++i)
      if (static_cast<unsigned char>(buf[i]) < 0x20 || buf[i] == 0x7F) buf[i] = '?';
    if (folder) buf += '/';
    buf += '\n';
    if (buf.size() >= WRITE_BYTES) drain();
  };
  line("STATE", "COND", "SIZE", "MODIFIED", "ATTR", "", "PATH", false);
  for (const TListedEntry& r : rows) {
    const TFileInfo& e = *r.Entry;
    char cond[16], size[24];
    char* condEnd = cond;
    char* sizeEnd = size;
    if (!e.IsFolder) {
      condEnd = std::to_chars(cond, cond + sizeof cond - 1, e.Condition).ptr;
      *condEnd++ = '%';
      sizeEnd = std::to_chars(size, size + sizeof size, e.Size).ptr;
    }
    char modified[LOCAL_TEXT_MAX];
    const size_t modifiedLength = FileTimeToLocalText(e.LastWriteTime, modified);
    line(IsDeleted(e) ? "deleted" : "live", std::string_view(cond, static_cast<size_t>(condEnd - cond)),
         std::string_view(size, static_cast<size_t>(sizeEnd - size)), std::string_view(modified, modifiedLength),
         AttributeLetters(e.Attributes), r.Folder, e.Name, e.IsFolder);
  }
  drain();
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void PrintCsv(const std::vector<TListedEntry>& rows, std::ostream& out) {
  out << "path,name,folder,deleted,size,condition,attributes,created,modified,address";
  if (!rows.empty())
    for (const auto& [name, hex] : rows.front().Hashes) out << ',' << name;
  out << '\n';
  for (const TListedEntry& r : rows) {
    const TFileInfo& e = *r.Entry;
    out << CsvField(r.Path()) << ',' << CsvField(e.Name) << ',' << (e.IsFolder ? "true" : "false") << ','
        << (IsDeleted(e) ? "true" : "false") << ',' << e.Size << ',' << e.Condition << ','
        << AttributeLetters(e.Attributes) << ',' << FileTimeToIso(e.CreationTime) << ','
        << FileTimeToIso(e.LastWriteTime) << ',' << AddressOf(e);
    for (const auto& [name, hex] : r.Hashes) out << ',' << hex;
    out << '\n';
  }
}

// Seconds since 1970 for the body file; 0 stands for "not recorded" there too.
int64_t BodyTime(TFileTime ft) { return ft == 0 ? 0 : FileTimeToUnix(ft); }

// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, split on "|":
// the times the file system keeps, NTFS's $FILE_NAME times on a line of their
// own, and each named stream on its own line. No owner is kept.
void PrintBodyfile(const std::vector<TListedEntry>& rows, std::ostream& out) {
  for (const TListedEntry& r : rows) {
    const TFileInfo& e = *r.Entry;
    const std::string perms = (e.Attributes & faReadOnly) ? "r-xr-xr-x" : "rwxrwxrwx";
    const std::string mode = e.IsFolder ? "d/d" + perms : "r/r" + perms;
    std::string inode = AddressOf(e);
    if (inode.empty()) inode = "0";
    const std::string name = "/" + PrintableName(r.Path(), "|");
    const std::string deleted = IsDeleted(e) ? " (deleted)" : "";
    std::string md5 = "0";
    for (const auto& [algorithm, hex] : r.Hashes)
      if (algorithm == "md5" && !hex.empty()) md5 = hex;
    auto line = [&](const std::string& shown, int64_t size, const TMacbTimes& t) {
      out << md5 << '|' << shown << deleted << '|' << inode << '|' << mode << "|0|0|" << size << '|'
          << BodyTime(t.Accessed) << '|' << BodyTime(t.Modified) << '|' << BodyTime(t.Changed) << '|'
          << BodyTime(t.Created) << '\n';
    };
    TMacbTimes times{e.LastWriteTime, 0, 0, e.CreationTime};
    if (e.FsInfo) {
      times.Accessed = e.FsInfo->AccessTime();
      times.Changed = e.FsInfo->ChangeTime();
    }
    const int64_t size = e.IsFolder ? 0 : e.Size;
    line(name, size, times);
    if (!e.FsInfo) continue;
    // A stream's checksum is not the file's: its lines carry none.
    const std::string fileMd5 = md5;
    md5 = "0";
    for (const TNamedStream& s : e.FsInfo->NamedStreams()) line(name + ":" + PrintableName(s.Name, "|"), s.Size, times);
    md5 = fileMd5;
    if (const std::optional<TMacbTimes> fn = e.FsInfo->FileNameTimes()) line(name + " ($FILE_NAME)", size, *fn);
  }
}

}  // namespace

bool ParseListFormat(const std::string& text, TListFormat& format) {
  if (text == "table")
    format = TListFormat::Table;
  else if (text == "json")
    format = TListFormat::Json;
  else if (text == "csv")
    format = TListFormat::Csv;
  else if (text == "bodyfile")
    format = TListFormat::Bodyfile;
  else
    return false;
  return true;
}

bool PathLess(const TListedEntry& a, const TListedEntry& b) {
  // Entries of one folder share its text: their names alone decide.
  if (a.Folder.data() == b.Folder.data() && a.Folder.size() == b.Folder.size()) return a.Entry->Name < b.Entry->Name;
  // Otherwise the two paths are walked in pieces: folder, then name.
  const std::string_view aParts[2] = {a.Folder, a.Entry->Name}, bParts[2] = {b.Folder, b.Entry->Name};
  size_t ai = 0, bi = 0, ao = 0, bo = 0;
  for (;;) {
    while (ai < 2 && ao == aParts[ai].size()) ++ai, ao = 0;
    while (bi < 2 && bo == bParts[bi].size()) ++bi, bo = 0;
    if (ai == 2 || bi == 2) return ai == 2 && bi < 2;
    const size_t n = std::min(aParts[ai].size() - ao, bParts[bi].size() - bo);
    if (const int c = std::memcmp(aParts[ai].data() + ao, bParts[bi].data() + bo, n); c != 0) return c < 0;
    ao += n;
    bo += n;
  }
}

void SortByPath(std::vector<TListedEntry>& rows) {
  // Below this a second thread costs more than it saves.
  constexpr size_t PARALLEL_FROM = 1 << 14;
  if (rows.size() < PARALLEL_FROM || std::thread::hardware_concurrency() < 2) {
    std::stable_sort(rows.begin(), rows.end(), PathLess);
    return;
  }
  // Two sorted halves merged keep equal rows in their order, as one sort would.
  const auto middle = rows.begin() + static_cast<std::ptrdiff_t>(rows.size() / 2);
  std::thread first([&] { std::stable_sort(rows.begin(), middle, PathLess); });
  std::stable_sort(middle, rows.end(), PathLess);
  first.join();
  std::inplace_merge(rows.begin(), middle, rows.end(), PathLess);
}

void PrintEntries(const std::vector<TListedEntry>& rows, TListFormat format, std::ostream& out) {
  switch (format) {
    case TListFormat::Table: PrintTable(rows, out); break;
    case TListFormat::Json: PrintJson(rows, out); break;
    case TListFormat::Csv: PrintCsv(rows, out); break;
    case TListFormat::Bodyfile: PrintBodyfile(rows, out); break;
  }
}

}  // namespace mirel::cli
