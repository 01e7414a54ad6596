#pragma once
// What a FAT scan keeps of each entry besides the found-entry record: where its
// data lies (first cluster, and the byte positions of its clusters once built)
// and, for folders, the files found in them.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/FileInfo.h"
#include "platform/FileTime.h"

namespace mirel {

// Byte positions on the volume of an entry's clusters (or directory windows), in order.
using TClusChain = std::vector<int64_t>;

// The file-system record of a FAT file entry, without its cluster chain: the
// chain is built only where it is read (TFatChainEntry).
// Fields ordered by size: a catalogue holds one of these per FAT file.
struct TFatEntryInfo : TMovableFsInfo<TFatEntryInfo> {
  bool IsDirectory : 1 = false;  // attribute bit 0x10
  bool Deleted : 1 = false;      // the entry's first byte was 0xE5
  // The last-access date as the entry holds it (0: not set); no time of day
  // is kept, and the date takes a quarter of the converted time's room.
  uint16_t AccessDosDate = 0;
  uint32_t FirstCluster = 0;
  // Byte offset on the volume of the short (8.3) entry, also for a name kept
  // in long-name entries before it; -1 for the root folder, which has none.
  int64_t EntryOffset = -1;

  bool IsDeleted() const override { return Deleted; }
  std::string Address() const override { return EntryOffset < 0 ? std::string() : std::to_string(EntryOffset); }
  TFileTime AccessTime() const override { return AccessDosDate == 0 ? 0 : DosDateTimeToFileTime(AccessDosDate, 0); }
};

// An entry's record with the byte positions of its clusters: a folder's own
// entry (its directory windows), and the copy a file's stream reads by. It is
// never catalogued on its own, so it stays where it is made.
struct TFatChainEntry : TFatEntryInfo {
  TFatChainEntry() = default;
  // The entry's fields, with no chain built yet.
  TFatChainEntry& operator=(const TFatEntryInfo& e) {
    TFatEntryInfo::operator=(e);
    ClusChain.clear();
    return *this;
  }
  size_t StorageBytes() const override { return 0; }
  TFsInfo* MoveTo(void* /*place*/) override { return nullptr; }

  TClusChain ClusChain;  // empty until built
};

// The file-system record of a FAT folder entry.
struct TFatDirInfo : TMovableFsInfo<TFatDirInfo> {
  std::vector<int> FileIndexes;  // indices in the volume's Files of the files found directly inside
  bool NotInCatalogue = true;    // not yet appended to the volume's Folders (nor published)
  TFatChainEntry Entry;          // the folder's own entry; its chain lists its directory windows
  int64_t DirBytes = 0;          // directory length when shorter than the windows (fixed root); 0: whole windows
  int PendingIndex = -1;         // slot in the scanner's list of folders waiting to be read
  int Depth = 0;                 // folders above it, the root having none
  // A lost folder found by a run of entries, not by its "." and "..": its
  // first long-name entries may end a name whose start lies elsewhere.
  bool FoundMidway = false;

  bool IsDeleted() const override { return Entry.Deleted; }
  std::string Address() const override { return Entry.Address(); }
  TFileTime AccessTime() const override { return Entry.AccessTime(); }
};

inline TFatEntryInfo* FatEntryOf(const TFileInfo* e) {
  return e ? dynamic_cast<TFatEntryInfo*>(e->FsInfo.get()) : nullptr;
}
inline TFatDirInfo* FatDirOf(const TFileInfo* e) { return e ? dynamic_cast<TFatDirInfo*>(e->FsInfo.get()) : nullptr; }

}  // namespace mirel
