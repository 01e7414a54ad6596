#pragma once
// Makes the remains of deleted files on a mounted volume unrecoverable without
// touching live files: fills the free space with temporary files of random
// bytes. The file systems derive their erasers from it, adding the passes
// over their own metadata. Every temporary file is removed again when the
// eraser closes it, and recorded until then, so that the next run removes
// what a crashed one left.
#include <sys/types.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "erase/EraseJournal.h"
#include "erase/EraserNames.h"

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
  [[nodiscard]] virtual bool Erase();
  bool IsCancelled() const { return Stop.stop_requested(); }
  // Removes the temporary files that runs which did not end normally left
  // under the root, as their records in the state folder name them.
  void RemoveLeftovers();

  TDiskObject* Disk;
  std::string Root;
  // Writes go out in whole sectors of this size.
  static constexpr size_t kSector = 512;
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
  [[nodiscard]] int OpenTempFile(const std::string& folder, bool writeThrough, bool keepFailed);
  // Closes and removes every temporary file, and empties the list.
  void CloseFileHandles();
  // Takes every free entry slot of folder (ending with '/') and of the
  // folders below it with empty files, at most maxFiles per folder: with the
  // free space taken a folder cannot grow, so files are made until its own
  // free slots run out, and the entries of deleted files are overwritten.
  void FillFolderSlots(const std::string& folder, int maxFiles, int depth = 0);
  // Names for the next temporary file are counted from the list's length.
  size_t TempFileCount() const { return FileHandles.size(); }
  // Marks a new temporary file hidden where the mounted file system keeps
  // the attribute; the eraser works the same without it.
  virtual void HideFile(int fd) {}

  [[nodiscard]] static ssize_t WriteAll(int fd, const uint8_t* p, size_t n);
  // Bytes 0 to 254 from a generator seeded by the clock.
  static void FillRandom(uint8_t* p, size_t n);

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

// The eraser that the volume's file-system driver gives, or null.
std::unique_ptr<TDiskEraser> CreateEraser(TDiskObject* disk, const std::string& root);

}  // namespace mirel
