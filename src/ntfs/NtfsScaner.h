#pragma once
// The NTFS scanner: walks every record of the master file table, keeps the
// deleted files (or, in the Long mode, every file), rebuilds the folder chain
// above each from the parent references, and rates each deleted file by the
// share of its clusters that the volume bitmap still marks free.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/BatchQueue.h"
#include "core/ByteRanges.h"
#include "core/DiskScaner.h"
#include "ntfs/MftReader.h"

namespace mirel {

class TRecoveryNtfsStream;
class TRecoveryStream;

// Reads like Read, with the bytes the stream names missing, and those it
// does not deliver, set to 0xFF: bitmap bits that cannot be read count as
// clusters in use.
[[nodiscard]] size_t ReadMarkingMissing(TRecoveryStream& stream, uint8_t* buffer, size_t count);

class TNtfsScaner : public TDiskScaner {
public:
  explicit TNtfsScaner(TDiskObject* disk);
  ~TNtfsScaner() override;

  void ReleaseScanData() override;
  bool Init() override;
  void ScanForFiles() override;

  // Moves the template into a new catalogue entry owning rec; the list index or -1.
  [[nodiscard]] int AddFile(TFileInfo tmpl, std::unique_ptr<TNtfsFileInfo> rec);
  [[nodiscard]] int AddDir(TFileInfo tmpl, std::unique_ptr<TNtfsFileInfo> rec);
  // The folder entry of record n, made with the folders above it when needed;
  // null when the record cannot be read.
  [[nodiscard]] TFileInfo* AddDirToTree(int64_t n);
  TFileInfo* FindFolder(int64_t n) const;
  // quiet: for a recovery stream, which leaves what cannot be read to the
  // scan to report.
  void ReadClustersBitmap(bool quiet = false);
  bool IsClusterFree(int64_t lcn);
  // The clusters of [lcn, lcn + count) whose bits the bitmap sets, as ranges
  // of LCNs in order. Bits that could not be read, and clusters past the
  // bitmap, are not named: the bitmap says nothing about them.
  [[nodiscard]] std::vector<TVcnRange> ClustersInUse(int64_t lcn, int64_t count);
  // The share of the data's clusters still there: free ones for a deleted
  // file, those the source holds for a live one. Below 100 when an extent
  // of the data is lost.
  int CalcFileCondition(const TNtfsFileInfo& rec, const TStreamRuns& data);
  // The header of the raw encrypted-file image of an entry; empty when the
  // entry is not encrypted or its $EFS data cannot be used.
  [[nodiscard]] std::vector<uint8_t> CreateEfsRecoveryData(const TFileInfo& entry) const;

  std::unique_ptr<TMftReader> Reader;
  std::unique_ptr<TFileInfo> BitmapEntry;
  std::unique_ptr<TRecoveryNtfsStream> BitmapStream;
  std::unordered_map<int64_t, TFileInfo*> FolderIndex;

private:
  // The bitmap bytes from byte on, read in whole chunks that stay cached for
  // the scan: each deleted file asks about its own clusters, and the volume's
  // files lie close together. Empty past the bitmap's end.
  std::span<const uint8_t> BitmapBytes(int64_t byte);
  TFileInfo* AddDirToTree(int64_t n, std::vector<int64_t>& chain);
  // One warning per range of records lost for one reason, up to a cap.
  void ReportLostRecords(const TByteRanges& records, const std::string& why);
  // Clusters of [lcn, lcn + count) that the bitmap marks free; sets stopped
  // when a stop request cut the count short.
  int64_t CountFreeClusters(int64_t lcn, int64_t count, bool& stopped);

  void PublishRecord(std::unique_ptr<TNtfsFileInfo> rec, int64_t recordNumber);

  struct TRecordBatch;
  struct TLostRecords;
  // Reads the MFT's records in order and hands those worth decoding over in
  // batches; what cannot be read or is torn goes to lost. Runs on a thread
  // of its own and reads only the volume and the reader.
  void WalkMft(TBatchQueue<TRecordBatch>& queue, TLostRecords& lost) const;
  // Whether a record whose fixups hold is one the scan keeps: no folder
  // (folders come in through the files below them), and in the Quick mode
  // only the base records of deleted files.
  [[nodiscard]] bool Wanted(std::span<const uint8_t> record) const;

  std::vector<std::vector<uint8_t>> BitmapChunks;
  bool BitmapQuiet = false;
  // Bitmap bytes that were not read, by position in the bitmap.
  TByteRanges BitmapUnread;
};

}  // namespace mirel
