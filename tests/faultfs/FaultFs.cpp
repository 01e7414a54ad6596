// A read-only FUSE file system serving one image file as MOUNTPOINT/image,
// with reads that touch chosen sectors failing with EIO, as a disk with bad
// sectors does. Tests use it to put real read errors under the engine.
//
//   mirel-faultfs IMAGE MOUNTPOINT [FIRST+COUNT ...]    (512-byte sectors)
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct TBadRange {
  int64_t First = 0;
  int64_t Count = 0;
};

int ImageFd = -1;
struct stat ImageStat {};
std::vector<TBadRange> Bad;
constexpr const char* FILE_PATH = "/image";

bool TouchesBad(int64_t offset, size_t size) {
  const int64_t first = offset / 512, last = (offset + static_cast<int64_t>(size) - 1) / 512;
  for (const TBadRange& b : Bad)
    if (first < b.First + b.Count && b.First <= last) return true;
  return false;
}

void* Init(fuse_conn_info*, fuse_config* cfg) {
  // Every read reaches us as the program made it: no page cache, no read-ahead.
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, FILE_PATH) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = ImageStat.st_size;
  return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
  fill(buf, FILE_PATH + 1, nullptr, 0, fuse_fill_dir_flags{});
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path, FILE_PATH) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;
  return 0;
}

int Read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info*) {
  if (std::strcmp(path, FILE_PATH) != 0) return -ENOENT;
  if (size > 0 && TouchesBad(offset, size)) return -EIO;
  const ssize_t n = ::pread(ImageFd, buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s IMAGE MOUNTPOINT [FIRST+COUNT ...]\n", argv[0]);
    return 1;
  }
  ImageFd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (ImageFd < 0 || ::fstat(ImageFd, &ImageStat) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    TBadRange b;
    if (std::sscanf(argv[i], "%ld+%ld", &b.First, &b.Count) != 2 || b.First < 0 || b.Count <= 0) {
      std::fprintf(stderr, "%s: not FIRST+COUNT: %s\n", argv[0], argv[i]);
      return 1;
    }
    Bad.push_back(b);
  }
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  std::string prog = argv[0], mountpoint = argv[2];
  std::vector<char*> fargs = {prog.data(),
                              const_cast<char*>("-f"),
                              const_cast<char*>("-s"),
                              const_cast<char*>("-o"),
                              const_cast<char*>("ro,default_permissions"),
                              mountpoint.data()};
  return fuse_main(static_cast<int>(fargs.size()), fargs.data(), &ops, nullptr);
}
