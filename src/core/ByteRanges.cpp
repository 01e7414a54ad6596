#include "core/ByteRanges.h"

#include <algorithm>

namespace mirel {

void TByteRanges::Add(int64_t offset, int64_t length) {
  if (length <= 0 || offset < 0) return;
  int64_t end;
  if (__builtin_add_overflow(offset, length, &end)) end = INT64_MAX;
  // First range that ends at or after the new one's start: every range from
  // there that starts at or before its end merges with it.
  auto first =
      std::lower_bound(List.begin(), List.end(), offset, [](const TByteRange& r, int64_t at) { return r.End() < at; });
  auto last = first;
  while (last != List.end() && last->Offset <= end) {
    offset = std::min(offset, last->Offset);
    end = std::max(end, last->End());
    ++last;
  }
  first = List.erase(first, last);
  List.insert(first, TByteRange{offset, end - offset});
}

int64_t TByteRanges::TotalLength() const {
  int64_t total = 0;
  for (const TByteRange& r : List) total += r.Length;
  return total;
}

bool TByteRanges::Intersects(int64_t offset, int64_t length) const {
  if (length <= 0) return false;
  auto it =
      std::upper_bound(List.begin(), List.end(), offset, [](int64_t at, const TByteRange& r) { return at < r.End(); });
  return it != List.end() && it->Offset < offset + length;
}

std::string TByteRanges::Describe(size_t most) const {
  std::string s;
  size_t n = 0;
  for (const TByteRange& r : List) {
    if (n == most) {
      s += ", ...";
      break;
    }
    if (n++) s += ", ";
    s += std::to_string(r.Offset) + "+" + std::to_string(r.Length);
  }
  return s;
}

}  // namespace mirel
