#include "erase/EraseJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/DebugLog.h"
#include "erase/EraserNames.h"

namespace mirel {

namespace {

constexpr const char* kPrefix = "erase-";
constexpr const char* kSuffix = ".list";

bool IsRecordName(const std::string& name) {
  const std::string suffix = kSuffix;
  return name.rfind(kPrefix, 0) == 0 && name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string data;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  return data;
}

// Paths are kept NUL-terminated: no path holds a NUL, any may hold a newline.
std::vector<std::string> SplitRecords(const std::string& data) {
  std::vector<std::string> paths;
  size_t at = 0;
  for (size_t end; (end = data.find('\0', at)) != std::string::npos; at = end + 1)
    paths.push_back(data.substr(at, end - at));
  return paths;
}

// Removes path if it is still what the eraser made there: a regular file with
// one of its names. True when it is gone (or was never there).
bool RemoveRecorded(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  const std::string name = path.substr(path.rfind('/') + 1);
  if (!S_ISREG(st.st_mode) || !IsEraserTempName(name)) return true;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// Settles the entries under root of one record found in the folder.
void Sweep(const std::string& recordPath, const std::string& root) {
  const int fd = ::open(recordPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  struct stat st {};
  // Locked: its run is alive. Unlinked meanwhile: its run ended normally.
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 0) {
    std::string kept;
    for (const std::string& path : SplitRecords(ReadAll(fd))) {
      if (path.rfind(root, 0) != 0 || !RemoveRecorded(path)) kept.append(path).push_back('\0');
    }
    if (kept.empty()) {
      ::unlink(recordPath.c_str());
    } else if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0 || !WriteAll(fd, kept.data(), kept.size())) {
      WriteDebugLog("%s: cannot rewrite %s", "EraseJournal.RemoveLeftovers", recordPath.c_str());
    }
  }
  ::close(fd);
}

}  // namespace

TEraseJournal::TEraseJournal(std::string folder) : Folder(std::move(folder)) {}

TEraseJournal::~TEraseJournal() {
  if (Fd >= 0) ::close(Fd);
}

bool TEraseJournal::Open() {
  // A sweeping run may lock and unlink a record between its creation and its
  // lock here; such a record is left and another made.
  for (int tries = 0; tries < 10; ++tries) {
    std::string path = Folder + "/" + kPrefix + "XXXXXX" + kSuffix;
    const int fd = ::mkostemps(path.data(), static_cast<int>(std::char_traits<char>::length(kSuffix)), O_CLOEXEC);
    if (fd < 0) break;
    struct stat st {};
    if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) {
      Fd = fd;
      Path = path;
      return true;
    }
    ::close(fd);
  }
  WriteDebugLog("%s: cannot keep a record of the eraser's files in %s", "EraseJournal.Open", Folder.c_str());
  return false;
}

void TEraseJournal::Record(const std::string& path, bool durable) {
  if (Failed || (Fd < 0 && !Open())) {
    Failed = true;
    return;
  }
  if (!WriteAll(Fd, path.c_str(), path.size() + 1) || (durable && ::fdatasync(Fd) != 0)) {
    WriteDebugLog("%s: cannot write to %s", "EraseJournal.Record", Path.c_str());
    Failed = true;
  }
}

void TEraseJournal::Clear() {
  if (Fd < 0) return;
  // Unlinked before the lock goes, so that no sweep reads it as a dead run's.
  ::unlink(Path.c_str());
  ::close(Fd);
  Fd = -1;
  Path.clear();
}

void TEraseJournal::RemoveLeftovers(const std::string& folder, const std::string& root) {
  std::vector<std::string> records;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir))
      if (IsRecordName(e->d_name)) records.push_back(folder + "/" + e->d_name);
    ::closedir(dir);
  }
  for (const std::string& record : records) Sweep(record, root);
}

}  // namespace mirel
