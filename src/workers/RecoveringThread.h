#pragma once
// Writes a selection of found entries into a destination folder on a thread
// of its own, through the recovered-file writer.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/FileInfo.h"

namespace mirel {

// What happened to one file, for the front end's summary.
struct TRecoveredFile {
  std::string Path;
  PFileInfo Entry = nullptr;
  int64_t Written = 0;
  bool Skipped = false;
  // Why it was skipped, or what is wrong with what was written; empty when intact.
  std::string Problem;
};

class TRecoveringThread {
public:
  explicit TRecoveringThread(TDiskItems items);
  ~TRecoveringThread();
  TRecoveringThread(const TRecoveringThread&) = delete;
  TRecoveringThread& operator=(const TRecoveringThread&) = delete;

  void Start();
  // Asks the run to stop after the current file's stage.
  void Terminate() { Terminated = true; }
  void WaitFor();
  // Runs the whole recovery on the calling thread.
  void Execute();

  TDiskItems Items;
  std::string DestDir;
  std::atomic<bool> Terminated{false};
  std::atomic<int> FilePercent{0};
  std::atomic<int> TotalPercent{0};
  std::atomic<int64_t> BytesWritten{0};

  // The files of a folder that a folder recovery writes; all when empty.
  TEntryFilter FolderFilter;
  std::function<void(const std::string& path, PFileInfo entry)> OnFileStart;
  // Makes sure the folder exists; when unbound the whole chain is created.
  std::function<void(const std::string& path, PFileInfo entry)> OnCreateFolder;
  // Opens the destination file (may change path); returns a descriptor, or -1
  // with the reason in why to skip the file.
  std::function<int(std::string& path, bool encrypted, std::string& why)> OnCreateFile;
  std::function<void(const TRecoveredFile& result)> OnFileDone;
  std::function<void()> OnDone;

  // A folder recovery wrote this entry; a later selection of it is skipped.
  void MarkRecovered(PFileInfo e) { Recovered.insert(e); }

  // The file-system name of the destination folder (looked up once per folder).
  const std::string& DestinationFileSystem(const std::string& folder);

  // Entries whose Parent is the given folder, in catalogue order.
  const std::vector<PFileInfo>& ChildFiles(PFileInfo folder);
  const std::vector<PFileInfo>& ChildFolders(PFileInfo folder);

private:
  void BuildChildIndex();
  bool IndexBuilt = false;
  std::unordered_set<PFileInfo> Recovered;
  std::unordered_map<PFileInfo, std::vector<PFileInfo>> FilesOf, FoldersOf;
  std::unordered_map<std::string, std::string> FileSystemOf;
  std::jthread Worker;
};

}  // namespace mirel
