// `mirel mount` end to end: the real program serves real images through a
// real FUSE mount, and what other programs read there is held against
// `mirel recover` and `mirel cat` of the same volume.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "FaultyImage.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace mirel::test;

namespace {

bool Mounted(const fs::path& point) {
  std::ifstream info("/proc/self/mountinfo");
  for (std::string line; std::getline(info, line);) {
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 5 && fields >> field; ++i) {
    }
    if (field == point.string()) return true;
  }
  return false;
}

int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// `mirel mount SOURCE MOUNTPOINT ARGS...` running as a child process.
class TMountRun {
public:
  explicit TMountRun(const std::string& source, std::vector<std::string> extra = {}) {
    Point = Tmp / "mnt";
    fs::create_directory(Point);
    std::vector<std::string> args = {MIREL_BINARY, "mount", source, Point.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const std::string errPath = (Tmp / "err").string();
    Pid = ::fork();
    if (Pid == 0) {
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      argv.reserve(args.size() + 1);
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~TMountRun() {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      Finish();
    }
    if (Mounted(Point)) Shell("fusermount3 -u -z '" + Point.string() + "'");
  }
  // Waits until the mount is there; false when the program ended first.
  bool WaitMounted() {
    for (int i = 0; i < 3000; ++i) {
      if (Mounted(Point)) return true;
      int status;
      if (::waitpid(Pid, &status, WNOHANG) == Pid) {
        Pid = -1;
        Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // The exit status, once the program has ended; a program that has not
  // ended within a minute is killed and fails the test instead of hanging it.
  int Finish() {
    if (Pid <= 0) return Status;
    int status = 0;
    for (int i = 0; i < 6000; ++i) {
      if (::waitpid(Pid, &status, WNOHANG) == Pid) {
        Pid = -1;
        Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return Status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "mirel mount did not end within a minute";
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, &status, 0);
    Pid = -1;
    Status = -1;
    return Status;
  }
  int Unmount() {
    const int r = Shell("fusermount3 -u '" + Point.string() + "'");
    return r;
  }
  void Signal(int sig) { ::kill(Pid, sig); }
  std::string Err() const { return ReadWholeFile(Tmp / "err"); }
  fs::path operator/(const std::string& p) const { return Point / p; }

  fs::path Point;
  int Status = -1;

private:
  TTempDir Tmp;
  pid_t Pid = -1;
};

bool FuseHere() { return ::geteuid() == 0 && fs::exists("/dev/fuse"); }

#define NEED_FUSE() \
  if (!FuseHere()) GTEST_SKIP() << "needs root and /dev/fuse"

// Relative path -> (bytes, mtime) of every regular file below dir.
std::map<std::string, std::pair<std::string, int64_t>> Files(const fs::path& dir) {
  std::map<std::string, std::pair<std::string, int64_t>> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    struct stat st {};
    ::stat(e.path().c_str(), &st);
    out[fs::relative(e.path(), dir).string()] = {ReadWholeFile(e.path()), st.st_mtim.tv_sec};
  }
  return out;
}

std::string Output(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// pread at offset, as the bytes read; errno set when it fails.
std::string ReadAt(int fd, size_t count, off_t offset, ssize_t& got) {
  std::string buf(count, '\0');
  got = ::pread(fd, buf.data(), count, offset);
  buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return buf;
}

}  // namespace

TEST(Mount, CopiedOutFilesEqualWhatRecoverWrites) {
  NEED_FUSE();
  for (const char* image : {"fat16.img", "fat32.img", "ntfs.img"}) {
    SCOPED_TRACE(image);
    TMountRun mount(Fixture(image).string());
    ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
    TTempDir copied, recovered, reportDir;
    const int copy = Shell("cp -a '" + mount.Point.string() + "/.' '" + copied.Path().string() + "' 2>/dev/null");
    const fs::path report = reportDir / "report.jsonl";
    const TCliRun r =
        RunMirel({"recover", Fixture(image).string(), "--to", recovered.Path().string(), "--report", report.string()});
    // NTFS deleted files whose clusters live files took since are incomplete:
    // recover writes zeros there and says so, the mount refuses to read them,
    // so cp fails on them. Every other file is the same both ways.
    std::set<std::string> incomplete;
    std::istringstream lines(ReadWholeFile(report));
    for (std::string line; std::getline(lines, line);) {
      if (line.find("\"status\":\"incomplete\"") == std::string::npos) continue;
      const size_t at = line.find("\"path\":\"") + 8;
      incomplete.insert(line.substr(at, line.find('"', at) - at));
    }
    const bool reused = std::string(image) == "ntfs.img";
    EXPECT_EQ(r.Status, reused ? 3 : 0) << r.Err;
    EXPECT_EQ(copy != 0, reused);
    EXPECT_EQ(incomplete.count("victim.bin"), reused ? 1u : 0u);
    auto got = Files(copied.Path()), want = Files(recovered.Path());
    for (const std::string& path : incomplete) {
      got.erase(path);
      EXPECT_EQ(want.erase(path), 1u) << path;
    }
    EXPECT_GE(got.size(), 8u);
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [path, file] : want) {
      ASSERT_TRUE(got.count(path)) << path;
      EXPECT_EQ(got.at(path).first, file.first) << path;
      EXPECT_EQ(got.at(path).second, file.second) << path;
    }
    EXPECT_EQ(mount.Unmount(), 0);
    // The mount names the reads it refused and ends with the status of data with gaps.
    EXPECT_EQ(mount.Finish(), reused ? 3 : 0) << mount.Err();
    EXPECT_FALSE(Mounted(mount.Point));
  }
}

TEST(Mount, ReadsAtAnyOffsetEqualCatFromManyReadersAtOnce) {
  NEED_FUSE();
  // A FAT16 volume whose deleted 1.5 MiB file fills the gaps that deleted
  // one-cluster files left, then runs on.
  TTempDir tmp;
  const std::string img = (tmp / "frag.img").string(), dir = tmp.Path().string();
  const std::string script =
      "export MTOOLS_SKIP_CHECK=1; cd '" + dir + "' && mkfs.fat -C -F 16 -s 2 frag.img 8192" +
      " && for i in $(seq 10 49); do head -c 1024 /dev/urandom >s$i; mcopy -i frag.img s$i ::/; done" +
      " && for i in $(seq 11 2 49); do mdel -i frag.img ::/s$i; done" +
      " && head -c 1572864 /dev/urandom >'big fragmented file.bin'" +
      " && mcopy -i frag.img 'big fragmented file.bin' ::/" + " && mdel -i frag.img '::/big fragmented file.bin'";
  ASSERT_EQ(Shell(script), 0);
  const std::string bigWant = ReadWholeFile(tmp / "big fragmented file.bin");

  std::vector<std::pair<std::string, std::string>> cases;  // source, path
  cases.emplace_back(img, "big fragmented file.bin");
  cases.emplace_back(Fixture("ntfs.img").string(), "frag-a.bin");
  cases.emplace_back(Fixture("ntfs.img").string(), "packed/compressible.txt");
  for (const auto& [source, path] : cases) {
    SCOPED_TRACE(path);
    TMountRun mount(source);
    ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
    const TCliRun cat = RunMirel({"cat", source, path});
    ASSERT_EQ(cat.Status, 0) << cat.Err;
    if (source == img) {
      ASSERT_EQ(cat.Out, bigWant);
    }
    const std::string& want = cat.Out;
    // Four readers, two of them on one descriptor.
    const fs::path served = mount / path;
    const int shared = ::open(served.c_str(), O_RDONLY);
    ASSERT_GE(shared, 0);
    std::vector<std::thread> readers;
    readers.reserve(4);
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
      readers.emplace_back([&, t] {
        const int fd = t < 2 ? shared : ::open(served.c_str(), O_RDONLY);
        std::mt19937_64 random(t);
        for (int i = 0; i < 150; ++i) {
          const off_t offset = static_cast<off_t>(random() % (want.size() + 100));
          const size_t count = 1 + random() % 70000;
          ssize_t got;
          const std::string data = ReadAt(fd, count, offset, got);
          const std::string expected = offset < static_cast<off_t>(want.size()) ? want.substr(offset, count) : "";
          if (data != expected) ++wrong;
        }
        if (fd != shared) ::close(fd);
      });
    }
    for (std::thread& r : readers) r.join();
    ::close(shared);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(mount.Unmount(), 0);
    EXPECT_EQ(mount.Finish(), 0) << mount.Err();
  }
}

TEST(Mount, AttributesShowStreamsConditionDeletedAndAddress) {
  NEED_FUSE();
  {
    TMountRun mount(Fixture("ntfs.img").string());
    ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
    const std::string shown = Output("getfattr -d -m - '" + (mount / "streams.txt").string() + "' 2>&1");
    EXPECT_NE(shown.find("user.extra=\"second stream data\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("user.mirel.condition=\"100\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("user.mirel.deleted=\"true\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("user.mirel.address=\"86-"), std::string::npos) << shown;
    // A stream longer than the data, byte for byte.
    char value[8192];
    const ssize_t n = ::getxattr((mount / "bigstream.txt").c_str(), "user.big", value, sizeof value);
    ASSERT_GT(n, 0) << std::strerror(errno);
    EXPECT_EQ(std::string(value, static_cast<size_t>(n)), ReadWholeFile(Fixture("ntfs.files") / "bigstream.txt:big"));
    EXPECT_EQ(::getxattr((mount / "bigstream.txt").c_str(), "user.big", value, 10), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(::getxattr((mount / "bigstream.txt").c_str(), "user.none", value, sizeof value), -1);
    EXPECT_EQ(errno, ENODATA);
    // A file that a live one partly overwrote says so.
    const std::string victim =
        Output("getfattr --only-values -n user.mirel.condition '" + (mount / "victim.bin").string() + "'");
    EXPECT_FALSE(victim.empty());
    EXPECT_NE(victim, "100");
  }
  // A FAT entry's address is the byte offset of its directory entry; live
  // entries say they are live.
  TMountRun mount(Fixture("fat16.img").string(), {"--all"});
  ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
  const std::string shown = Output("getfattr -d -m - '" + (mount / "photos/IMG_0001.JPG").string() + "' 2>&1");
  EXPECT_NE(shown.find("user.mirel.deleted=\"false\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("user.mirel.condition=\"100\""), std::string::npos) << shown;
  const size_t at = shown.find("user.mirel.address=\"");
  ASSERT_NE(at, std::string::npos) << shown;
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(shown[at + 20]))) << shown;
}

TEST(Mount, WritesRenamesAndDeletesFailWithErofs) {
  NEED_FUSE();
  TMountRun mount(Fixture("fat16.img").string());
  ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
  const std::string file = (mount / "deleted-root.bin").string();
  auto erofs = [](int result) { return result == -1 && errno == EROFS; };
  EXPECT_TRUE(erofs(::open(file.c_str(), O_WRONLY)));
  EXPECT_TRUE(erofs(::open(file.c_str(), O_RDONLY | O_TRUNC)));
  EXPECT_TRUE(erofs(::open((mount / "new.txt").c_str(), O_WRONLY | O_CREAT, 0644)));
  EXPECT_TRUE(erofs(::mkdir((mount / "dir").c_str(), 0755)));
  EXPECT_TRUE(erofs(::unlink(file.c_str())));
  EXPECT_TRUE(erofs(::rename(file.c_str(), (mount / "moved.bin").c_str())));
  EXPECT_TRUE(erofs(::truncate(file.c_str(), 0)));
  EXPECT_TRUE(erofs(::setxattr(file.c_str(), "user.x", "1", 1, 0)));
  EXPECT_TRUE(erofs(::chmod(file.c_str(), 0666)));
  EXPECT_EQ(fs::file_size(file), 4100u);
}

TEST(Mount, UnmountCtrlCAndSigtermEndWithExitZero) {
  NEED_FUSE();
  for (int sig : {0, SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    TMountRun mount(Fixture("fat12.img").string());
    ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
    EXPECT_TRUE(fs::exists(mount / "deleted-root.bin"));
    if (sig == 0)
      EXPECT_EQ(mount.Unmount(), 0);
    else
      mount.Signal(sig);
    EXPECT_EQ(mount.Finish(), 0) << mount.Err();
    EXPECT_FALSE(Mounted(mount.Point));
    EXPECT_TRUE(fs::is_empty(mount.Point));
  }
}

TEST(Mount, AnUnreadableSectorFailsItsReadsWithEioAndIsNamed) {
  NEED_FUSE();
  TTempDir tmp;
  const fs::path image = tmp / "disk.img";
  fs::copy_file(Fixture("fat16.img"), image);
  const std::string path = "photos/Holiday photo with a long name.jpg";
  const std::string want = ReadWholeFile(Fixture("fat16.files") / path);
  const std::string bytes = ReadWholeFile(image);
  const size_t at = bytes.find(want.substr(0, 512));
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.substr(at, want.size()), want);
  // The file's sector 10, bytes 5120 to 5632: inside its second page.
  TFaultyImage faulty(image, {{static_cast<int64_t>(at / 512) + 10, 1}});
  if (!faulty.Mounted()) GTEST_SKIP() << faulty.Error;

  TMountRun mount(faulty.Path());
  ASSERT_TRUE(mount.WaitMounted()) << mount.Err();
  const int fd = ::open((mount / path).c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ssize_t got;
  EXPECT_EQ(ReadAt(fd, 4096, 0, got), want.substr(0, 4096));
  EXPECT_EQ(ReadAt(fd, 4096, 4096, got), "");
  EXPECT_EQ(got, -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(ReadAt(fd, 4096, 8192, got), want.substr(8192));
  ::close(fd);
  EXPECT_NE(Shell("cat '" + (mount / path).string() + "'"), 0);
  EXPECT_EQ(mount.Unmount(), 0);
  EXPECT_EQ(mount.Finish(), 3);
  EXPECT_NE(mount.Err().find(path + ": 512 of 9000 bytes could not be read: 5120+512"), std::string::npos)
      << mount.Err();
}

TEST(Mount, BadInputIsRefusedBeforeAnythingIsServed) {
  TTempDir tmp;
  const std::string img = Fixture("fat12.img").string();
  fs::create_directory(tmp / "full");
  WriteFile(tmp / "full" / "x", {1});
  WriteFile(tmp / "zeros.img", std::vector<uint8_t>(size_t{64} * 1024, 0));
  fs::create_directory(tmp / "mnt");
  struct TCase {
    std::vector<std::string> Args;
    std::string Says;
  };
  const std::string noFuse = FuseHere() ? "" : "FUSE is not available";
  for (const TCase& c : std::vector<TCase>{
           {{img, (tmp / "none").string()}, "none: the mount point does not exist"},
           {{img, (tmp / "zeros.img").string()}, "zeros.img: the mount point is not a folder"},
           {{img, (tmp / "full").string()}, "full: the mount point is not empty"},
           {{(tmp / "zeros.img").string(), (tmp / "mnt").string()}, "no FAT, exFAT or NTFS file system found"},
           {{(tmp / "missing.img").string(), (tmp / "mnt").string()}, "missing.img"},
       }) {
    std::vector<std::string> args = {"mount"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TCliRun r = RunMirel(args);
    SCOPED_TRACE(c.Args.back());
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find(noFuse.empty() ? c.Says : noFuse), std::string::npos) << r.Err;
    EXPECT_FALSE(Mounted(tmp / "mnt"));
  }
  EXPECT_EQ(RunMirel({"mount", img}).Status, 1);

  // Without /dev/fuse: a mount namespace of its own whose /dev lacks it.
  if (::geteuid() != 0 || Shell("unshare -m true") != 0) GTEST_SKIP() << "cannot make a mount namespace here";
  const std::string err = (tmp / "err").string();
  const int status = std::system(("unshare -m sh -c 'mount -t tmpfs none /dev && exec " MIREL_BINARY " mount " + img +
                                  " " + (tmp / "mnt").string() + "' 2>" + err)
                                     .c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(ReadWholeFile(err).find("mirel: FUSE is not available: /dev/fuse is missing"), std::string::npos)
      << ReadWholeFile(err);
}
