#pragma once
// The data of one found exFAT file as a read-only, seekable stream of the
// entry's recorded size. Where the data lies is settled when the stream is
// made: runs of clusters read in long reads; clusters that are lost (in use
// again, past the chain's end or the source's) come as zeros and are listed
// in Missing(); bytes past the valid data length are zeros, as recorded.
#include <cstdint>
#include <vector>

#include "core/RecoveryStream.h"

namespace mirel {

class TExfatScaner;

class TExfatStream : public TRecoveryStream {
public:
  TExfatStream(TDiskObject* disk, TFileInfo* entry);
  ~TExfatStream() override;

  [[nodiscard]] size_t Read(void* buffer, size_t count) override;
  [[nodiscard]] size_t CopyTo(int outFd, size_t count) override;

  // A stretch of the data that lies on the volume.
  struct TExtent {
    int64_t Position = 0;  // in the data
    int64_t Offset = 0;    // on the volume
    int64_t Length = 0;
  };
  const std::vector<TExtent>& Extents() const { return Map; }
  // Reads of the volume the stream has made (for tests and benchmarks).
  uint64_t VolumeReads() const { return Reads; }

private:
  // The extent holding data position pos, or null.
  const TExtent* ExtentAt(int64_t pos) const;
  void Build();

  TExfatScaner* Exfat = nullptr;
  std::vector<TExtent> Map;
  int64_t ValidLength = 0;
  uint64_t Reads = 0;
};

}  // namespace mirel
