#pragma once
// The query object: which found entries the user sees. It holds the active
// filter, the volumes under query and the result list, in the order a file
// list shows it. One lock serialises every call, so a scanning thread may add
// results while a front end reads them.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/FileInfo.h"
#include "query/DateTime.h"
#include "query/RecoveryRegEx.h"

namespace mirel {

// Which criteria of a TFilter apply.
enum : uint32_t {
  qfMask = 0x01,
  qfDate = 0x02,
  qfSize = 0x04,
  qfAttributes = 0x08,
  qfCondition = 0x10,
  qfFolder = 0x20,
  qfSizeEqual = 0x40,
  qfSizeGreater = 0x80,
  qfSizeSmaller = 0x100,
  // With qfFolder: files anywhere below the folder, not only in it.
  qfSubfolders = 0x200,
};

struct TFilter {
  // Terms in matcher dialect separated by ";" (see WildcardToPattern).
  std::string Mask;
  // Bytes; the user's kilobytes times 1024.
  int64_t Size = 0;
  // Local date-times; creation or last-write time must lie between them.
  TDateTime DateFrom = 0;
  TDateTime DateTo = 0;
  // Attribute bits that must all be set.
  uint32_t Attributes = 0;
  int32_t MinCondition = 0;
  uint32_t Flags = 0;
  // Whose direct contents are listed; null for the top of the volume.
  TFileInfo* Folder = nullptr;

  bool operator==(const TFilter&) const = default;
};

// The texts of one file-list row: the caption and the five columns after it
// (Type, Size, Status, Modified, Created).
struct TFileRow {
  std::string Caption;
  std::array<std::string, 5> Columns;
  TFileInfo* Entry = nullptr;
};

// The terms of a mask: cut at every ";", each non-empty piece trimmed of
// blanks and control characters (a piece of blanks only becomes an empty
// term, which matches nothing).
std::vector<std::string> SplitMaskTerms(const std::string& mask);

// A row's date-time text: empty unless the entry's volume has a recognised
// file system.
std::string EntryTimeText(const TFileInfo& entry, TFileTime ft);

class TQueryObject {
public:
  // Empties the results and switches every criterion off; volumes stay.
  void ClearResults();
  // Installs the filter and rebuilds the results, unless it equals the
  // active one in every field.
  void SetFilter(const TFilter& filter);
  TFilter Filter() const;
  // Adds the volume (ignoring null) and queries it.
  void AddDisk(TDiskObject* disk);
  // Forgets the volumes; call before their catalogues are cleared.
  void ClearDisks();
  // Adds the volume's accepted folders, then its accepted files, in
  // catalogue order.
  void QueryDisk(TDiskObject* disk);
  // Appends the entry to the results when the filter accepts it.
  bool AddIfAccepted(TFileInfo* entry);
  bool Accepts(const TFileInfo& entry);
  // Accepts with the folder criterion off: what folder recovery and the
  // folder tree go by.
  bool AcceptsInAnyFolder(const TFileInfo& entry);
  int ResultCount() const;
  // Null for an index outside the results.
  TFileInfo* GetResult(int index) const;
  // The files of the folder that pass the filter, the folder criterion aside;
  // empty when the folder's volume is not under query.
  TDiskItems GetFolderFiles(TFileInfo* folder);
  // Fills the row's texts; false (row untouched) for a null entry.
  bool FillRow(TFileRow& row, TFileInfo* entry) const;

private:
  bool AcceptsLocked(const TFileInfo& entry, uint32_t flags);
  bool DatePasses(TFileTime ft) const;
  void QueryDiskLocked(TDiskObject* disk);

  mutable std::mutex Lock;
  TDiskItems Results;
  TDiskListItems Disks;
  TRegExCalc Matcher;
  TFilter FFilter;
  // Whether Results were built for FFilter (a new object's empty results are
  // those of the empty filter over no volume).
  bool Installed = true;
};

}  // namespace mirel
