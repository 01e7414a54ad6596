#include "core/Catalogue.h"

#include <string>

namespace mirel {

TFileInfo* TCatalogue::Add(TFileInfo&& tmpl) {
  TFileInfo* e = Entries.Emplace(std::move(tmpl));
  // The record was made on the heap while the entry was read: it moves next
  // to the others, which saves the heap's per-block overhead on every entry.
  if (TFsInfo* rec = e->FsInfo.get(); rec && !rec->InCatalogue) {
    if (const size_t bytes = rec->StorageBytes()) {
      TFsInfo* moved = rec->MoveTo(Records.Allocate(bytes));
      moved->InCatalogue = true;
      e->FsInfo.reset(moved);
    }
  }
  // A long name moves next to the others too.
  if (const size_t bytes = e->Name.StorageBytes()) e->Name.MoveInto(static_cast<char*>(Names.Allocate(bytes, 1)));
  return e;
}

void TCatalogue::Discard(TFileInfo* entry) {
  if (!entry) return;
  entry->FsInfo.reset();
  entry->Name = TEntryName();
}

void TCatalogue::Clear() {
  Files.Clear();
  Folders.Clear();
  // The entries release their records before the records' memory goes.
  Entries.Clear();
  Records.Clear();
  Names.Clear();
}

}  // namespace mirel
