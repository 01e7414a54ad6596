#pragma once
// The base of the file-system scanners: the stop signal, publication of found
// entries to the front end, and an entry's path. The volume's catalogue owns
// the entries.
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "core/FileInfo.h"
#include "platform/SourceHandle.h"

namespace mirel {

class TDiskObject;
class TUpdateTarget;

struct TScanOptions {
  // Quick keeps deleted entries only; Long (false) keeps live ones too.
  bool Quick = true;
  // Long scans only: whether scanners that can also search free space for
  // folders nothing links to any more (FAT) do so. It reads all free space.
  bool LostFolders = false;
};

class TDiskScaner {
public:
  explicit TDiskScaner(TDiskObject* disk);
  virtual ~TDiskScaner();
  TDiskScaner(const TDiskScaner&) = delete;
  TDiskScaner& operator=(const TDiskScaner&) = delete;

  // Drops what the scanner keeps between the steps of one scan.
  virtual void ReleaseScanData() {}
  // Opens the handle, as each scan does first; subclasses read geometry.
  [[nodiscard]] virtual bool Init();
  // The whole scan; the base forgets the last one's problems.
  virtual void ScanForFiles();

  bool IsStopped() const { return Stop.stop_requested(); }
  // Progress in the scanner's own unit, and the end of a walk, to the sink.
  void ReportProgress(int64_t done, int64_t total);
  void ReportDone();

  void PublishFile(TFileInfo* entry);
  void PublishFolder(TFileInfo* entry);

  // The volume's root folder entry before it is catalogued: "name: (label)",
  // sized as the volume.
  TFileInfo RootTemplate() const;
  // Moves tmpl into the catalogue as a file and publishes it; its index in
  // the file list, or -1 when memory runs out (logged under operation).
  int CatalogueFile(TFileInfo&& tmpl, const char* operation);

  TDiskObject* Disk = nullptr;
  TSourceHandle Handle;
  uint32_t ClusterSize = 0;

  // Set by whoever runs the scan, before ScanForFiles: the mode, where found
  // entries and progress go (nowhere when null) and the stop request.
  TScanOptions Options;
  TUpdateTarget* Sink = nullptr;
  std::stop_token Stop;

  // What the last scan could not read. ScanFailure: metadata without which
  // nothing can be listed (the root folder, the allocation table, the MFT's
  // own record or runs); the catalogue is then empty or near it. ScanWarnings:
  // parts that were lost (a folder, a block of records); the rest is listed.
  // Written by the scanning thread, read once the scan has ended.
  std::string ScanFailure;
  std::vector<std::string> ScanWarnings;
  void ClearScanProblems();

private:
  // The highest percentage reported in this scan.
  int LastPercent = -1;
};

// "name:/dir/dir/": the volume name and the folders above the entry. A
// topmost folder whose name holds ":" (a volume's root entry) is left out.
std::string GetEntryPath(const TFileInfo& entry);
// "dir/dir/name": the entry's path from the volume's root, the root left out.
std::string GetRelativePath(const TFileInfo& entry);
// Whether the entry is a volume's root folder entry (its name holds ":").
bool IsVolumeRoot(const TFileInfo& entry);

}  // namespace mirel
