#pragma once
// The data of one found FAT file as a read-only, seekable stream of exactly
// the entry's size. The cluster chain is built when the stream is made, into
// a copy of the entry's record that the stream owns, so streams on the same
// entry never disturb each other.
#include <cstdint>
#include <vector>

#include "core/RecoveryStream.h"
#include "fat/FatRecords.h"

namespace mirel {

class TFatScaner;

class TRecoveryFatStream : public TRecoveryStream {
public:
  TRecoveryFatStream(TDiskObject* disk, TFileInfo* entry);
  ~TRecoveryFatStream() override;

  // Copies up to count bytes from the position on. Whole clusters that lie
  // one after another on the volume are read in one call; a part of a cluster
  // goes through a one-cluster cache. What cannot be read comes as zeros and
  // joins Missing().
  [[nodiscard]] size_t Read(void* buffer, size_t count) override;
  // Runs of whole clusters that follow one another on the volume.
  [[nodiscard]] size_t CopyTo(int outFd, size_t count) override;

  // The byte positions of the clusters the stream reads.
  const TClusChain& Chain() const { return Info.ClusChain; }
  // Reads of the volume the stream has made (for tests and benchmarks).
  uint64_t VolumeReads() const { return Reads; }

private:
  // Adds unreadable ranges, relative to data position at, to the missing
  // ones, as far as they lie inside the data.
  void MarkUnreadable(const TByteRanges& unreadable, int64_t at);
  // How many clusters from chain index k on (at most `most`) follow one
  // another on the volume.
  uint64_t RunFrom(uint64_t k, uint64_t most) const;

  TFatScaner* Fat = nullptr;
  TFatChainEntry Info;
  int64_t CachedCluster = -1;  // chain index whose bytes are in Buffer
  std::vector<uint8_t> Buffer;
  uint64_t Reads = 0;
};

}  // namespace mirel
