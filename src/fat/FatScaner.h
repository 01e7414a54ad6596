#pragma once
// The FAT scanner family: the volume geometry taken from the boot sector,
// cluster chains over the allocation table (FatTable.h), and the directory
// scan that rebuilds deleted files and folders (FatDirScan.cpp).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/DiskScaner.h"
#include "fat/FatBootSector.h"
#include "fat/FatDirEntry.h"
#include "fat/FatRecords.h"
#include "fat/FatTable.h"

namespace mirel {

// Outcome of the last directory-entry step.
enum TFatStepError : int {
  feNone = 0,
  feWindowUnreadable = 3,
  feEntryUnusable = 4,
  feEndOfDirectory = 5,
  feNoMemory = 6,
  // A live file met by a Quick scan: nothing of it is decoded.
  fePassedOver = 7,
};

class TFatScaner : public TDiskScaner {
public:
  explicit TFatScaner(TDiskObject* disk);
  ~TFatScaner() override;

  void ReleaseScanData() override;
  // Opens the handle and reads the geometry from the boot sector; fails (with
  // one log line) when the sector cannot be read or its geometry is unusable.
  [[nodiscard]] bool Init() override;
  void ScanForFiles() override;

  // Byte position of cluster n on the volume.
  int64_t ClusterOffset(uint32_t n) const;
  // The allocation-table entry of cluster n; BadCluster when it cannot be read
  // or n is no data cluster of the volume.
  uint32_t GetNextCluster(uint32_t n) { return Table.Next(n); }
  bool IsClusterFree(uint32_t n) { return Table.IsFree(n); }
  // Whether a table value ends a chain (free, bad, or end of chain).
  bool EndsChain(uint32_t value) const { return Table.EndsChain(value); }

  // Fills rec.ClusChain for a file of the given size. A live file follows the
  // allocation table. A deleted file takes the clusters that are free from its
  // first cluster on, skipping those the table gives to live data; when the
  // first cluster itself is in use again, the data's start is gone and the
  // chain stays empty.
  void GetFileClusChain(TFatChainEntry& rec, uint32_t size);
  // Fills the folder record's chain: a live folder follows the allocation
  // table; a deleted one gets its first cluster, when that is still free.
  void GetDirClusChain(TFileInfo& folder);
  // Share, 0 to 100, of a deleted file's recorded size that its stream will
  // deliver: the free clusters its chain takes, as far as the source holds
  // them. 0 when its first cluster is in use again. lastCluster, when given,
  // receives the last cluster the chain takes (0 for none).
  int ComputeCondition(const TFatEntryInfo& rec, uint32_t size, uint32_t* lastCluster = nullptr);
  // Width of an allocation-table entry.
  virtual fat::TFatKind Kind() const = 0;
  // Free data clusters, from the FAT32 information sector when it holds a
  // plausible count, else by reading the whole table.
  int64_t CountFreeClusters();

  // Chain constants of the variant.
  uint32_t EocMax = 0, BadCluster = 0, EocMin = 0;
  int LastError = feNone;

  // Geometry, valid after a successful Init.
  fat::TFatBootSector Boot;
  uint32_t BytesPerSector = 0;
  uint32_t SectorsPerCluster = 0;
  uint32_t ReservedSectors = 0;
  uint32_t NumFats = 0;
  uint32_t RootEntries = 0;
  uint32_t RootDirSectors = 0;
  uint32_t FatSectors = 0;
  int64_t FatSizeBytes = 0;
  uint32_t FirstDataSector = 0;
  int64_t DataStart = 0;
  uint32_t TotalSectors = 0;
  uint32_t MaxCluster = 0;
  uint8_t ActiveFat = 0;
  uint32_t RootCluster = 0;  // FAT32

  // The table in use, open after a successful Init.
  fat::TFatTable Table;
  // Whether Init writes its failures to the debug log.
  bool LogInitFailures = true;

protected:
  // Builds the root folder entry and appends it to PendingFolders.
  virtual void AddRootDir() = 0;
  // Variant part of Init: what the common geometry leaves open. Logs and
  // returns false when the values cannot be used.
  [[nodiscard]] virtual bool CompleteInit() = 0;
  uint32_t EntryBits() const { return static_cast<uint32_t>(Kind()); }

  // The chain of a live entry from first, at most maxClusters long; stops
  // (logged) where the table leaves the volume or loops back.
  void FollowChain(uint32_t first, uint64_t maxClusters, TClusChain& out, const char* who);
  // Up to count free clusters from first on, by the deleted-file rule.
  void CollectFreeClusters(uint32_t first, uint64_t count, TClusChain& out);
  // Most clusters one directory can fill.
  uint64_t MaxDirClusters() const;
  // The cluster at a byte position of the data region.
  uint32_t ClusterAt(int64_t pos) const;
  // Appends a folder to PendingFolders (not published); its index or -1.
  int AddDir(TFileInfo&& tmpl);
  // Appends a file to the volume's Files and publishes it; its index or -1.
  int AddFile(TFileInfo&& tmpl);
  // Publishes the folder and, before it, its unpublished ancestors, appending
  // each to the volume's Folders.
  void PublishFolderChain(TFileInfo* folder);

