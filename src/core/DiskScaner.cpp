#include "core/DiskScaner.h"

#include <vector>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/UpdateView.h"

namespace mirel {

std::atomic<bool> QuickScan{true};
std::atomic<bool> LostFolderSearch{false};

TDiskScaner::TDiskScaner(TDiskObject* disk) : Disk(disk) {}

TDiskScaner::~TDiskScaner() { Handle.Close(); }

bool TDiskScaner::Init() {
  StopEvent.Reset();
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

void TDiskScaner::ScanForFiles() {
  StopEvent.Reset();
  ClearScanProblems();
}

void TDiskScaner::ClearScanProblems() {
  ScanFailure.clear();
  ScanWarnings.clear();
}

void TDiskScaner::SetStopped(bool stopped) {
  if (stopped)
    StopEvent.Set();
  else
    StopEvent.Reset();
}

void TDiskScaner::PublishFile(PFileInfo entry) {
  if (!entry) return;
  entry->Disk = Disk;
  entry->IsFolder = false;
  AddSizeToAncestors(*entry);
  UpdatingThread().FileFound(Disk, entry);
}

void TDiskScaner::PublishFolder(PFileInfo entry) {
  if (!entry) return;
  entry->Disk = Disk;
  entry->IsFolder = true;
  UpdatingThread().FolderFound(Disk, entry);
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
