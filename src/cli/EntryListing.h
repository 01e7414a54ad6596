#pragma once
// Printing found entries in the listing formats of `mirel scan` (and of any
// command that lists entries): an aligned table, JSON lines, CSV, and the
// timeline body file that forensic timeline tools read.
#include <iosfwd>
#include <string>
#include <vector>

#include "core/FileInfo.h"

namespace mirel::cli {

enum class TListFormat { Table, Json, Csv, Bodyfile };

// "table", "json", "csv" or "bodyfile"; false for anything else.
bool ParseListFormat(const std::string& text, TListFormat& format);

struct TListedEntry {
  std::string Path;  // from the volume root, "/"-separated, root left out
  PFileInfo Entry = nullptr;
};

void PrintEntries(const std::vector<TListedEntry>& rows, TListFormat format, std::ostream& out);

}  // namespace mirel::cli
