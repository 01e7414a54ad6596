#pragma once
// Stream over one data stream of a found NTFS entry: runs mapped to clusters,
// a cluster block cached at a time, runs without clusters read as zeros,
// LZNT1-compressed units decoded, resident data served from the record. An
// encrypted entry is delivered as the raw encrypted-file image.
#include <cstdint>
#include <string>
#include <vector>

#include "core/RecoveryStream.h"
#include "ntfs/MftReader.h"

namespace mirel {

class TRecoveryNtfsStream : public TRecoveryStream {
public:
  // Reads through the reader of a private scanner on the volume.
  TRecoveryNtfsStream(TDiskObject* disk, PFileInfo entry, const std::string& streamName = {});
  // Reads through a reader that outlives the stream (the scanner's own).
  TRecoveryNtfsStream(const TMftReader* reader, PFileInfo entry);

  // The selected stream's own size; for an encrypted entry, the image's.
  int64_t GetSize() const override;
  size_t Read(void* buffer, size_t count) override;
  // Plain clusters of one run at a time; compressed, encrypted, resident data
  // and runs without clusters go through Read.
  size_t CopyTo(int outFd, size_t count) override;
  // Moves without bounds; a position outside the data reads nothing.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Maps a data position to Current/Avail, reading its cluster block when needed.
  bool SetPosition(int64_t pos);

  TNtfsFileInfo* FileInfo = nullptr;
  const TMftReader* Reader = nullptr;
  TRunList Runs;
  TNtfsAttr DataAttr;
  int64_t TotalSize = 0;
  int64_t DataSize = 0;
  uint32_t UnitClusters = 16;
  bool UnitCompressed = false;
  std::vector<uint8_t> EfsHeader;

private:
  void OpenDataStream(const std::string& name);
  void LoadBlock(int64_t vc);
  void LoadUnit(int64_t unit);
  // The run holding virtual cluster vc, or -1.
  int FindRun(int64_t vc) const;
  // Reads count clusters at lcn to out; zeros where the volume gives nothing.
  void ReadClusters(int64_t lcn, int64_t count, uint8_t* out);

  // Virtual cluster where each run starts, the runs laid end to end.
  std::vector<int64_t> RunStart;
  // Data positions past this are not delivered (rounded up to 512 for an
  // encrypted entry, whose data are stored in whole blocks).
  int64_t DataLimit = 0;
  int64_t CacheVcn = -65535;
  std::vector<uint8_t> Cache;
  size_t CacheValid = 0;
  const uint8_t* Current = nullptr;
  size_t Avail = 0;
  bool ReadFailed = false;
};

}  // namespace mirel
