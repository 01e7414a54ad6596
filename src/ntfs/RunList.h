#pragma once
// Run lists: the mapping pairs of one non-resident attribute decoded into
// runs, and the runs of a whole data stream placed by their virtual cluster
// numbers, extent by extent.
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "ntfs/NtfsTypes.h"

namespace mirel {

// The runs that mapping pairs give, numbered from startVcn; none for no
// pairs. nullopt when a run reaches past the pairs' bytes or numbers a
// cluster that cannot be represented.
[[nodiscard]] std::optional<TRunList> DecodeRunList(std::span<const uint8_t> pairs, int64_t startVcn);
// The runs of an attribute's mapping pairs; none for a resident attribute.
[[nodiscard]] inline std::optional<TRunList> DecodeRunList(const TNtfsAttr& attr) {
  return DecodeRunList(attr.MappingPairs(), attr.StartVcn());
}

// A virtual cluster range [First, End).
struct TVcnRange {
  int64_t First = 0;
  int64_t End = 0;
  bool operator==(const TVcnRange&) const = default;
};

// A data stream's runs as its extents (one attribute each) give them. Each
// run sits at its own VCN: an extent that is lost leaves its range unmapped,
// and the extents after it keep their places.
struct TStreamRuns {
  // The extent that starts at VCN 0 (only it holds the stream's sizes and
  // flags), a resident attribute, or the first extent found when that one is
  // lost.
  TNtfsAttr First;
  // Data size in bytes: First's, or when the first extent is lost, the end of
  // the last run placed.
  int64_t DataSize = 0;
  // Runs of the usable extents, in VCN order.
  TRunList Runs;
  // Extents left out: a refused run list, an extension record that is not the
  // file's, an extent overlapping another, a list that cannot be read.
  int LostExtents = 0;

  // Adds one extent's runs; false, with nothing added, when they overlap an
  // extent already placed or their VCNs leave the representable range.
  [[nodiscard]] bool Place(const TRunList& runs);
  // The run that maps vcn, or -1.
  int Find(int64_t vcn) const;
  // Where run i stops mapping: its end, or the next run's start when a
  // damaged length reaches into it.
  int64_t RunEnd(size_t i) const;
  // The first VCN after vcn that a run maps, or INT64_MAX.
  int64_t NextMapped(int64_t vcn) const;
  // The ranges of [0, clusters) that no run maps, in order.
  std::vector<TVcnRange> Gaps(int64_t clusters) const;

private:
  std::vector<TVcnRange> Extents;
};

}  // namespace mirel
