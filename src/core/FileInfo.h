#pragma once
// Found entries: one record per file or folder a scan keeps, and the plain
// lists that hold them. Lists never own the records; the volume's catalogue
// (core/Catalogue.h) does.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/EntryName.h"
#include "platform/FileTime.h"

namespace mirel {

class TDiskObject;

// Windows attribute bits as recorded on FAT and NTFS volumes.
enum : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeId = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faCompressed = 0x800,
  faEncrypted = 0x4000,
};

// The file-system-specific part of an entry. Each file system derives its own.
struct TNamedStream {
  std::string Name;
  int64_t Size = 0;
};

// The four times of a timeline: modified, accessed, changed (NTFS: the
// record), created; 0 where not kept.
struct TMacbTimes {
  TFileTime Modified = 0, Accessed = 0, Changed = 0, Created = 0;
};

struct TFsInfo {
  TFsInfo() = default;
  // A copy is a record of its own, wherever it is made: where the original
  // lives does not pass on.
  TFsInfo(const TFsInfo&) noexcept {}
  TFsInfo& operator=(const TFsInfo&) noexcept { return *this; }
  virtual ~TFsInfo() = default;
  // Size of the most-derived record, and a move of it into storage of that
  // size; 0 and null for a record that cannot be moved (it then stays on the
  // heap where it was made).
  virtual size_t StorageBytes() const { return 0; }
  virtual TFsInfo* MoveTo(void* place) { return nullptr; }
  // Whether the volume marks the entry as deleted (false for live entries
  // that a Long scan keeps).
  virtual bool IsDeleted() const = 0;
  // An NTFS file whose data is encrypted: its stream delivers the raw image.
  virtual bool IsEncrypted() const { return false; }
  // Data streams besides the main one, where the file system has them.
  virtual std::vector<TNamedStream> NamedStreams() const { return {}; }
  // Where the entry lies on the volume, as text; empty where the record does
  // not say.
  virtual std::string Address() const { return {}; }
  // Times beyond creation and last write, where the file system keeps them
  // (0 where it does not): last access, and NTFS's record change.
  virtual TFileTime AccessTime() const { return 0; }
  virtual TFileTime ChangeTime() const { return 0; }
  // NTFS's second set of times, in the $FILE_NAME attribute.
  virtual std::optional<TMacbTimes> FileNameTimes() const { return std::nullopt; }

  // Set on a record that lives in a catalogue's storage: releasing it only
  // destroys it, the catalogue frees the memory.
  bool InCatalogue = false;
};

// Records of type T can move into a catalogue's storage.
template <class T>
struct TMovableFsInfo : TFsInfo {
  size_t StorageBytes() const override {
    static_assert(alignof(T) <= 8 && std::is_nothrow_move_constructible_v<T>);
    return sizeof(T);
  }
  TFsInfo* MoveTo(void* place) override { return new (place) T(std::move(static_cast<T&>(*this))); }
};

struct TFsInfoRelease {
  TFsInfoRelease() = default;
  // Records made with std::make_unique are released the same way.
  template <class U>
  TFsInfoRelease(const std::default_delete<U>&) {}  // NOLINT(google-explicit-constructor)
  void operator()(TFsInfo* p) const {
    if (p && p->InCatalogue)
      std::destroy_at(p);
    else
      delete p;
  }
};
using TFsInfoPtr = std::unique_ptr<TFsInfo, TFsInfoRelease>;

// Fields ordered by size: a catalogue holds one of these per entry.
struct TFileInfo {
  TEntryName Name;
  int64_t Size = 0;
  TFileTime CreationTime = 0;
  TFileTime LastWriteTime = 0;
  TFileInfo* Parent = nullptr;
  TDiskObject* Disk = nullptr;
  TFsInfoPtr FsInfo;
  uint32_t Attributes = 0;
  int16_t Condition = 0;  // 0 to 100
  bool IsFolder = false;
};

// Longest parent chain any walk follows: deeper chains can only come from a
// damaged catalogue and are cut there.
constexpr int MAX_FOLDER_DEPTH = 4096;

// Ordered list of entries; clearing it releases only its slots.
class TDiskItems {
public:
  int Count() const { return static_cast<int>(List.size()); }
  TFileInfo* Items(int i) const { return i >= 0 && i < Count() ? List[static_cast<size_t>(i)] : nullptr; }
  TFileInfo* operator[](int i) const { return Items(i); }
  void SetItem(int i, TFileInfo* p) {
    if (i >= 0 && i < Count()) List[static_cast<size_t>(i)] = p;
  }
  int Add(TFileInfo* p) {
    List.push_back(p);
    return Count() - 1;
  }
  int IndexOf(TFileInfo* p) const;
  void Delete(int i);
  void Clear() { List.clear(); }
  auto begin() const { return List.begin(); }
  auto end() const { return List.end(); }

private:
  // A deque grows without copying its slots: a catalogue list of millions
  // never holds two copies of itself.
  std::deque<TFileInfo*> List;
};

// The volumes of the volume list; owns nothing either.
class TDiskListItems {
public:
  int Count() const { return static_cast<int>(List.size()); }
  TDiskObject* Items(int i) const { return i >= 0 && i < Count() ? List[static_cast<size_t>(i)] : nullptr; }
  int Add(TDiskObject* d) {
    List.push_back(d);
    return Count() - 1;
  }
  void Clear() { List.clear(); }
  void Set(int i, TDiskObject* d) {
    if (i >= 0 && i < Count()) List[static_cast<size_t>(i)] = d;
  }
  auto begin() const { return List.begin(); }
  auto end() const { return List.end(); }

private:
  std::vector<TDiskObject*> List;
};

// Adds the entry's size to every folder above it (64-bit).
void AddSizeToAncestors(const TFileInfo& entry);

using TEntryFilter = std::function<bool(const TFileInfo&)>;

// The entries of the folder's volume directly inside folder that pass the
// filter (all when the filter is empty), in catalogue order. folders selects the
// volume's folder list instead of its file list.
TDiskItems ListChildren(const TFileInfo& folder, const TEntryFilter& accept, bool folders = false);

}  // namespace mirel
