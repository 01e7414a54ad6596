#pragma once
// Writes a selection of found entries into a destination folder through the
// recovered-file writer; the recovery job runs it.
#include <atomic>
#include <functional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/ByteRanges.h"
#include "core/FileInfo.h"
#include "workers/DestinationPolicy.h"
#include "workers/Digests.h"

namespace mirel {

enum class TRecoveryStatus { Complete, Incomplete, Failed, Skipped };

// "complete", "incomplete", "failed", "skipped".
const char* StatusName(TRecoveryStatus status);

// Where a named stream of a recovered file went.
struct TStreamCopy {
  enum TKind {
    Stream,      // an NTFS destination: a stream of the file
    Attribute,   // the extended attribute user.NAME
    File,        // a file beside it, NAME:STREAM or NAME_STREAM
    NotWritten,  // the reason is in the file's Reason
  };
  std::string Name;
  TKind Kind = NotWritten;
  // The attribute's name or the file's path.
  std::string Dest;
};

// "stream", "attribute", "file", "none".
const char* StreamKindName(TStreamCopy::TKind kind);

// What happened to one file: for the front end's summary and the report.
struct TRecoveredFile {
  TFileInfo* Entry = nullptr;
  // From the volume root, "/"-separated.
  std::string VolumePath;
  // Where the file was meant to go, for messages.
  std::string Target;
  // The file written, left under its final name; empty when none was.
  std::string Dest;
  TRecoveryStatus Status = TRecoveryStatus::Failed;
  // Why it failed, was skipped or is incomplete; empty when complete.
  std::string Reason;
  // Bytes the file holds, and how many of them came from the volume.
  int64_t Size = 0;
  int64_t Written = 0;
  // The parts of the file that could not be read: zeros in the file.
  TByteRanges Missing;
  // Lower-case hex SHA-256 of the file's bytes; empty when none was written
  // or the thread was not asked to hash.
  std::string Sha256;
  // The file's named streams, in the volume's order.
  std::vector<TStreamCopy> Streams;
  // What the user should know of a file that came back whole, e.g. that it
  // took another name; empty when nothing.
  std::string Note;
  // The checksums asked for with --hash, read back from the file written.
  THashes Hashes;
};

class TRecoveringThread {
public:
  explicit TRecoveringThread(TDiskItems items);
  TRecoveringThread(const TRecoveringThread&) = delete;
  TRecoveringThread& operator=(const TRecoveringThread&) = delete;

  // Runs the whole recovery on the calling thread; a stop request ends it
  // after the current file's stage.
  void Execute(std::stop_token stop);
  bool Terminated() const { return Stop.stop_requested(); }

  TDiskItems Items;
  std::string DestDir;
  std::atomic<int> FilePercent{0};
  std::atomic<int> TotalPercent{0};
  std::atomic<int64_t> BytesWritten{0};
  // The run's files and their bytes, counted before the first is written
  // (FilesTotal is -1 until then), and the files finished so far, whatever
  // became of them.
  std::atomic<int> FilesTotal{-1};
  std::atomic<int64_t> BytesTotal{0};
  std::atomic<int> FilesDone{0};
  // SHA-256 of each file written, for the report; it halves the speed at
  // which a large file is copied.
  bool Hash = true;

  // The files of a folder that a folder recovery writes; all when empty.
  TEntryFilter FolderFilter;
  // path: where the file is meant to go.
  std::function<void(const std::string& path, TFileInfo* entry)> OnFileStart;
  // A file of that name exists at path: what to do. Unbound: skip.
  std::function<TExistsAnswer(const std::string& path)> OnFileExists;
  std::function<void(const TRecoveredFile& result)> OnFileDone;
  // Runs between writing a file's data and finishing it, with the folder and
  // the temporary name; tests stand in for a race there.
  std::function<void(int folderFd, const std::string& tempName)> OnDataWritten;

  // A folder recovery wrote this entry; a later selection of it is skipped.
  void MarkRecovered(TFileInfo* e) { Recovered.insert(e); }

  // The file-system name of the destination folder (looked up once per folder).
  const std::string& DestinationFileSystem(const std::string& folder);

  // Entries whose Parent is the given folder, in catalogue order.
  const std::vector<TFileInfo*>& ChildFiles(TFileInfo* folder);
  const std::vector<TFileInfo*>& ChildFolders(TFileInfo* folder);

private:
  void BuildChildIndex();
  void CountWork();
  bool IndexBuilt = false;
  std::unordered_set<TFileInfo*> Recovered;
  std::unordered_map<TFileInfo*, std::vector<TFileInfo*>> FilesOf, FoldersOf;
  std::unordered_map<std::string, std::string> FileSystemOf;
  std::stop_token Stop;
};

}  // namespace mirel
