#pragma once
// A set of byte ranges, kept sorted and merged: the parts of a stream's data
// that could not be read from the volume.
#include <cstdint>
#include <string>
#include <vector>

namespace mirel {

struct TByteRange {
  int64_t Offset = 0;
  int64_t Length = 0;
  int64_t End() const { return Offset + Length; }
  bool operator==(const TByteRange&) const = default;
};

class TByteRanges {
public:
  // Adds [offset, offset + length); touching and overlapping ranges merge.
  void Add(int64_t offset, int64_t length);
  bool Empty() const { return List.empty(); }
  size_t Count() const { return List.size(); }
  int64_t TotalLength() const;
  // Whether any byte of [offset, offset + length) is in the set.
  bool Intersects(int64_t offset, int64_t length) const;
  void Clear() { List.clear(); }
  auto begin() const { return List.begin(); }
  auto end() const { return List.end(); }
  const std::vector<TByteRange>& Ranges() const { return List; }
  // "OFFSET+LENGTH, ..." for messages; at most `most` ranges, then "...".
  std::string Describe(size_t most = 8) const;
  bool operator==(const TByteRanges&) const = default;

private:
  std::vector<TByteRange> List;
};

}  // namespace mirel
