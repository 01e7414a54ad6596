#include "ntfs/RunList.h"

#include <algorithm>

#include "core/DebugLog.h"

namespace mirel {

namespace {

// A run as its mapping pair gives it, before it is cut to what a TNtfsRun
// holds.
struct TPairRun {
  int64_t Vcn = 0;
  int64_t Lcn = -1;
  uint64_t Length = 0;
};

// Pieces that cutting long runs may add to one list: 2^44 clusters, more
// than any volume holds. A damaged length beyond that would otherwise make
// millions of runs out of one pair.
constexpr size_t kMostExtraPieces = 4096;

// A run of 2^32 clusters or more (a hole of 16 TiB at 4 KiB clusters) goes in
// as several that follow each other, so no cluster of it is left unmapped.
// False when an LCN would overflow or the pieces run out.
bool AppendRun(TRunList& runs, const TPairRun& pair, size_t& extraPieces) {
  constexpr uint64_t kMostPerRun = UINT32_MAX;
  int64_t vcn = pair.Vcn, lcn = pair.Lcn;
  uint64_t left = pair.Length;
  for (;;) {
    const uint64_t piece = std::min(left, kMostPerRun);
    runs.push_back({vcn, lcn, static_cast<uint32_t>(piece)});
    left -= piece;
    if (left == 0) return true;
    if (++extraPieces > kMostExtraPieces) return false;
    // The decoder keeps every VCN representable; an LCN may not be.
    vcn += static_cast<int64_t>(piece);
    if (lcn >= 0 && __builtin_add_overflow(lcn, static_cast<int64_t>(piece), &lcn)) return false;
  }
}

}  // namespace

std::optional<TRunList> DecodeRunList(std::span<const uint8_t> pairs, int64_t startVcn) {
  if (pairs.empty()) return TRunList{};
  std::vector<TPairRun> runs;
  const std::span<const uint8_t> a = pairs;
  TLeReader r(a);
  const size_t end = a.size();
  size_t p = 0;
  int64_t vcn = startVcn;
  if (vcn < 0) {
    WriteDebugLog("%s: starting VCN out of range; Vcn = %lld", "RunList.DecodeRunList", static_cast<long long>(vcn));
    return std::nullopt;
  }
  int64_t lcn = 0;
  while (p < end && a[p] != 0) {
    const size_t L = a[p] & 0x0F, F = a[p] >> 4;
    if (L == 0) break;
    const size_t next = p + 1 + L + F;
    if (L > 8 || F > 8 || next > end) {
      WriteDebugLog("%s: run reaches past its attribute; Offset = %zu; Run List Length = %zu", "RunList.DecodeRunList",
                    p, end);
      return std::nullopt;
    }
    const uint64_t len = r.UN(p + 1, L);
    TPairRun run{vcn, -1, len};
    if (len > static_cast<uint64_t>(INT64_MAX - vcn)) {
      WriteDebugLog("%s: run numbers overflow; Offset = %zu", "RunList.DecodeRunList", p);
      return std::nullopt;
    }
    vcn += static_cast<int64_t>(len);
    if (F != 0) {
      int64_t offset = r.SN(p + 1 + L, F);
      if (offset != 0) {
        if (__builtin_add_overflow(lcn, offset, &lcn)) {
          WriteDebugLog("%s: run offset overflows; Offset = %zu", "RunList.DecodeRunList", p);
          return std::nullopt;
        }
      } else {
        // An explicit zero offset: the run continues after the previous run
        // with clusters, and its length is completed from the following run.
        const TPairRun* prev = nullptr;
        if (!runs.empty())
          prev = runs.back().Lcn > 0 ? &runs.back() : (runs.size() >= 2 ? &runs[runs.size() - 2] : nullptr);
        if (prev && __builtin_add_overflow(lcn, static_cast<int64_t>(prev->Length), &lcn)) {
          WriteDebugLog("%s: run offset overflows; Offset = %zu", "RunList.DecodeRunList", p);
          return std::nullopt;
        }
        if (next + 1 < end && a[next] != 0 && a[next + 1] <= 16) run.Length = 16u - a[next + 1];
      }
      run.Lcn = lcn;
    }
    runs.push_back(run);
    p = next;
  }
  TRunList out;
  out.reserve(runs.size());
  size_t extraPieces = 0;
  for (const TPairRun& run : runs)
    if (!AppendRun(out, run, extraPieces)) {
      WriteDebugLog("%s: %s; Vcn = %lld", "RunList.DecodeRunList",
                    extraPieces > kMostExtraPieces ? "runs too long for any volume" : "run offset overflows",
                    static_cast<long long>(run.Vcn));
      return std::nullopt;
    }
  return out;
}

bool TStreamRuns::Place(const TRunList& runs) {
  if (runs.empty()) return true;
  const int64_t first = runs.front().Vcn;
  int64_t end;
  if (first < 0 || __builtin_add_overflow(runs.back().Vcn, int64_t{runs.back().Length}, &end)) return false;
  // The first extent placed that ends after this one starts must start at or
  // after its end.
  auto at =
      std::lower_bound(Extents.begin(), Extents.end(), first, [](const TVcnRange& e, int64_t v) { return e.End <= v; });
  if (at != Extents.end() && at->First < end) return false;
  Extents.insert(at, {first, end});
  auto pos = std::upper_bound(Runs.begin(), Runs.end(), first, [](int64_t v, const TNtfsRun& r) { return v < r.Vcn; });
  Runs.insert(pos, runs.begin(), runs.end());
  return true;
}

int64_t TStreamRuns::RunEnd(size_t i) const {
  const TNtfsRun& r = Runs[i];
  int64_t end;
  if (__builtin_add_overflow(r.Vcn, int64_t{r.Length}, &end)) end = INT64_MAX;
  if (i + 1 < Runs.size()) end = std::min(end, Runs[i + 1].Vcn);
  return end;
}

int TStreamRuns::Find(int64_t vcn) const {
  auto it = std::upper_bound(Runs.begin(), Runs.end(), vcn, [](int64_t v, const TNtfsRun& r) { return v < r.Vcn; });
  if (it == Runs.begin()) return -1;
  const size_t i = static_cast<size_t>(it - Runs.begin()) - 1;
  return vcn < RunEnd(i) ? static_cast<int>(i) : -1;
}

int64_t TStreamRuns::NextMapped(int64_t vcn) const {
  auto it = std::upper_bound(Runs.begin(), Runs.end(), vcn, [](int64_t v, const TNtfsRun& r) { return v < r.Vcn; });
  for (auto i = static_cast<size_t>(it - Runs.begin()); i < Runs.size(); ++i)
    if (RunEnd(i) > Runs[i].Vcn) return Runs[i].Vcn;
  return INT64_MAX;
}

std::vector<TVcnRange> TStreamRuns::Gaps(int64_t clusters) const {
  std::vector<TVcnRange> out;
  int64_t v = 0;
  for (size_t i = 0; i < Runs.size() && v < clusters; ++i) {
    const int64_t start = Runs[i].Vcn, end = RunEnd(i);
    if (end <= start) continue;
    if (start > v) out.push_back({v, std::min(start, clusters)});
    v = std::max(v, end);
  }
  if (v < clusters) out.push_back({v, clusters});
  return out;
}

}  // namespace mirel
