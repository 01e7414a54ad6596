#define FUSE_USE_VERSION 31
#include "mount/MountServer.h"

#include <fuse.h>
#include <fuse_lowlevel.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "core/DebugLog.h"
#include "mount/MountAttributes.h"
#include "mount/ServedFile.h"
#include "platform/FileTime.h"

namespace mirel {

struct TOpenFile {
  TOpenFile(uint32_t node, const TMountNode& served) : Node(node), File(served.Entry, served.Size) {}
  uint32_t Node;
  TServedFile File;
};

namespace {

// Threads that take requests: a reader waiting on a slow file leaves the
// others to the rest.
constexpr int WORKERS = 4;
// Nothing served ever changes, so the kernel may keep what it was told.
constexpr double CACHE_SECONDS = 86400;
constexpr blksize_t BLOCK_SIZE = blksize_t{128} * 1024;

// What libfuse says goes to the debug log, or, while a mount is being set
// up, to the reason Start gives.
std::mutex LogLock;
std::string* Capture = nullptr;

void FuseLog(enum fuse_log_level, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  std::lock_guard<std::mutex> guard(LogLock);
  if (Capture) {
    if (!Capture->empty()) *Capture += "; ";
    *Capture += line;
  } else {
    WriteDebugLog("%s: %s", "MountServer.Serve", line.c_str());
  }
}

class TLogCapture {
public:
  explicit TLogCapture(std::string& into) {
    std::lock_guard<std::mutex> guard(LogLock);
    Capture = &into;
  }
  ~TLogCapture() {
    std::lock_guard<std::mutex> guard(LogLock);
    Capture = nullptr;
  }
};

TMountServer& Server() { return *static_cast<TMountServer*>(fuse_get_context()->private_data); }

timespec TimeOf(TFileTime ft) {
  if (ft == 0) return {};
  return {static_cast<time_t>(FileTimeToUnix(ft)), FileTimeNanos(ft)};
}

void FillStat(const TMountTree& tree, uint32_t n, struct stat* st) {
  std::memset(st, 0, sizeof *st);
  const TMountNode& node = tree[n];
  st->st_ino = n + 1;
  st->st_mode = node.IsFolder ? S_IFDIR | 0555 : S_IFREG | 0444;
  st->st_nlink = node.IsFolder ? 2 : 1;
  static const uid_t uid = ::getuid();
  static const gid_t gid = ::getgid();
  st->st_uid = uid;
  st->st_gid = gid;
  st->st_size = node.Size;
  st->st_blksize = BLOCK_SIZE;
  st->st_blocks = (node.Size + 511) / 512;
  // The catalogue keeps no access or change time.
  if (node.Entry) st->st_mtim = st->st_atim = st->st_ctim = TimeOf(node.Entry->LastWriteTime);
}

std::optional<uint32_t> NodeOf(const char* path) { return Server().Tree.Find(path); }

void* Init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 1;
  cfg->kernel_cache = 1;
  cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = CACHE_SECONDS;
  return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  const std::optional<uint32_t> n = NodeOf(path);
  if (!n) return -ENOENT;
  FillStat(Server().Tree, *n, st);
  return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags flags) {
  const TMountTree& tree = Server().Tree;
  const std::optional<uint32_t> n = NodeOf(path);
  if (!n) return -ENOENT;
  if (!tree[*n].IsFolder) return -ENOTDIR;
  const auto plus = (flags & FUSE_READDIR_PLUS) ? FUSE_FILL_DIR_PLUS : fuse_fill_dir_flags{};
  struct stat st;
  FillStat(tree, *n, &st);
  fill(buf, ".", &st, 0, plus);
  FillStat(tree, tree[*n].Parent, &st);
  fill(buf, "..", &st, 0, plus);
  for (uint32_t c : tree[*n].Children) {
    FillStat(tree, c, &st);
    if (fill(buf, tree[c].Name.c_str(), &st, 0, plus) != 0) return -ENOMEM;
  }
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC)) return -EROFS;
  TMountServer& server = Server();
  const std::optional<uint32_t> n = NodeOf(path);
  if (!n) return -ENOENT;
  if (server.Tree[*n].IsFolder) return -EISDIR;
  TOpenFile* file = server.OpenFile(*n);
  if (!file) return -EIO;
  fi->fh = reinterpret_cast<uint64_t>(file);
  fi->keep_cache = 1;
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  auto* file = reinterpret_cast<TOpenFile*>(fi->fh);
  return static_cast<int>(file->File.ReadAt(buf, size, offset));
}

