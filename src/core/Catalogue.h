#pragma once
// The catalogue of one volume: it owns every entry a scan keeps and their
// file-system records, in storage that never moves them (the front ends and
// the query hold plain pointers), and lists them as files and folders.
#include <cstddef>

#include "core/Arena.h"
#include "core/FileInfo.h"

namespace mirel {

class TCatalogue {
public:
  TCatalogue() = default;
  ~TCatalogue() { Clear(); }
  TCatalogue(const TCatalogue&) = delete;
  TCatalogue& operator=(const TCatalogue&) = delete;

  // A new entry taken from tmpl, its file-system record moved into the
  // catalogue's storage. It is in neither list yet; it stays valid until
  // Clear. Throws std::bad_alloc.
  [[nodiscard]] TFileInfo* Add(TFileInfo&& tmpl);
  // Gives back what an entry holds beyond its own slot (its name, its
  // record): for one a scan made and then dropped. It must be in no list.
  void Discard(TFileInfo* entry);
  // Frees every entry and empties both lists.
  void Clear();
  // Entries made since the last Clear, in a list or not.
  size_t Count() const { return Entries.Count(); }

  TDiskItems Files;
  TDiskItems Folders;

private:
  TChunkStore<TFileInfo> Entries;
  TByteArena Records;
  TByteArena Names;
};

}  // namespace mirel