  std::vector<uint8_t> DirWindow;
  int64_t DirWindowPos = 0;
  // A folder's clusters that follow one another on the volume are read in
  // one call and kept here until their windows are taken.
  std::vector<uint8_t> DirAhead;
  int64_t DirAheadPos = 0;
  TDiskItems PendingFolders;
  int RootIndex = -1;

private:
  struct TDirWalk;
  // Reads the folders of PendingFolders from index `from` on, and those they
  // add (breadth first); progress reports the share taken in hand.
  void ReadPendingFolders(int from, bool progress);
  void ReadDir(int index);
  // A deleted folder's next directory cluster by the deleted-file rule: the
  // next free cluster, passing over those its own entries' data take; 0 when
  // there is none or it holds no directory entries.
  [[nodiscard]] bool GrowDeletedFolder(TDirWalk& walk);
  uint32_t NextFolderCluster(const TDirWalk& walk, uint32_t last);
  // Whether an entry passes the checks and its fields hold what a file
  // system writes (plausible dates, a size the volume can hold): for bytes
  // that no folder's chain vouches for.
  bool IsWrittenEntry(const uint8_t* e);
  // Whether every slot of a cluster up to its end marker is such an entry,
  // and there is at least one.
  bool HoldsDirEntries(const uint8_t* window, uint32_t bytes);
  // Long scans that were asked to: free clusters holding directories that
  // nothing reaches any more, listed as $lost_folder_<cluster> under the
  // root (FatLostFolders.cpp).
  void SearchLostFolders();
  // dot: the folder's "." entry, for its times; null when it has none.
  void ReadLostFolder(uint32_t cluster, const uint8_t* dot);
  // A folder with windows that could not be read: the scan's failure when it
  // is the root and nothing of it was read, else one of its warnings.
  void NoteUnreadFolder(int index, bool nothingRead, int64_t firstByte);
  void SummariseScanProblems();
  static constexpr size_t MAX_NAMED_UNREAD_FOLDERS = 5;
  std::vector<std::string> UnreadFolders;
  uint64_t UnreadFolderCount = 0;
  // Reads the next entry (with its long-name entries) of the walk into tmpl;
  // false once the directory has no more entries. Reports through LastError.
  [[nodiscard]] bool ReadFileInfo(TDirWalk& walk, TFileInfo& tmpl);
  bool IsValidEntry(const uint8_t* e);
  const uint8_t* NextDirEntry(TDirWalk& walk);
  [[nodiscard]] bool OpenDirWindow(TDirWalk& walk, int64_t pos, uint32_t bytes);
  // Fills DirWindow with the window at pos from DirAhead, reading ahead when
  // the folder's next clusters follow it on the volume; false when the window
  // is to be read alone.
  [[nodiscard]] bool TakeAhead(const TDirWalk& walk, int64_t pos, uint32_t bytes);
  [[nodiscard]] bool ReadGeometry();

  // Directory windows read in this scan: none is read twice, so a folder
  // whose clusters hold an ancestor's directory cannot make the walk circle.
  std::unordered_set<int64_t> ReadWindows;
  std::vector<fat::TDirEntryBytes> LongNameRun;
  bool Quick = true;  // the scan mode, taken when a scan starts
  bool SearchLost = false;
  TFileInfo* RootFolder = nullptr;
  // Scan progress is reported in these units; the lost-folder search takes
  // the part after the tree walk's.
  static constexpr int64_t PROGRESS_UNITS = 1000000;
  int64_t WalkUnits = PROGRESS_UNITS;
};

class TFat12Scaner : public TFatScaner {
public:
  explicit TFat12Scaner(TDiskObject* disk);

protected:
  void AddRootDir() override;
  bool CompleteInit() override { return true; }
  fat::TFatKind Kind() const override { return fat::TFatKind::Fat12; }
};

// FAT16: 16-bit table entries; otherwise as FAT12 (fixed root region).
class TFat16Scaner : public TFat12Scaner {
public:
  explicit TFat16Scaner(TDiskObject* disk);

protected:
  fat::TFatKind Kind() const override { return fat::TFatKind::Fat16; }
};

class TFat32Scaner : public TFatScaner {
public:
  explicit TFat32Scaner(TDiskObject* disk);

protected:
  void AddRootDir() override;
  [[nodiscard]] bool CompleteInit() override;
  fat::TFatKind Kind() const override { return fat::TFatKind::Fat32; }
};

// The scanner for a FAT file-system code (1, 2 or 3); null for any other.
std::unique_ptr<TFatScaner> MakeFatScaner(uint8_t fileSystem, TDiskObject* disk);

}  // namespace mirel
