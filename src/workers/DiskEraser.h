#pragma once
// Makes the remains of deleted files on a mounted volume unrecoverable without
// touching live files: fills the free space with temporary files of random
// bytes; on NTFS first takes every free MFT record with a tiny file, on FAT
// afterwards takes every free directory entry with an empty file. Every
// temporary file is removed again when the eraser closes it, and recorded
// until then, so that the next run removes what a crashed one left.
#include <atomic>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "workers/EraseJournal.h"

namespace mirel {

class TDiskObject;
class TUpdateTarget;
struct TTempFileSlot;

class TDiskEraser {
public:
  // root: the folder where the volume is mounted.
  TDiskEraser(TDiskObject* disk, std::string root);
  virtual ~TDiskEraser();
  TDiskEraser(const TDiskEraser&) = delete;
  TDiskEraser& operator=(const TDiskEraser&) = delete;

  // The free-space fill; true when it created at least one file or found no
  // free space. The fill files stay open (the volume stays full) until
  // CloseFileHandles.
  virtual bool Erase();
  bool IsCancelled() const { return Stop.stop_requested(); }
  // Removes the temporary files that runs which did not end normally left
  // under the root, as their records in the state folder name them.
  void RemoveLeftovers();

  TDiskObject* Disk;
  std::string Root;
  // Clusters per fill write at the start.
  int64_t ChunkClusters = 4096;
  // Set before Erase: where progress goes (nowhere when null) and the
  // request to stop.
  TUpdateTarget* Sink = nullptr;
  std::stop_token Stop;
  std::atomic<int64_t> BytesWritten{0};
  std::atomic<int> FilesCreated{0};

protected:
  // Creates the next temporary file in folder (ending with '/'); appends it to
  // FileHandles when keepFailed or when it was created. Returns the descriptor
  // or -1.
  int OpenTempFile(const std::string& folder, bool writeThrough, bool keepFailed);
  // Closes and removes every temporary file, and empties the list.
  void CloseFileHandles();
  // Names for the next temporary file are counted from the list's length.
  size_t TempFileCount() const { return FileHandles.size(); }

private:
  struct TTempFile {
    int Fd = -1;
    std::string Path;
    TTempFileSlot* Slot = nullptr;
  };
  std::vector<TTempFile> FileHandles;
  std::string StateFolder;
  TEraseJournal Journal;
};

class TFatEraser : public TDiskEraser {
public:
  using TDiskEraser::TDiskEraser;
  bool Erase() override;
  // Fills folder's free directory entries with empty files, then its subfolders'.
  void FillFolderEntries(const std::string& folder, int depth = 0);
};

class TNtfsEraser : public TDiskEraser {
public:
  using TDiskEraser::TDiskEraser;
  bool Erase() override;
  // Takes free MFT records with tiny files; returns how many were created.
  int64_t FillFreeRecords(int64_t count);
};

// The eraser that fits the volume's file system, or null.
std::unique_ptr<TDiskEraser> CreateEraser(TDiskObject* disk, const std::string& root);

// "_E100000.BAK" for index 0: the temporary names, six lower-case hex digits.
std::string EraserTempName(size_t index);

}  // namespace mirel
