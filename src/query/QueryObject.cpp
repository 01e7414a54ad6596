#include "query/QueryObject.h"

#include "core/DiskObject.h"
#include "query/LatinCase.h"

namespace mirel {

std::vector<std::string> SplitMaskTerms(const std::string& mask) {
  std::vector<std::string> terms;
  size_t start = 0;
  for (;;) {
    size_t end = mask.find(';', start);
    std::string_view piece = std::string_view(mask).substr(start, end == std::string::npos ? end : end - start);
    if (!piece.empty()) terms.push_back(TrimBlanks(piece));
    if (end == std::string::npos) return terms;
    start = end + 1;
  }
}

std::string EntryTimeText(const TFileInfo& entry, TFileTime ft) {
  if (!entry.Disk || !FindFileSystem(entry.Disk->FileSystem)) return {};
  return FileTimeToRowText(ft);
}

void TQueryObject::ClearResults() {
  std::lock_guard lock(Lock);
  Results.Clear();
  FFilter.Flags = 0;
  // The emptied results match no filter, so the next one is installed even
  // when it equals what is left of the old one.
  Installed = false;
}

TFilter TQueryObject::Filter() const {
  std::lock_guard lock(Lock);
  return FFilter;
}

void TQueryObject::SetFilter(const TFilter& filter) {
  std::lock_guard lock(Lock);
  // The same filter again (a second click on the same folder) costs nothing.
  if (Installed && filter == FFilter) return;
  Results.Clear();
  FFilter = filter;
  Installed = true;
  Matcher.Terms = SplitMaskTerms(filter.Mask);
  Matcher.IgnoreCase = true;
  for (TDiskObject* disk : Disks) QueryDiskLocked(disk);
}

void TQueryObject::AddDisk(TDiskObject* disk) {
  if (!disk) return;
  std::lock_guard lock(Lock);
  Disks.Add(disk);
  QueryDiskLocked(disk);
}

void TQueryObject::ClearDisks() {
  std::lock_guard lock(Lock);
  Disks.Clear();
}

void TQueryObject::QueryDisk(TDiskObject* disk) {
  std::lock_guard lock(Lock);
  QueryDiskLocked(disk);
}

void TQueryObject::QueryDiskLocked(TDiskObject* disk) {
  if (!disk) return;
  for (const TDiskItems* list : {&disk->Folders, &disk->Files})
    for (TFileInfo* e : *list)
      if (e && AcceptsLocked(*e, FFilter.Flags)) Results.Add(e);
}

bool TQueryObject::AddIfAccepted(TFileInfo* entry) {
  std::lock_guard lock(Lock);
  if (!entry || !AcceptsLocked(*entry, FFilter.Flags)) return false;
  Results.Add(entry);
  return true;
}

bool TQueryObject::Accepts(const TFileInfo& entry) {
  std::lock_guard lock(Lock);
  return AcceptsLocked(entry, FFilter.Flags);
}

bool TQueryObject::AcceptsInAnyFolder(const TFileInfo& entry) {
  std::lock_guard lock(Lock);
  return AcceptsLocked(entry, FFilter.Flags & ~qfFolder);
}

int TQueryObject::ResultCount() const {
  std::lock_guard lock(Lock);
  return Results.Count();
}

TFileInfo* TQueryObject::GetResult(int index) const {
  std::lock_guard lock(Lock);
  return Results.Items(index);
}

TDiskItems TQueryObject::GetFolderFiles(TFileInfo* folder) {
  std::lock_guard lock(Lock);
  TDiskItems out;
  if (!folder) return out;
  for (TDiskObject* disk : Disks) {
    if (disk != folder->Disk) continue;
    for (TFileInfo* e : disk->Files)
      if (e && e->Parent == folder && AcceptsLocked(*e, FFilter.Flags & ~qfFolder)) out.Add(e);
    break;
  }
  return out;
}

bool TQueryObject::DatePasses(TFileTime ft) const {
  // A zero time was never recorded and lies in no range.
  if (ft == 0) return false;
  TDateTime t;
  if (!FileTimeToDateTime(ft, t)) t = FFilter.DateFrom;
  return CompareDateTime(t, FFilter.DateFrom) >= 0 && CompareDateTime(t, FFilter.DateTo) <= 0;
}

namespace {

// Whether folder is among entry's ancestors; null stands for the top of the
// volume, above every entry.
bool Below(const TFileInfo& entry, TFileInfo* folder) {
  if (!folder) return true;
  int depth = 0;
  for (TFileInfo* p = entry.Parent; p && depth < MAX_FOLDER_DEPTH; p = p->Parent, ++depth)
    if (p == folder) return true;
  return false;
}

}  // namespace

bool TQueryObject::AcceptsLocked(const TFileInfo& e, uint32_t flags) {
  const TFilter& f = FFilter;
  if ((flags & qfFolder) && e.Parent != f.Folder && !((flags & qfSubfolders) && !e.IsFolder && Below(e, f.Folder)))
    return false;
  if ((flags & qfCondition) && e.Condition < f.MinCondition) return false;
  if ((flags & qfAttributes) && (e.Attributes & f.Attributes) != f.Attributes) return false;
  if (flags & qfSize) {
    if (flags & qfSizeEqual) {
      if (e.Size / 1024 != f.Size / 1024) return false;
    } else if (flags & qfSizeGreater) {
      if (e.Size <= f.Size) return false;
    } else if ((flags & qfSizeSmaller) && e.Size >= f.Size) {
      return false;
    }
  }
  if ((flags & qfDate) && !DatePasses(e.CreationTime) && !DatePasses(e.LastWriteTime)) return false;
  if (flags & qfMask) return Matcher.MatchList(e.Name);
  return true;
}

bool TQueryObject::FillRow(TFileRow& row, TFileInfo* e) const {
  if (!e) return false;
  std::lock_guard lock(Lock);
  row.Caption = e->Name;
  row.Entry = e;
  size_t dot = e->Name.find_last_of(".\\:");
  row.Columns[0] = dot != std::string::npos && e->Name[dot] == '.' ? Utf8Upper(e->Name.substr(dot)) : "";
  row.Columns[1] = std::to_string(e->Size);
  row.Columns[2] = e->IsFolder ? "" : std::to_string(e->Condition) + "%";
  row.Columns[3] = EntryTimeText(*e, e->LastWriteTime);
  row.Columns[4] = EntryTimeText(*e, e->CreationTime);
  return true;
}

}  // namespace mirel
