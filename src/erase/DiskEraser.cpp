#include "erase/DiskEraser.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "core/StateDir.h"
#include "core/UpdateView.h"
#include "erase/TempFileRegistry.h"

namespace mirel {

namespace {

// Writes go out in whole sectors; the buffer is aligned for any sector size.
constexpr size_t kSector = TDiskEraser::kSector;
constexpr size_t kBufferAlign = 4096;

struct TFreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using TAlignedBuffer = std::unique_ptr<uint8_t, TFreeDeleter>;

TAlignedBuffer AllocAligned(size_t size) {
  void* p = nullptr;
  if (posix_memalign(&p, kBufferAlign, size) != 0) return nullptr;
  return TAlignedBuffer(static_cast<uint8_t*>(p));
}

// The next, smaller write: a sixteenth, in whole sectors, ending with one sector.
size_t Shrink(size_t chunk) {
  if (chunk <= kSector) return 0;
  size_t next = chunk / 16 / kSector * kSector;
  return next ? next : kSector;
}

struct TFreeSpace {
  int64_t ClusterSize = 0;
  int64_t FreeBytes = 0;
  // Some FUSE drivers report no sizes at all: then only the writes can tell.
  bool Known = false;
};

TFreeSpace MeasureFreeSpace(const std::string& root) {
  TFreeSpace f;
  struct statvfs st {};
  if (::statvfs(root.c_str(), &st) != 0) return f;
  f.ClusterSize = static_cast<int64_t>(st.f_frsize ? st.f_frsize : st.f_bsize);
  f.Known = st.f_blocks != 0;
  f.FreeBytes = f.Known ? static_cast<int64_t>(st.f_bfree) * f.ClusterSize : 0;
  return f;
}

}  // namespace

ssize_t TDiskEraser::WriteAll(int fd, const uint8_t* p, size_t n) {
  ssize_t w;
  do {
    w = ::write(fd, p, n);
  } while (w < 0 && errno == EINTR);
  return w;
}

void TDiskEraser::FillRandom(uint8_t* p, size_t n) {
  std::mt19937 gen(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> byte(0, 254);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(byte(gen));
}

TDiskEraser::TDiskEraser(TDiskObject* disk, std::string root)
    : Disk(disk), Root(std::move(root)), StateFolder(StateDir()), Journal(StateFolder) {
  if (Root.empty() || Root.back() != '/') Root += '/';
}

TDiskEraser::~TDiskEraser() { CloseFileHandles(); }

int TDiskEraser::OpenTempFile(const std::string& folder, bool writeThrough, bool keepFailed) {
  std::string path = folder + EraserTempName(FileHandles.size());
  // O_EXCL: a file of the user's that happens to bear the name is never truncated.
  int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | (writeThrough ? O_SYNC : O_DIRECT);
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0 && !writeThrough && errno == EINVAL) {
    // No direct I/O on this file system: each write goes through to the disk instead.
    fd = ::open(path.c_str(), (flags & ~O_DIRECT) | O_DSYNC, 0600);
  }
  if (fd < 0) {
    if (keepFailed) FileHandles.push_back({-1, path, nullptr});
    return -1;
  }
  // The large fill files are the ones a crash must not leave: their record
  // is on the disk before they grow.
  Journal.Record(path, !writeThrough);
  FileHandles.push_back({fd, path, RegisterTempFile(path)});
  ++FilesCreated;
  HideFile(fd);
  return fd;
}

void TDiskEraser::CloseFileHandles() {
  bool allGone = true;
  for (TTempFile& f : FileHandles) {
    if (f.Fd < 0) continue;
    ::close(f.Fd);
    // FUSE releases a closed file asynchronously; a driver that cannot hide a
    // file still open refuses the unlink until the release has arrived.
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
      gone = ::unlink(f.Path.c_str()) == 0 || errno == ENOENT;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!gone)
      WriteDebugLog("%s: cannot remove %s: %s", "DiskEraser.CloseFileHandles", f.Path.c_str(), std::strerror(errno));
    allGone = allGone && gone;
    ForgetTempFile(f.Slot);
  }
  FileHandles.clear();
  // A file that could not be removed stays recorded for the next run.
  if (allGone) Journal.Clear();
}

