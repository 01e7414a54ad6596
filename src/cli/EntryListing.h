#pragma once
// Printing found entries in the listing formats of `mirel scan` (and of any
// command that lists entries): an aligned table, JSON lines, CSV, and the
// timeline body file that forensic timeline tools read.
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "core/FileInfo.h"
#include "workers/Digests.h"

namespace mirel::cli {

enum class TListFormat { Table, Json, Csv, Bodyfile };

// "table", "json", "csv" or "bodyfile"; false for anything else.
[[nodiscard]] bool ParseListFormat(const std::string& text, TListFormat& format);

struct TListedEntry {
  // The path of the entry's folder from the volume root, "/"-separated with a
  // closing "/", root left out (empty for the root's own entries). Its text
  // belongs to the caller and outlives the listing.
  std::string_view Folder;
  TFileInfo* Entry = nullptr;
  // The checksums asked for with --hash, each with an empty value where the
  // data could not be read whole; empty when none were asked for.
  THashes Hashes;
  std::string Path() const { return std::string(Folder) + Entry->Name; }
};

// Orders rows by their whole paths, byte by byte, without putting them together.
bool PathLess(const TListedEntry& a, const TListedEntry& b);
// Sorts rows by PathLess, stably; a large listing on two cores.
void SortByPath(std::vector<TListedEntry>& rows);

void PrintEntries(const std::vector<TListedEntry>& rows, TListFormat format, std::ostream& out);

}  // namespace mirel::cli