int Release(const char*, fuse_file_info* fi) {
  Server().CloseFile(reinterpret_cast<TOpenFile*>(fi->fh));
  return 0;
}

// The entry whose attributes a path names; the top folder has none.
TFileInfo* AttributeEntry(const char* path, int& error) {
  const TMountTree& tree = Server().Tree;
  const std::optional<uint32_t> n = NodeOf(path);
  error = n ? 0 : ENOENT;
  return n && *n != TMountTree::TOP ? tree[*n].Entry : nullptr;
}

int GetXattr(const char* path, const char* name, char* value, size_t size) {
  int error;
  TFileInfo* entry = AttributeEntry(path, error);
  if (error) return -error;
  if (!entry) return -ENODATA;
  const TAttributeValue v = AttributeValue(entry, name);
  if (v.Error) return -v.Error;
  if (size == 0) return static_cast<int>(v.Data.size());
  if (size < v.Data.size()) return -ERANGE;
  std::copy(v.Data.begin(), v.Data.end(), value);
  return static_cast<int>(v.Data.size());
}

int ListXattr(const char* path, char* list, size_t size) {
  int error;
  TFileInfo* entry = AttributeEntry(path, error);
  if (error) return -error;
  std::string names;
  if (entry)
    for (const std::string& name : AttributeNames(*entry)) names.append(name).push_back('\0');
  if (size == 0) return static_cast<int>(names.size());
  if (size < names.size()) return -ERANGE;
  std::copy(names.begin(), names.end(), list);
  return static_cast<int>(names.size());
}

int StatFs(const char*, struct statvfs* st) {
  const TMountTree& tree = Server().Tree;
  std::memset(st, 0, sizeof *st);
  st->f_bsize = st->f_frsize = 4096;
  st->f_blocks = static_cast<fsblkcnt_t>((tree.TotalBytes() + 4095) / 4096);
  st->f_files = tree.Count();
  st->f_namemax = MOUNT_NAME_MAX;
  return 0;
}

fuse_operations Operations() {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.release = Release;
  ops.getxattr = GetXattr;
  ops.listxattr = ListXattr;
  ops.statfs = StatFs;
  return ops;
}

// The mount's source as the mount table shows it: no option separators.
std::string FsName(const std::string& name) {
  std::string s = "mirel:" + name;
  for (char& c : s)
    if (c == ',' || c == '\\' || c == '=' || static_cast<unsigned char>(c) <= ' ') c = '_';
  return s;
}

}  // namespace

std::string FuseProblem() {
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  if (errno == ENOENT) return "FUSE is not available: /dev/fuse is missing";
  return std::string("FUSE is not available: /dev/fuse: ") + std::strerror(errno);
}

std::string MountPointProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOTCONN) return "a mount whose server has gone is still there; unmount it with fusermount3 -u";
    if (errno == ENOENT) return "the mount point does not exist";
    return std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode)) return "the mount point is not a folder";
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return std::strerror(errno);
  bool empty = true;
  while (const dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      empty = false;
      break;
    }
  ::closedir(dir);
  return empty ? std::string() : "the mount point is not empty";
}

TMountServer::TMountServer(const TMountTree& tree, std::string name) : Tree(tree), Name(std::move(name)) {
  static const bool logging = (fuse_set_log_func(FuseLog), true);
  static_cast<void>(logging);
}

TMountServer::~TMountServer() { Stop(); }

bool TMountServer::Start(const std::string& mountPoint, std::string& why) {
  if (Fuse) {
    why = "already mounted at " + Point;
    return false;
  }
  why = FuseProblem();
  if (why.empty()) why = MountPointProblem(mountPoint);
  if (!why.empty()) return false;

  const std::string options = "ro,default_permissions,auto_unmount,subtype=mirel,fsname=" + FsName(Name);
  std::string program = "mirel", dashO = "-o", optionsArg = options;
  char* argv[] = {program.data(), dashO.data(), optionsArg.data(), nullptr};
  fuse_args args = FUSE_ARGS_INIT(3, argv);
  const fuse_operations ops = Operations();
  std::string said;
  {
    TLogCapture capture(said);
    Fuse = fuse_new(&args, &ops, sizeof ops, this);
    if (Fuse && fuse_mount(Fuse, mountPoint.c_str()) != 0) {
      fuse_destroy(Fuse);
      Fuse = nullptr;
    }
  }
  fuse_opt_free_args(&args);
  if (!Fuse) {
    why = "cannot mount" + (said.empty() ? std::string() : ": " + said);
    return false;
  }
  // Several threads wait on the one descriptor: those that lose the race
  // for a request must go back to waiting, not block in read.
  const int fd = fuse_session_fd(fuse_get_session(Fuse));
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  StopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  Point = mountPoint;
  Ended.Reset();
  Running = WORKERS;
  for (int i = 0; i < WORKERS; ++i) Workers.emplace_back([this] { Serve(); });
  // Answered by the threads just started.
  struct stat st {};
  if (::stat(Point.c_str(), &st) == 0) Device = st.st_dev;
  return true;
}