void TDiskEraser::RemoveLeftovers() { TEraseJournal::RemoveLeftovers(StateFolder, Root); }

bool TDiskEraser::Erase() {
  enum TStage { stMeasure, stCreate, stFirstWrite, stFill, stEnd };
  TStage stage = stMeasure;
  bool result = false;
  int tries = 3;
  size_t chunk = 0;
  int64_t freeBytes = 0, written = 0, lastFree = -1;
  ssize_t last = -1;
  int fd = -1;
  TAlignedBuffer buffer;
  size_t bufferSize = 0;
  while (stage != stEnd && !IsCancelled()) {
    switch (stage) {
      case stMeasure: {
        TFreeSpace space = MeasureFreeSpace(Root);
        if (space.Known && space.FreeBytes == 0) {
          result = true;
          stage = stEnd;
          break;
        }
        // A volume that reports free space but takes no more of it must not
        // make the fill start file after file.
        if (space.Known && lastFree >= 0 && space.FreeBytes >= lastFree) {
          stage = stEnd;
          break;
        }
        lastFree = space.FreeBytes;
        freeBytes = space.Known ? space.FreeBytes : (Disk ? Disk->FreeSize : 0);
        int64_t cluster = space.ClusterSize > 0 ? space.ClusterSize : static_cast<int64_t>(kSector);
        chunk = static_cast<size_t>(std::max<int64_t>(cluster * ChunkClusters / kSector * kSector, kSector));
        if (!buffer || bufferSize < chunk) {
          buffer = AllocAligned(chunk);
          bufferSize = buffer ? chunk : 0;
        }
        if (!buffer) {
          stage = stEnd;
          break;
        }
        FillRandom(buffer.get(), chunk);
        tries = 3;
        stage = stCreate;
        break;
      }
      case stCreate:
        fd = OpenTempFile(Root, false, true);
        if (fd < 0) {
          if (--tries < 0) stage = stEnd;
        } else {
          result = true;
          stage = stFirstWrite;
        }
        break;
      case stFirstWrite:
        written = 0;
        do {
          last = WriteAll(fd, buffer.get(), chunk);
          if (last > 0) {
            written += last;
            BytesWritten += last;
          } else {
            chunk = Shrink(chunk);
          }
        } while (last <= 0 && chunk > 0);
        stage = last > 0 ? stFill : stEnd;
        break;
      case stFill:
        while (chunk > 0) {
          if (IsCancelled()) break;
          last = WriteAll(fd, buffer.get(), chunk);
          if (last > 0) {
            written += last;
            BytesWritten += last;
          }
          if (Sink) Sink->EraseProgress(Disk, written, freeBytes);
          if (last <= 0) chunk = Shrink(chunk);
        }
        stage = stMeasure;
        break;
      case stEnd: break;
    }
  }
  return result;
}

void TDiskEraser::FillFolderSlots(const std::string& folder, int maxFiles, int depth) {
  // Deeper trees than this are made by no driver of these file systems.
  constexpr int kMaxFolderDepth = 128;
  int tries = 3, made = 0;
  while (tries != 0 && made < maxFiles && !IsCancelled()) {
    if (OpenTempFile(folder, true, false) >= 0) {
      tries = 3;
      ++made;
    } else {
      --tries;
    }
  }
  if (depth >= kMaxFolderDepth) return;
  struct stat self {};
  if (::stat(folder.c_str(), &self) != 0) return;
  std::vector<std::string> subfolders;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      if (IsCancelled()) break;
      const std::string name = e->d_name;
      struct stat st {};
      const std::string path = folder + name;
      // Only folders of this volume: a mount below it is another one.
      if (name != "." && name != ".." && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
          st.st_dev == self.st_dev)
        subfolders.push_back(name);
    }
    ::closedir(dir);
  }
  for (const std::string& name : subfolders) {
    if (IsCancelled()) break;
    FillFolderSlots(folder + name + "/", maxFiles, depth + 1);
  }
}

std::unique_ptr<TDiskEraser> CreateEraser(TDiskObject* disk, const std::string& root) {
  if (!disk) return nullptr;
  const TFileSystemDriver* driver = FindFileSystem(disk->FileSystem);
  if (!driver || !driver->CreateEraser) return nullptr;
  return driver->CreateEraser(*disk, root);
}

}  // namespace mirel
