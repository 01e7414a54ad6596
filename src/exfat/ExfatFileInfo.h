#pragma once
// What an exFAT scan keeps of each entry besides the found-entry record:
// where its data lies and how, and for folders their place in the walk.
#include <cstdint>
#include <memory>
#include <string>

#include "core/FileInfo.h"

namespace mirel {

struct TExfatFileInfo : TFsInfo {
  bool Deleted = false;
  bool IsDirectory = false;
  // The data lies in one run from FirstCluster; the allocation table is not used.
  bool NoFatChain = false;
  uint32_t FirstCluster = 0;
  uint64_t ValidDataLength = 0;
  uint64_t DataLength = 0;
  // Byte offset on the volume of the file entry; -1 for the root folder.
  int64_t EntryOffset = -1;
  TFileTime AccessDate = 0;
  // Folders only: not yet appended to the volume's Folders (nor published),
  // the slot in the scanner's pending list, folders above it.
  bool NotInCatalogue = true;
  int PendingIndex = -1;
  int Depth = 0;

  bool IsDeleted() const override { return Deleted; }
  std::string Address() const override { return EntryOffset < 0 ? std::string() : std::to_string(EntryOffset); }
  TFileTime AccessTime() const override { return AccessDate; }
};

inline TExfatFileInfo* ExfatInfoOf(const TFileInfo* e) {
  return e ? dynamic_cast<TExfatFileInfo*>(e->FsInfo.get()) : nullptr;
}

}  // namespace mirel
