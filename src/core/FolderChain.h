#pragma once
// Publication of folders a scan holds back until a file is found beneath
// them, shared by the FAT and exFAT directory scans.
#include <vector>

#include "core/DiskObject.h"
#include "core/DiskScaner.h"

namespace mirel {

// Publishes the held-back folders from folder up, topmost first, so each has
// its parent in the tree before it. markOf gives an entry's record (with
// NotInCatalogue and PendingIndex), or null.
template <class MarkOf>
void PublishFolderChain(TDiskScaner& scaner, TDiskItems& pending, TFileInfo* folder, MarkOf markOf) {
  std::vector<TFileInfo*> chain;
  for (TFileInfo* f = folder; f && static_cast<int>(chain.size()) < MAX_FOLDER_DEPTH; f = f->Parent) {
    auto* rec = markOf(f);
    if (!rec || !rec->NotInCatalogue) break;
    chain.push_back(f);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    auto* rec = markOf(*it);
    rec->NotInCatalogue = false;
    pending.SetItem(rec->PendingIndex, nullptr);
    if (scaner.Disk) scaner.Disk->Folders.Add(*it);
    scaner.PublishFolder(*it);
  }
}

}  // namespace mirel
