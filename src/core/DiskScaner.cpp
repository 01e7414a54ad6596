#include "core/DiskScaner.h"

#include <new>
#include <string>
#include <vector>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/UpdateView.h"

namespace mirel {

TDiskScaner::TDiskScaner(TDiskObject* disk) : Disk(disk) {}

TDiskScaner::~TDiskScaner() { Handle.Close(); }

bool TDiskScaner::Init() {
  // Every scan opens anew, and its progress starts from nothing.
  LastPercent = -1;
  Handle.Close();
  if (Disk) {
    try {
      Handle = Disk->AllocHandle();
    } catch (...) {
      WriteDebugLog("%s: Disk.AllocHandle raised exception; Disk = %s", "DiskScaner.Init", Disk->Name.c_str());
    }
  }
  return Handle.IsValid();
}

void TDiskScaner::ScanForFiles() { ClearScanProblems(); }

void TDiskScaner::ClearScanProblems() {
  ScanFailure.clear();
  ScanWarnings.clear();
}

void TDiskScaner::ReportProgress(int64_t done, int64_t total) {
  // A walk whose total grows as it goes (FAT finds folders while it reads
  // them) can work out less than it reported before: the bar never goes back.
  const int percent = ProgressPercent(done, total);
  if (percent < LastPercent) return;
  LastPercent = percent;
  if (Sink) Sink->ScanProgress(Disk, done, total);
}

void TDiskScaner::ReportDone() {
  if (Sink) Sink->ScanDone(Disk);
}

TFileInfo TDiskScaner::RootTemplate() const {
  TFileInfo t;
  t.Name = (Disk ? Disk->Name : std::string()) + ": (" + (Disk ? Disk->VolumeLabel : std::string()) + ")";
  t.Size = Disk ? Disk->TotalSize : 0;
  return t;
}

int TDiskScaner::CatalogueFile(TFileInfo&& tmpl, const char* operation) {
  if (!Disk) return -1;
  int idx;
  try {
    idx = Disk->Files.Add(Disk->Catalogue.Add(std::move(tmpl)));
  } catch (const std::bad_alloc&) {
    WriteDebugLog("%s: GetMem unable to allocate memory block; P = %p; Size = %zu", operation,
                  static_cast<void*>(&tmpl), sizeof(TFileInfo));
    return -1;
  }
  PublishFile(Disk->Files[idx]);
  return idx;
}

void TDiskScaner::PublishFile(TFileInfo* entry) {
  if (!entry) return;
  entry->Disk = Disk;
  entry->IsFolder = false;
  AddSizeToAncestors(*entry);
  if (Sink) Sink->FileFound(Disk, entry);
}

void TDiskScaner::PublishFolder(TFileInfo* entry) {
  if (!entry) return;
  entry->Disk = Disk;
  entry->IsFolder = true;
  if (Sink) Sink->FolderFound(Disk, entry);
}

bool IsVolumeRoot(const TFileInfo& entry) {
  return entry.Parent == nullptr && entry.Name.find(':') != std::string::npos;
}

namespace {

// The folders above the entry from the top down, a volume root left out.
std::string FolderChainText(const TFileInfo& entry) {
  std::vector<const TFileInfo*> chain;
  for (const TFileInfo* p = entry.Parent; p && static_cast<int>(chain.size()) < MAX_FOLDER_DEPTH; p = p->Parent)
    chain.push_back(p);
  if (!chain.empty() && IsVolumeRoot(*chain.back())) chain.pop_back();
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += (*it)->Name;
    path += '/';
  }
  return path;
}

}  // namespace

std::string GetEntryPath(const TFileInfo& entry) {
  return (entry.Disk ? entry.Disk->Name : std::string()) + ":/" + FolderChainText(entry);
}

std::string GetRelativePath(const TFileInfo& entry) { return FolderChainText(entry) + entry.Name; }

}  // namespace mirel
