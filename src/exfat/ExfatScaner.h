#pragma once
// The exFAT scanner: geometry from the boot region, the allocation bitmap
// and table, cluster runs of files and folders, and the walk of the folder
// tree that rebuilds deleted files and folders from their entry sets.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/ByteRanges.h"
#include "core/DiskScaner.h"
#include "exfat/ExfatBitmap.h"
#include "exfat/ExfatBootSector.h"
#include "exfat/ExfatDirEntry.h"
#include "exfat/ExfatFileInfo.h"

namespace mirel {

// Clusters that follow one another on the volume.
struct TExfatRun {
  uint32_t First = 0;
  uint32_t Count = 0;
};
using TExfatRuns = std::vector<TExfatRun>;

class TExfatScaner : public TDiskScaner {
public:
  explicit TExfatScaner(TDiskObject* disk);
  ~TExfatScaner() override;

  void ReleaseScanData() override;
  // Opens the handle, reads the boot sector in use and finds the allocation
  // bitmap and the label in the root folder; false (logged) when unusable.
  [[nodiscard]] bool Init() override;
  void ScanForFiles() override;

  int64_t ClusterOffset(uint32_t n) const { return HeapStart + (int64_t{n} - exfat::kFirstCluster) * ClusterSize; }
  bool IsClusterFree(uint32_t n);
  // The clusters an entry's data lies in, in order, at most as many as its
  // length needs. A live entry follows the run or the table. A deleted
  // entry keeps its run where it had one, the table's chain where that
  // still links free clusters all the way, and otherwise takes the free
  // clusters from its first one on, skipping those in use (none when the
  // first is in use).
  TExfatRuns DataRuns(const TExfatFileInfo& rec);
  // Clusters the entry's data needs.
  uint64_t ClustersFor(uint64_t bytes) const;
  // Share, 0 to 100, of a deleted entry's clusters that are free and held
  // by the source; 0 for no data.
  int ComputeCondition(const TExfatFileInfo& rec);
  int64_t CountFreeBytes();

  exfat::TExfatBootSector Boot;
  int64_t HeapStart = 0;
  std::string Label;
  // Whether Init writes its failures to the debug log.
  bool LogInitFailures = true;

private:
  struct TDirBytes;
  // The table's entry for cluster n; nothing when it cannot be read.
  [[nodiscard]] std::optional<uint32_t> FatEntry(uint32_t n);
  // Up to `most` clusters of the table's chain from first; stops at the
  // chain's end, a cluster outside the heap, or a repeat.
  TExfatRuns FollowChain(uint32_t first, uint64_t most);
  TExfatRuns CollectFree(uint32_t first, uint64_t count);
  [[nodiscard]] bool LoadBitmap();
  // Reads the runs' clusters (those in use left out where skipUsed) into
  // out.Bytes; unreadable parts are noted in out.Unreadable.
  void ReadRuns(const TExfatRuns& runs, bool skipUsed, uint64_t most, TDirBytes& out);
  void ReadRootEntries();
  void ReadPendingFolders();
  void ReadDir(int index);
  void AddEntry(TFileInfo* folder, const TExfatFileInfo& parent, std::span<const uint8_t> set, int64_t at);
  int AddDir(TFileInfo&& tmpl);
  int AddFile(TFileInfo&& tmpl);
  void PublishFolderChain(TFileInfo* folder);
  void SummariseScanProblems();

  std::optional<exfat::TAllocationBitmap> Bitmap;
  exfat::TDataEntry BitmapEntry;
  bool BitmapFound = false;
  bool BitmapFailed = false;
  // The table is read in blocks, the last one kept.
  std::vector<uint8_t> FatBlock;
  uint32_t FatBlockFirst = 0;
  bool FatBlockValid = false;
  bool FatReadFailed = false;
  int64_t FatStart = 0;

  TDiskItems PendingFolders;
  // Directory clusters read in this scan: none is read twice, so a folder
  // whose clusters hold an ancestor's directory cannot make the walk circle.
  std::unordered_set<uint32_t> ReadClusters;
  bool Quick = true;
  uint64_t UnreadFolderCount = 0;
  std::vector<std::string> UnreadFolders;
  uint64_t DroppedSets = 0;
};

}  // namespace mirel
