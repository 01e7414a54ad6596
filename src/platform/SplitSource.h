#pragma once
// A raw image cut into segments of one size (NAME.001, NAME.002, ... or
// NAMEaa, NAMEab, ...), read as one.
#include <string>
#include <vector>

#include "platform/ImageFormats.h"
#include "platform/RawSource.h"

namespace mirel {

// Whether path names the first segment of a split image: NAME.000 or
// NAME.001, or NAMEaa with NAMEab beside it.
[[nodiscard]] bool IsFirstSplitSegment(const std::string& path);

// Opens every segment from the first. A segment missing before the last one
// found, or one of the wrong size, is an error naming it.
[[nodiscard]] TOpenedImage OpenSplitImage(const std::string& firstSegment);

class TSplitSource final : public TByteSource {
public:
  explicit TSplitSource(std::vector<TRawSource> segments);
  bool IsValid() const override { return !Segments.empty(); }
  int64_t Size() const override { return Total; }
  [[nodiscard]] size_t Read(void* buffer, size_t count, int64_t offset) const override;
  [[nodiscard]] size_t CopyTo(int outFd, size_t count, int64_t offset) const override;

private:
  // Calls step(segment, offset in it, bytes) over [offset, offset + count)
  // until a step delivers fewer bytes than asked; returns the bytes delivered.
  template <class Step>
  size_t Walk(size_t count, int64_t offset, Step step) const;

  std::vector<TRawSource> Segments;
  int64_t SegmentSize = 0;
  int64_t Total = 0;
};

}  // namespace mirel
