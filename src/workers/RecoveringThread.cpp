#include "workers/RecoveringThread.h"

#include <algorithm>

#include "core/DiskObject.h"
#include "platform/Mounts.h"
#include "workers/DestinationFolder.h"
#include "workers/RecoveredFileWriter.h"

namespace mirel {

const char* StatusName(TRecoveryStatus status) {
  switch (status) {
    case TRecoveryStatus::Complete: return "complete";
    case TRecoveryStatus::Incomplete: return "incomplete";
    case TRecoveryStatus::Skipped: return "skipped";
    default: return "failed";
  }
}

const char* StreamKindName(TStreamCopy::TKind kind) {
  switch (kind) {
    case TStreamCopy::Stream: return "stream";
    case TStreamCopy::Attribute: return "attribute";
    case TStreamCopy::File: return "file";
    default: return "none";
  }
}

TRecoveringThread::TRecoveringThread(TDiskItems items) : Items(std::move(items)) {}

void TRecoveringThread::BuildChildIndex() {
  IndexBuilt = true;
  std::vector<TDiskObject*> disks;
  for (TFileInfo* e : Items)
    if (e && e->Disk && std::find(disks.begin(), disks.end(), e->Disk) == disks.end()) disks.push_back(e->Disk);
  for (TDiskObject* d : disks) {
    for (TFileInfo* f : d->Files)
      if (f->Parent) FilesOf[f->Parent].push_back(f);
    for (TFileInfo* f : d->Folders)
      if (f->Parent) FoldersOf[f->Parent].push_back(f);
  }
}

const std::vector<TFileInfo*>& TRecoveringThread::ChildFiles(TFileInfo* folder) {
  if (!IndexBuilt) BuildChildIndex();
  return FilesOf[folder];
}

const std::vector<TFileInfo*>& TRecoveringThread::ChildFolders(TFileInfo* folder) {
  if (!IndexBuilt) BuildChildIndex();
  return FoldersOf[folder];
}

const std::string& TRecoveringThread::DestinationFileSystem(const std::string& folder) {
  auto it = FileSystemOf.find(folder);
  if (it == FileSystemOf.end()) it = FileSystemOf.emplace(folder, GetVolumeFileSystem(folder)).first;
  return it->second;
}

void TRecoveringThread::CountWork() {
  int files = 0;
  int64_t bytes = 0;
  std::unordered_set<TFileInfo*> seen;
  // Folders waiting to be counted, with their depth.
  std::vector<std::pair<TFileInfo*, int>> folders;
  auto addFile = [&](TFileInfo* f) {
    if (!seen.insert(f).second) return;
    ++files;
    bytes += std::max<int64_t>(f->Size, 0);
  };
  for (TFileInfo* e : Items) {
    if (!e) continue;
    if (e->IsFolder)
      folders.emplace_back(e, 0);
    else
      addFile(e);
  }
  while (!folders.empty() && !Terminated()) {
    auto [folder, depth] = folders.back();
    folders.pop_back();
    if (depth >= MAX_FOLDER_DEPTH || !seen.insert(folder).second) continue;
    for (TFileInfo* f : ChildFiles(folder))
      if (!FolderFilter || FolderFilter(*f)) addFile(f);
    for (TFileInfo* g : ChildFolders(folder)) folders.emplace_back(g, depth + 1);
  }
  BytesTotal = bytes;
  FilesTotal = files;
}

void TRecoveringThread::Execute(std::stop_token stop) {
  Stop = std::move(stop);
  CountWork();
  // A destination that cannot be opened fails each file with the reason.
  TDestFolder root(DestDir);
  for (int i = 0; i < Items.Count() && !Terminated(); ++i) {
    TFileInfo* e = Items[i];
    if (e && !Recovered.count(e)) {
      if (e->IsFolder) {
        TDestFolder folder(root, root.ClaimName(SafeFileName(e->Name)));
        RecoverFolder(*this, folder, e);
      } else {
        RecoverFile(*this, root, SafeFileName(e->Name), e);
      }
    }
    int count = Items.Count();
    TotalPercent = count < 1 ? 100 : static_cast<int>(static_cast<int64_t>(i + 1) * 100 / count);
  }
}

}  // namespace mirel
