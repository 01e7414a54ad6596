#include "core/FileInfo.h"

#include "core/DiskObject.h"

namespace mirel {

int TDiskItems::IndexOf(TFileInfo* p) const {
  for (size_t i = 0; i < List.size(); ++i)
    if (List[i] == p) return static_cast<int>(i);
  return -1;
}

void TDiskItems::Delete(int i) {
  if (i >= 0 && i < Count()) List.erase(List.begin() + i);
}

void AddSizeToAncestors(const TFileInfo& entry) {
  int depth = 0;
  for (TFileInfo* p = entry.Parent; p && depth < MAX_FOLDER_DEPTH; p = p->Parent, ++depth) p->Size += entry.Size;
}

TDiskItems ListChildren(const TFileInfo& folder, const TEntryFilter& accept, bool folders) {
  TDiskItems out;
  if (!folder.Disk) return out;
  const TDiskItems& list = folders ? folder.Disk->Folders : folder.Disk->Files;
  for (TFileInfo* e : list)
    if (e && e->Parent == &folder && (!accept || accept(*e))) out.Add(e);
  return out;
}

}  // namespace mirel