bool TMountServer::Mounted() const {
  struct stat st {};
  return Fuse && !Ended.IsSet() && ::stat(Point.c_str(), &st) == 0 && st.st_dev == Device;
}

void TMountServer::Serve() {
  fuse_session* session = fuse_get_session(Fuse);
  // Each thread waits in an epoll set of its own; the kernel wakes one of
  // them per request, and all of them to stop.
  const int wait = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event request{EPOLLIN | EPOLLEXCLUSIVE, {.u32 = 0}}, stop{EPOLLIN, {.u32 = 1}};
  if (wait < 0 || ::epoll_ctl(wait, EPOLL_CTL_ADD, fuse_session_fd(session), &request) != 0 ||
      ::epoll_ctl(wait, EPOLL_CTL_ADD, StopFd, &stop) != 0)
    WriteDebugLog("%s: cannot wait for requests; Errno = %d", "MountServer.Serve", errno);
  fuse_buf buf{};
  for (;;) {
    epoll_event ready[2];
    const int n = ::epoll_wait(wait, ready, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || std::any_of(ready, ready + n, [](const epoll_event& e) { return e.data.u32 == 1; })) break;
    const int got = fuse_session_receive_buf(session, &buf);
    if (got == -EAGAIN || got == -EINTR) continue;
    // 0: unmounted from outside.
    if (got <= 0) break;
    fuse_session_process_buf(session, &buf);
  }
  std::free(buf.mem);
  if (wait >= 0) ::close(wait);
  // The first thread to stop stops the others.
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t told = ::write(StopFd, &one, sizeof one);
  if (--Running == 0) Ended.Set();
}

void TMountServer::Stop() {
  if (!Fuse) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t told = ::write(StopFd, &one, sizeof one);
  for (std::thread& t : Workers) t.join();
  Workers.clear();
  fuse_unmount(Fuse);
  fuse_destroy(Fuse);
  Fuse = nullptr;
  ::close(StopFd);
  StopFd = -1;
  // Files the kernel never released (the mount went while they were open).
  std::vector<TOpenFile*> left;
  {
    std::lock_guard<std::mutex> guard(FilesLock);
    for (const auto& [file, owned] : Open) left.push_back(file);
  }
  for (TOpenFile* file : left) CloseFile(file);
  Ended.Set();
}

TOpenFile* TMountServer::OpenFile(uint32_t node) {
  auto file = std::make_unique<TOpenFile>(node, Tree[node]);
  std::lock_guard<std::mutex> guard(FilesLock);
  if (!file->File.Ok()) {
    // Nothing of it can be read: named with the rest at the end.
    if (Tree[node].Size > 0) Failed[node].Add(0, Tree[node].Size);
    return nullptr;
  }
  TOpenFile* p = file.get();
  Open.emplace(p, std::move(file));
  return p;
}

void TMountServer::CloseFile(TOpenFile* file) {
  std::lock_guard<std::mutex> guard(FilesLock);
  const auto it = Open.find(file);
  if (it == Open.end()) return;
  const TByteRanges failed = file->File.Unreadable();
  if (!failed.Empty()) {
    TByteRanges& all = Failed[file->Node];
    for (const TByteRange& r : failed) all.Add(r.Offset, r.Length);
  }
  Open.erase(it);
}

std::vector<TUnreadableFile> TMountServer::Unreadable() const {
  std::unordered_map<uint32_t, TByteRanges> all;
  {
    std::lock_guard<std::mutex> guard(FilesLock);
    all = Failed;
    for (const auto& [file, owned] : Open)
      for (const TByteRange& r : file->File.Unreadable()) all[file->Node].Add(r.Offset, r.Length);
  }
  std::vector<TUnreadableFile> out;
  out.reserve(all.size());
  for (const auto& [node, ranges] : all) out.push_back({Tree.PathOf(node), Tree[node].Size, ranges});
  std::sort(out.begin(), out.end(), [](const TUnreadableFile& a, const TUnreadableFile& b) { return a.Path < b.Path; });
  return out;
}

}  // namespace mirel
