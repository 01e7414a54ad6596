#pragma once
// A few times of one entry, most of which are zero or repeat one another in
// practice: only the distinct non-zero values are stored, behind one pointer,
// so a catalogue of millions does not keep six words per entry.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "platform/FileTime.h"

namespace mirel {

class TTimeSet {
public:
  static constexpr int SLOTS = 6;

  TTimeSet() = default;
  TTimeSet(TTimeSet&& other) noexcept;
  TTimeSet& operator=(TTimeSet&& other) noexcept;
  TTimeSet(const TTimeSet&) = delete;
  TTimeSet& operator=(const TTimeSet&) = delete;
  ~TTimeSet() { Free(); }

  // 0 for a slot never set or out of range.
  TFileTime Get(int slot) const;
  // Throws std::bad_alloc.
  void Set(int slot, TFileTime t) { Set({{slot, t}}); }
  // Several slots at once, with one allocation: a record's times are set
  // together, and a scan sets them for every record.
  void Set(std::initializer_list<std::pair<int, TFileTime>> values);

  // Bytes a copy of the values takes (a multiple of 8; 0 when all are zero).
  size_t StorageBytes() const;
  // Moves the values into place, StorageBytes() long and 8-byte aligned, which
  // the caller frees after this set is gone.
  void MoveInto(void* place) noexcept;

private:
  void Free() noexcept;
  const uint64_t* Words() const { return reinterpret_cast<const uint64_t*>(Block & ~uintptr_t{1}); }

  // The first word maps each slot to 0 (zero) or the 1-based index of its
  // value in the words after it, three bits a slot; the low bit of the
  // pointer marks storage that is not ours to free.
  uintptr_t Block = 0;
};

}  // namespace mirel
