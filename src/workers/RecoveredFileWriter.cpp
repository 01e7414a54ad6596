#include "workers/RecoveredFileWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "platform/FileTime.h"
#include "workers/RecoveringThread.h"

namespace fs = std::filesystem;

namespace mirel {

std::string SafeFileName(const std::string& name) {
  std::string s = name;
  for (char& c : s)
    if (c == '/' || c == '\0') c = '_';
  if (s.empty() || s == "." || s == "..") s = "_" + s;
  return s;
}

void CreateFolderChain(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

namespace {

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Linux caps one extended attribute's value at 64 KiB.
constexpr size_t MAX_XATTR_VALUE = 65536;

// Named streams go where the Linux NTFS drivers expose them: user.<name>.
void CopyNamedStreams(int fd, PFileInfo entry, TRecoveredFile& result) {
  for (const TNamedStream& ns : entry->FsInfo->NamedStreams()) {
    if (ns.Size > static_cast<int64_t>(MAX_XATTR_VALUE)) {
      result.Problem += "stream " + ns.Name + " too large for an extended attribute; ";
      continue;
    }
    std::unique_ptr<TRecoveryStream> s = CreateRecoveryStream(entry, ns.Name);
    if (!s) break;
    std::vector<char> data(static_cast<size_t>(ns.Size));
    size_t got = 0;
    while (got < data.size()) {
      size_t n = s->Read(data.data() + got, data.size() - got);
      if (n == 0) break;
      got += n;
    }
    if (::fsetxattr(fd, ("user." + ns.Name).c_str(), data.data(), got, 0) != 0) {
      result.Problem += "stream " + ns.Name + " not written (" + std::strerror(errno) + "); ";
      break;
    }
  }
}

// Hidden, system and archive go where the destination can hold them.
void SetDosAttributes(int fd, const std::string& destFs, uint32_t attributes) {
  if (destFs == "NTFS") {
    uint32_t be = __builtin_bswap32(attributes & 0x27);
    ::fsetxattr(fd, "system.ntfs_attrib_be", &be, sizeof be, 0);
  } else if (destFs == "FAT") {
    uint32_t fat = attributes & 0x27;
    ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &fat);
  }
}

void Finish(const std::string& path, PFileInfo entry, int64_t size, const std::string& destFs) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  // A size that cannot be set still leaves times and attributes to set.
  [[maybe_unused]] int sized = ::ftruncate(fd, size);
  if (destFs == "NTFS" && entry->CreationTime != 0) {
    uint64_t crtime = entry->CreationTime;  // little-endian FILETIME, as the driver wants it
    ::fsetxattr(fd, "system.ntfs_crtime", &crtime, sizeof crtime, 0);
  }
  SetDosAttributes(fd, destFs, entry->Attributes);
  if (entry->LastWriteTime != 0) {
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    times[1].tv_sec = static_cast<time_t>(FileTimeToUnix(entry->LastWriteTime));
    times[1].tv_nsec = FileTimeNanos(entry->LastWriteTime);
    ::futimens(fd, times);
  }
  ::close(fd);
  if (entry->Attributes & faReadOnly) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::chmod(path.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
  }
}

}  // namespace

void RecoverFile(TRecoveringThread& thread, std::string path, PFileInfo entry) {
  if (thread.Terminated || !entry) return;
  TRecoveredFile result;
  result.Entry = entry;
  auto done = [&] {
    result.Path = path;
    if (thread.OnFileDone) thread.OnFileDone(result);
  };
  if (thread.OnFileStart) thread.OnFileStart(path, entry);

  // Linux has no raw import of encrypted files: they are kept as their raw image.
  bool encrypted = entry->Disk && entry->Disk->FileSystem == fsNtfs && entry->FsInfo && entry->FsInfo->IsEncrypted();
  if (encrypted) path += ".efs";

  if (thread.Terminated) return;
  // The data first: an entry that cannot be read must not leave an empty
  // file behind, nor cost an existing file its contents.
  std::unique_ptr<TRecoveryStream> stream = CreateRecoveryStream(entry, "");
  if (!stream) {
    result.Skipped = true;
    result.Problem = "its data cannot be read";
    return done();
  }
  std::string why;
  int out;
  if (thread.OnCreateFile) {
    out = thread.OnCreateFile(path, false, why);
  } else {
    out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (out < 0) why = std::strerror(errno);
  }
  if (out < 0) {
    result.Skipped = true;
    result.Problem = why;
    return done();
  }

  if (thread.Terminated) {
    ::close(out);
    return;
  }
  stream->Seek(0, TSeekOrigin::Beginning);
  ::lseek(out, 0, SEEK_SET);
  std::vector<char> buffer(RECOVERY_BLOCK);
  // The raw image of an encrypted file is longer than the file itself.
  const int64_t expected = encrypted ? stream->GetSize() : entry->Size;
  thread.FilePercent = expected > 0 ? 0 : 100;
  for (;;) {
    if (thread.Terminated) {
      result.Problem = "stopped before the end";
      break;
    }
    // Data that lies on the volume as it is goes across in the kernel.
    size_t n = stream->CopyTo(out, buffer.size());
    if (n == 0) {
      n = stream->Read(buffer.data(), buffer.size());
      if (n == 0) break;
      if (!WriteAll(out, buffer.data(), n)) {
        result.Problem = std::string("write failed: ") + std::strerror(errno);
        break;
      }
    }
    result.Written += static_cast<int64_t>(n);
    thread.BytesWritten += static_cast<int64_t>(n);
    if (expected > 0)
      thread.FilePercent = static_cast<int>(std::min<int64_t>(result.Written, expected) * 100 / expected);
  }
  stream.reset();
  if (result.Problem.empty() && result.Written < expected)
    result.Problem = "only " + std::to_string(result.Written) + " of " + std::to_string(expected) + " bytes could be read";

  const std::string destFs = thread.DestinationFileSystem(fs::path(path).parent_path().string());
  if (!encrypted && destFs == "NTFS" && entry->FsInfo) CopyNamedStreams(out, entry, result);
  ::close(out);
  Finish(path, entry, expected, destFs);
  done();
}

void RecoverFolder(TRecoveringThread& thread, const std::string& path, PFileInfo entry, int depth) {
  if (!entry || depth >= MAX_FOLDER_DEPTH) return;
  std::vector<PFileInfo> files;
  for (PFileInfo f : thread.ChildFiles(entry))
    if (!thread.FolderFilter || thread.FolderFilter(*f)) files.push_back(f);
  if (!files.empty()) {
    if (thread.OnCreateFolder)
      thread.OnCreateFolder(path, entry);
    else
      CreateFolderChain(path);
    std::error_code ec;
    if (!fs::is_directory(path, ec)) return;
    for (PFileInfo f : files) {
      if (thread.Terminated) break;
      RecoverFile(thread, path + SafeFileName(f->Name), f);
      thread.MarkRecovered(f);
    }
  }
  for (PFileInfo g : thread.ChildFolders(entry)) {
    RecoverFolder(thread, path + SafeFileName(g->Name) + "/", g, depth + 1);
    thread.MarkRecovered(g);
  }
}

}  // namespace mirel
