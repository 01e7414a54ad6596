#include "platform/RawSource.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace mirel {

TRawSource::~TRawSource() { Close(); }

TRawSource::TRawSource(TRawSource&& other) noexcept { *this = std::move(other); }

TRawSource& TRawSource::operator=(TRawSource&& other) noexcept {
  if (this != &other) {
    Close();
    Fd = other.Fd;
    Base = other.Base;
    Length = other.Length;
    Errno = other.Errno;
    ErrorText = std::move(other.ErrorText);
    other.Fd = -1;
  }
  return *this;
}

void TRawSource::Close() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

int64_t SourceSizeOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return -1;
    return static_cast<int64_t>(bytes);
  }
  if (S_ISREG(st.st_mode)) return st.st_size;
  return -1;
}

namespace {

std::mutex GrantLock;
std::map<std::string, int>& Grants() {
  static std::map<std::string, int> grants;
  return grants;
}

int GrantedFd(const std::string& path) {
  std::lock_guard lock(GrantLock);
  auto it = Grants().find(path);
  return it == Grants().end() ? -1 : it->second;
}

}  // namespace

void GrantSource(const std::string& path, int fd) {
  std::lock_guard lock(GrantLock);
  auto [it, added] = Grants().emplace(path, fd);
  if (!added) {
    ::close(it->second);
    it->second = fd;
  }
}

TRawSource TRawSource::Open(const std::string& path, int64_t base, int64_t length) {
  TRawSource s;
  auto refuse = [&s](int error, const std::string& text) {
    s.Errno = error;
    s.ErrorText = text;
    return std::move(s);
  };
  const char* const notAVolume = "not an image file or a block device";
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  const int granted = GrantedFd(path);
  int fd =
      granted >= 0 ? ::fcntl(granted, F_DUPFD_CLOEXEC, 0) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0) {
    // A socket cannot be opened at all; say what it is rather than ENXIO.
    const int err = errno;
    if (::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return refuse(EINVAL, notAVolume);
    return refuse(err, std::strerror(err));
  }
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return refuse(EISDIR, std::strerror(EISDIR));
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    ::close(fd);
    return refuse(EINVAL, notAVolume);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  int64_t total = SourceSizeOf(fd);
  if (total < 0) {
    const int err = errno ? errno : EINVAL;
    ::close(fd);
    return refuse(err, notAVolume);
  }
  if (base < 0 || base > total) base = total;
  int64_t avail = total - base;
  s.Fd = fd;
  s.Base = base;
  s.Length = (length < 0 || length > avail) ? avail : length;
  return s;
}

namespace {

// Repeats one transfer call until count bytes moved, the source ended or it
// failed; a call interrupted by a signal is made again. step(done, left)
// moves up to left bytes at done bytes in.
template <class Step>
size_t TransferAll(size_t count, Step step) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = step(done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

size_t TRawSource::Read(void* buffer, size_t count, int64_t offset) const {
  if (Fd < 0 || buffer == nullptr || offset < 0 || offset >= Length) return 0;
  uint64_t room = static_cast<uint64_t>(Length - offset);
  if (count > room) count = static_cast<size_t>(room);
  auto* out = static_cast<unsigned char*>(buffer);
  return TransferAll(count, [&](size_t done, size_t left) {
    return ::pread(Fd, out + done, left, Base + offset + static_cast<int64_t>(done));
  });
}

size_t TRawSource::CopyTo(int outFd, size_t count, int64_t offset) const {
  if (Fd < 0 || outFd < 0 || offset < 0 || offset >= Length) return 0;
  uint64_t room = static_cast<uint64_t>(Length - offset);
  if (count > room) count = static_cast<size_t>(room);
  // sendfile moves at on by what it copied.
  off_t at = static_cast<off_t>(Base + offset);
  return TransferAll(count, [&](size_t, size_t left) { return ::sendfile(outFd, Fd, &at, left); });
}

}  // namespace mirel
