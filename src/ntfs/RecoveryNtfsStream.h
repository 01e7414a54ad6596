#pragma once
// Stream over one data stream of a found NTFS entry: runs mapped to clusters
// by their VCNs, a cluster block cached at a time, runs without clusters read
// as zeros, LZNT1-compressed units decoded, resident data served from the
// record. An encrypted entry is delivered as the raw encrypted-file image.
// What cannot be read (clusters no usable extent maps, past the end of the
// source, read errors, units that do not decode) is delivered as zeros and
// named in Missing(); so are the clusters of a deleted file that the volume
// bitmap gives to another file now.
#include <cstdint>
#include <string>
#include <vector>

#include "core/RecoveryStream.h"
#include "ntfs/MftReader.h"

namespace mirel {

class TRecoveryNtfsStream : public TRecoveryStream {
public:
  // Reads through the reader of a private scanner on the volume.
  TRecoveryNtfsStream(TDiskObject* disk, TFileInfo* entry, const std::string& streamName = {});
  // Reads through a reader that outlives the stream (the scanner's own);
  // quiet: what cannot be read is not logged.
  TRecoveryNtfsStream(const TMftReader* reader, TFileInfo* entry, bool quiet = false);

  // The selected stream's own size; for an encrypted entry, the image's.
  int64_t GetSize() const override;
  [[nodiscard]] size_t Read(void* buffer, size_t count) override;
  // Plain clusters of one run at a time; compressed, encrypted, resident data
  // and runs without clusters go through Read.
  [[nodiscard]] size_t CopyTo(int outFd, size_t count) override;
  // Moves without bounds; a position outside the data reads nothing.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Maps a data position to Current/Avail, reading its cluster block when needed.
  [[nodiscard]] bool SetPosition(int64_t pos);

  TNtfsFileInfo* FileInfo = nullptr;
  const TMftReader* Reader = nullptr;
  // The stream's extents: its first attribute and its runs placed by VCN.
  TStreamRuns Data;
  int64_t TotalSize = 0;
  int64_t DataSize = 0;
  uint32_t UnitClusters = 16;
  bool UnitCompressed = false;
  std::vector<uint8_t> EfsHeader;

private:
  void OpenDataStream(const std::string& name);
  // Names the parts of the data known to be lost before anything is read:
  // clusters no run maps, clusters past the end of the source.
  void AddKnownGaps();
  // A deleted file's clusters that the volume bitmap marks in use hold
  // another file's data now: they go into Reused and are missing.
  void MarkReusedClusters();
  // Zeros the bytes of Reused among size bytes at data position at.
  void ZeroReused(int64_t at, uint8_t* out, size_t size) const;
  // Names data bytes [offset, offset + length) as missing, widened to whole
  // units for compressed data, as positions of the stream.
  void AddMissing(int64_t offset, int64_t length);
  void LoadBlock(int64_t vc);
  void LoadUnit(int64_t unit);
  // Reads count clusters at lcn (-1: a run without clusters) to out; zeros
  // where the source gives nothing. Returns what could not be read, relative
  // to out.
  [[nodiscard]] TByteRanges ReadClusters(int64_t lcn, int64_t count, uint8_t* out);
  // A unit whose data cannot be trusted: zeros, and missing as a whole.
  void LoseUnit(int64_t first, const char* why);

  bool Resident = false;
  // Data positions of clusters that belong to another file now.
  TByteRanges Reused;
  // Data positions past this are not delivered (rounded up to 512 for an
  // encrypted entry, whose data are stored in whole blocks).
  int64_t DataLimit = 0;
  int64_t DataClusters = 0;
  int64_t CacheVcn = -65535;
  std::vector<uint8_t> Cache;
  size_t CacheValid = 0;
  const uint8_t* Current = nullptr;
  size_t Avail = 0;
  // One debug-log line per stream for what it could not read.
  bool Logged = false;
  bool Quiet = false;
};

}  // namespace mirel
