#include "workers/RecoveredFileWriter.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <vector>

#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "platform/FileTime.h"
#include "workers/DestinationFolder.h"
#include "workers/RecoveringThread.h"
#include "workers/Sha256.h"

namespace fs = std::filesystem;

namespace mirel {

std::string SafeFileName(const std::string& name) {
  std::string s = name;
  for (char& c : s)
    if (c == '/' || c == '\0') c = '_';
  if (s.empty() || s == "." || s == "..") s = "_" + s;
  return s;
}

std::string TempFileName(const std::string& name) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  // ".", ".mirel-" and six letters around the name, within 255 bytes.
  constexpr size_t kRoom = 255 - 1 - 7 - 6;
  size_t keep = std::min(name.size(), kRoom);
  // Cut between two characters, not inside one.
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  std::string out = "." + name.substr(0, keep) + ".mirel-";
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (int i = 0; i < 6; ++i) out += kLetters[pick(random)];
  return out;
}

namespace {

std::string ErrnoText(int e) { return std::strerror(e); }

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

// Reads back what the kernel copied into fd at offset, for the hash: the
// hash is of what the file holds.
bool HashBack(int fd, int64_t offset, size_t count, std::vector<char>& buffer, TSha256& hash) {
  while (count > 0) {
    const ssize_t n = ::pread(fd, buffer.data(), std::min(count, buffer.size()), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    hash.Update(buffer.data(), static_cast<size_t>(n));
    offset += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Where a finished file goes, decided before its data is written.
struct TPlacement {
  enum TKind { New, Replace, Numbered };
  int Dir = -1;
  std::string Folder;
  std::string Name;
  TKind Kind = New;
  // The folder of a name the user chose elsewhere.
  int OwnedDir = -1;
  ~TPlacement() {
    if (OwnedDir >= 0) ::close(OwnedDir);
  }
};

// False when the file is not to be written; the reason is then in r.
bool Place(TRecoveringThread& thread, TDestFolder& folder, int dir, const std::string& name, TPlacement& p,
           TRecoveredFile& r) {
  p.Dir = dir;
  p.Folder = folder.Path();
  p.Name = name;
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    r.Reason = r.Target + ": " + ErrnoText(errno);
    return false;
  }
  const TExistsAnswer answer = thread.OnFileExists ? thread.OnFileExists(r.Target) : TExistsAnswer{};
  if (!answer.ChosenPath.empty()) {
    const fs::path chosen(answer.ChosenPath);
    const std::string parent = chosen.parent_path().empty() ? "." : chosen.parent_path().string();
    p.OwnedDir = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (p.OwnedDir < 0) {
      r.Reason = "folder " + parent + ": " + ErrnoText(errno);
      return false;
    }
    p.Dir = p.OwnedDir;
    p.Folder = parent;
    p.Name = chosen.filename().string();
    p.Kind = TPlacement::Replace;
    r.Target = answer.ChosenPath;
    return true;
  }
  switch (answer.Action) {
    case TOnExists::Overwrite: p.Kind = TPlacement::Replace; return true;
    case TOnExists::Rename: p.Kind = TPlacement::Numbered; return true;
    default:
      r.Status = TRecoveryStatus::Skipped;
      r.Reason = answer.Reason.empty() ? "a file of that name exists" : answer.Reason;
      return false;
  }
}

// Renames within dir unless `to` exists; 0 or the error number.
int RenameNoReplace(int dir, const std::string& from, const std::string& to) {
  if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the flag (some FUSE ones): test, then rename.
  struct stat st {};
  if (::fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? 0 : errno;
}

// The file being written: created under a temporary name in its folder and
// removed again unless it was moved to its own name.
class TTempFile {
public:
  TTempFile(int dir, const std::string& name) : Dir(dir) {
    for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
      FName = TempFileName(name);
      FFd = ::openat(dir, FName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (FFd < 0 && errno != EEXIST) break;
    }
    if (FFd < 0)
      Errno = errno;
    else
      ::fstat(FFd, &Made);
  }
  ~TTempFile() {
    if (FFd >= 0) ::close(FFd);
    if (Errno == 0 && !Kept) ::unlinkat(Dir, FName.c_str(), 0);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  int Fd() const { return FFd; }
  const std::string& Name() const { return FName; }
  int Error() const { return Errno; }

  // Closes the file and gives it its own name; false with the reason in why,
  // and taken set when a file of that name came first.
  bool MoveTo(const TPlacement& p, std::string& finalName, std::string& why, bool& taken) {
    const int fd = FFd;
    FFd = -1;
    // Late write errors (network and FUSE file systems) show at close.
    if (::close(fd) != 0) {
      why = "write failed: " + ErrnoText(errno);
      return false;
    }
    struct stat now {};
    if (::fstatat(Dir, FName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != Made.st_dev ||
        now.st_ino != Made.st_ino) {
      why = "the temporary file " + FName + " was replaced while it was written";
      return false;
    }
    int error = 0;
    finalName = p.Name;
    if (p.Kind == TPlacement::Replace) {
      error = ::renameat(Dir, FName.c_str(), Dir, p.Name.c_str()) == 0 ? 0 : errno;
    } else if (p.Kind == TPlacement::New) {
      error = RenameNoReplace(Dir, FName, p.Name);
      if (error == EEXIST) {
        why = "a file of that name exists";
        taken = true;
        return false;
      }
    } else {
      error = EEXIST;
      for (int n = 2; error == EEXIST && n < 100000; ++n) {
        finalName = NumberedName(p.Name, n);
        error = RenameNoReplace(Dir, FName, finalName);
      }
    }
    if (error != 0) {
      why = "cannot be named " + p.Folder + "/" + finalName + ": " + ErrnoText(error);
      return false;
    }
    Kept = true;
    return true;
  }

private:
  int Dir;
  int FFd = -1;
  int Errno = 0;
  bool Kept = false;
  std::string FName;
  struct stat Made {};
};

// Copies up to expected bytes of the stream into fd, hashing what lands in
// the file when there is a hash; returns the bytes delivered. error says why
// the copy ended early (empty when the stream simply ran out).
int64_t CopyData(TRecoveringThread& thread, TRecoveryStream& stream, int fd, int64_t expected, TSha256* hash,
                 std::string& error) {
  std::vector<char> buffer(RECOVERY_BLOCK);
  stream.Seek(0, TSeekOrigin::Beginning);
  thread.FilePercent = expected > 0 ? 0 : 100;
  int64_t done = 0;
  while (done < expected) {
    if (thread.Terminated()) {
      error = "stopped by the user";
      break;
    }
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), expected - done));
    // Data that lies on the volume as it is goes across in the kernel.
    size_t n = stream.CopyTo(fd, want);
    if (n > 0) {
      if (hash && !HashBack(fd, done, n, buffer, *hash)) {
        error = "cannot read back what was written: " + ErrnoText(errno);
        break;
      }
    } else {
      n = stream.Read(buffer.data(), want);
      if (n == 0) break;
      if (!WriteAll(fd, buffer.data(), n)) {
        error = "write failed: " + ErrnoText(errno);
        break;
      }
      if (hash) hash->Update(buffer.data(), n);
    }
    done += static_cast<int64_t>(n);
    thread.BytesWritten += static_cast<int64_t>(n);
    thread.FilePercent = static_cast<int>(done * 100 / expected);
  }
  return done;
}

// Linux caps one extended attribute's value at 64 KiB.
constexpr size_t MAX_XATTR_VALUE = 65536;

void AddProblem(std::string& problems, const std::string& text) { problems += (problems.empty() ? "" : "; ") + text; }

// A whole small stream in memory; problems gets what could not be read.
std::vector<char> ReadSmallStream(TFileInfo* entry, const TNamedStream& ns, std::string& problems) {
  std::unique_ptr<TRecoveryStream> s = CreateRecoveryStream(entry, ns.Name);
  std::vector<char> data(static_cast<size_t>(ns.Size));
  size_t got = 0;
  while (s && got < data.size()) {
    const size_t n = s->Read(data.data() + got, data.size() - got);
    if (n == 0) break;
    got += n;
  }
  if (!s)
    AddProblem(problems, "stream " + ns.Name + " cannot be read");
  else if (got < data.size() || !s->Missing().Empty())
    AddProblem(problems, "stream " + ns.Name + " could not be read whole");
  return data;
}

// Named streams that fit go to the extended attribute user.<name>, which is
// how the Linux NTFS drivers show streams and what ext4, XFS, btrfs and tmpfs
// keep. Those the destination refuses are left in r.Streams as NotWritten,
// for files beside the main one.
void StreamsToAttributes(int fd, TFileInfo* entry, const std::string& destFs, TRecoveredFile& r,
                         std::string& problems) {
  for (const TNamedStream& ns : entry->FsInfo->NamedStreams()) {
    TStreamCopy copy{ns.Name};
    if (ns.Size <= static_cast<int64_t>(MAX_XATTR_VALUE)) {
      const std::vector<char> data = ReadSmallStream(entry, ns, problems);
      const std::string attr = "user." + ns.Name;
      if (::fsetxattr(fd, attr.c_str(), data.data(), data.size(), 0) == 0) {
        copy.Kind = destFs == "NTFS" ? TStreamCopy::Stream : TStreamCopy::Attribute;
        copy.Dest = attr;
      }
    }
    r.Streams.push_back(std::move(copy));
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

// Size, times and attributes, through the open descriptor only. False (with
// errno) when the size cannot be set; the rest is kept where it can be.
bool Finish(int fd, const TFileInfo& entry, int64_t size, const std::string& destFs) {
  if (::ftruncate(fd, size) != 0) return false;
  if (destFs == "NTFS" && entry.CreationTime != 0) {
    uint64_t crtime = entry.CreationTime;  // little-endian FILETIME, as the driver wants it
    ::fsetxattr(fd, "system.ntfs_crtime", &crtime, sizeof crtime, 0);
  }
  SetDosAttributes(fd, destFs, entry.Attributes);
  if (entry.LastWriteTime != 0) {
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    times[1].tv_sec = static_cast<time_t>(FileTimeToUnix(entry.LastWriteTime));
    times[1].tv_nsec = FileTimeNanos(entry.LastWriteTime);
    ::futimens(fd, times);
  }
  struct stat st {};
  if ((entry.Attributes & faReadOnly) && ::fstat(fd, &st) == 0)
    ::fchmod(fd, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
  return true;
}

// The unread parts of the first `expected` bytes: what the stream reported,
// and whatever it did not deliver at all.
TByteRanges MissingParts(const TRecoveryStream& stream, int64_t delivered, int64_t expected) {
  TByteRanges missing;
  for (const TByteRange& g : stream.Missing()) {
    const int64_t end = std::min(g.End(), expected);
    if (g.Offset < end) missing.Add(g.Offset, end - g.Offset);
  }
  if (delivered < expected) missing.Add(delivered, expected - delivered);
  return missing;
}

// Writes one named stream as the file `name` beside the main file, through a
// temporary file as the main file is. 0 when written; the error of creating
// the file, for another try under another name; -1 with why set otherwise.
int WriteStreamFile(TRecoveringThread& thread, TFileInfo* entry, const TNamedStream& ns, const TPlacement& main,
                    const std::string& name, const std::string& destFs, TByteRanges& missing, std::string& why) {
  TTempFile temp(main.Dir, name);
  if (temp.Fd() < 0) return temp.Error();
  std::unique_ptr<TRecoveryStream> stream = CreateRecoveryStream(entry, ns.Name);
  if (!stream) {
    why = "it cannot be read";
    return -1;
  }
  const int64_t delivered = CopyData(thread, *stream, temp.Fd(), ns.Size, nullptr, why);
  if (!why.empty()) return -1;
  missing = MissingParts(*stream, delivered, ns.Size);
  if (!Finish(temp.Fd(), *entry, ns.Size, destFs)) {
    why = "its size cannot be set: " + ErrnoText(errno);
    return -1;
  }
  TPlacement place;
  place.Dir = main.Dir;
  place.Folder = main.Folder;
  place.Name = name;
  place.Kind = main.Kind == TPlacement::Replace ? TPlacement::Replace : TPlacement::New;
  std::string finalName;
  bool taken = false;
  return temp.MoveTo(place, finalName, why, taken) ? 0 : -1;
}

// The streams no attribute took, as files beside the main one: NAME:STREAM,
// or NAME_STREAM where ":" cannot stand in a name (FAT).
void StreamsToFiles(TRecoveringThread& thread, TFileInfo* entry, const TPlacement& main, const std::string& mainName,
                    const std::string& destFs, TRecoveredFile& r, std::string& problems) {
  const std::vector<TNamedStream> streams = entry->FsInfo->NamedStreams();
  for (size_t i = 0; i < r.Streams.size() && i < streams.size(); ++i) {
    TStreamCopy& copy = r.Streams[i];
    if (copy.Kind != TStreamCopy::NotWritten) continue;
    if (thread.Terminated()) {
      AddProblem(problems, "stream " + copy.Name + " not written: stopped by the user");
      continue;
    }
    std::string why;
    TByteRanges missing;
    for (const char sep : {':', '_'}) {
      if (sep == ':' && destFs == "FAT") continue;
      const std::string name = mainName + sep + SafeFileName(copy.Name);
      const int result = WriteStreamFile(thread, entry, streams[i], main, name, destFs, missing, why);
      if (result == 0) {
        copy.Kind = TStreamCopy::File;
        copy.Dest = main.Folder + "/" + name;
        break;
      }
      if (result == EINVAL && sep == ':') continue;
      if (why.empty()) why = "cannot create a file in " + main.Folder + ": " + ErrnoText(result);
      break;
    }
    if (copy.Kind != TStreamCopy::File)
      AddProblem(problems, "stream " + copy.Name + " not written: " + why);
    else if (!missing.Empty())
      AddProblem(problems, "stream " + copy.Name + ": " + std::to_string(missing.TotalLength()) + " of " +
                               std::to_string(streams[i].Size) + " bytes could not be read (zeros in " + copy.Dest +
                               ")");
  }
}

}  // namespace

void RecoverFile(TRecoveringThread& thread, TDestFolder& folder, std::string name, TFileInfo* entry) {
  if (thread.Terminated() || !entry) return;
  // Linux has no raw import of encrypted files: they are kept as their raw image.
  const bool encrypted = entry->FsInfo && entry->FsInfo->IsEncrypted();
  if (encrypted) name += ".efs";
  TRecoveredFile r;
  // A file deleted twice leaves two entries of one name: both come back.
  if (std::string claimed = folder.ClaimName(name); claimed != name) {
    r.Note = "saved as " + claimed + ": another entry in its folder has the same name";
    name = std::move(claimed);
  }
  r.Entry = entry;
  r.VolumePath = GetRelativePath(*entry);
  r.Target = folder.Path() + "/" + name;
  r.Size = entry->Size;
  auto done = [&] {
    ++thread.FilesDone;
    if (thread.OnFileDone) thread.OnFileDone(r);
  };
  if (thread.OnFileStart) thread.OnFileStart(r.Target, entry);
  if (thread.Terminated()) return;

  const int dir = folder.Fd();
  if (dir < 0) {
    r.Reason = folder.Error();
    return done();
  }
  // The data first: an entry that cannot be read must not leave an empty
  // file behind, nor cost an existing file its contents.
  std::unique_ptr<TRecoveryStream> stream = CreateRecoveryStream(entry, "");
  if (!stream) {
    r.Reason = "its data cannot be read";
    return done();
  }
  // The raw image of an encrypted file is longer than the file itself.
  const int64_t expected = encrypted ? stream->GetSize() : entry->Size;
  r.Size = expected;
  TPlacement place;
  if (!Place(thread, folder, dir, name, place, r)) return done();
  if (thread.Terminated()) return;

  TTempFile temp(place.Dir, place.Name);
  if (temp.Fd() < 0) {
    r.Reason = "cannot create a file in " + place.Folder + ": " + ErrnoText(temp.Error());
    return done();
  }
  std::optional<TSha256> hash;
  if (thread.Hash) hash.emplace();
  std::string error;
  const int64_t delivered = CopyData(thread, *stream, temp.Fd(), expected, hash ? &*hash : nullptr, error);
  if (!error.empty()) {
    r.Reason = error;
    return done();
  }
  r.Missing = MissingParts(*stream, delivered, expected);
  stream.reset();

  const std::string destFs = thread.DestinationFileSystem(place.Folder);
  std::string streamProblems;
  if (encrypted) {
    // The raw image holds the main data only.
    for (const TNamedStream& ns : entry->FsInfo->NamedStreams()) {
      r.Streams.push_back({ns.Name});
      AddProblem(streamProblems,
                 "stream " + ns.Name + " not written: the raw image of an encrypted file holds only its main data");
    }
  } else if (entry->FsInfo) {
    StreamsToAttributes(temp.Fd(), entry, destFs, r, streamProblems);
  }
  if (thread.OnDataWritten) thread.OnDataWritten(place.Dir, temp.Name());
  if (!Finish(temp.Fd(), *entry, expected, destFs)) {
    r.Reason = "its size cannot be set: " + ErrnoText(errno);
    return done();
  }
  // A short stream leaves zeros up to the size, and so does the hash.
  if (hash) hash->UpdateZeros(expected - delivered);
  std::string finalName;
  bool taken = false;
  if (!temp.MoveTo(place, finalName, error, taken)) {
    r.Reason = error;
    if (taken) r.Status = TRecoveryStatus::Skipped;
    return done();
  }
  r.Dest = place.Folder + "/" + finalName;
  if (!encrypted && entry->FsInfo) StreamsToFiles(thread, entry, place, finalName, destFs, r, streamProblems);
  if (hash) r.Sha256 = hash->FinishHex();
  r.Written = expected - r.Missing.TotalLength();
  if (!r.Missing.Empty())
    r.Reason = std::to_string(r.Missing.TotalLength()) + " of " + std::to_string(expected) +
               " bytes could not be read (zeros in the file)";
  if (!streamProblems.empty()) r.Reason += (r.Reason.empty() ? "" : "; ") + streamProblems;
  r.Status = r.Reason.empty() ? TRecoveryStatus::Complete : TRecoveryStatus::Incomplete;
  done();
}

void RecoverFolder(TRecoveringThread& thread, TDestFolder& folder, TFileInfo* entry, int depth) {
  if (!entry || depth >= MAX_FOLDER_DEPTH) return;
  for (TFileInfo* f : thread.ChildFiles(entry)) {
    if (thread.Terminated()) break;
    if (thread.FolderFilter && !thread.FolderFilter(*f)) continue;
    RecoverFile(thread, folder, SafeFileName(f->Name), f);
    thread.MarkRecovered(f);
  }
  for (TFileInfo* g : thread.ChildFolders(entry)) {
    TDestFolder sub(folder, folder.ClaimName(SafeFileName(g->Name)));
    RecoverFolder(thread, sub, g, depth + 1);
    thread.MarkRecovered(g);
  }
}

}  // namespace mirel
