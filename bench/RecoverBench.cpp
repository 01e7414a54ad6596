// Recovers a large contiguous file and many small files from a FAT32 image
// and prints MB/s beside the speed of reading the same image sequentially in
// the same run (the limit the disk and page cache allow).
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Engine.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryManager.h"
#include "engine/RecoveryJob.h"
#include "engine/ScanJob.h"

using namespace mirel;
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

double Seconds(TClock::time_point since) { return std::chrono::duration<double>(TClock::now() - since).count(); }

// Sequential 1 MiB reads of the first `bytes` bytes, like cat to /dev/null.
double ReadSequential(const std::string& path, int64_t bytes) {
  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buf(1 << 20);
  auto t = TClock::now();
  int64_t done = 0;
  while (done < bytes) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    done += n;
  }
  ::close(fd);
  return Seconds(t);
}

// The same bytes copied from the image into a file beside the recovered
// ones, in the kernel: what any copy into that destination can reach.
double CopySequential(const std::string& path, const std::string& to, int64_t bytes) {
  int in = ::open(path.c_str(), O_RDONLY);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  auto t = TClock::now();
  off_t at = 0;
  while (at < bytes) {
    ssize_t n = ::sendfile(out, in, &at, static_cast<size_t>(bytes - at));
    if (n <= 0) break;
  }
  double seconds = Seconds(t);
  ::close(in);
  ::close(out);
  ::unlink(to.c_str());
  return seconds;
}

double Recover(TDiskItems items, const std::string& dest, int64_t& bytes, bool hash = false) {
  TJobEvents nobody;
  TRecoveryJob job(std::move(items), {.DestDir = dest, .Hash = hash}, nobody);
  auto t = TClock::now();
  job.Run({});
  bytes = job.Worker().BytesWritten;
  return Seconds(t);
}

}  // namespace

int main() {
  const char* cacheEnv = std::getenv("MIREL_BENCH_CACHE");
  fs::path cache = cacheEnv ? cacheEnv : "/tmp/mirel-bench";
  fs::create_directories(cache);
  std::string image = (cache / "recover-bench.img").string();
  std::string make = std::string("bash '") + MIREL_BENCH_DIR + "/make-recover-bench-image.sh' '" + image + "'";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "cannot make %s\n", image.c_str());
    return 1;
  }
  StartEngine();
  TRecoveryManager manager({image}, false);
  TDiskObject* disk = manager.DiskList[0];
  TJobEvents nobody;
  TScanJob(*disk, {}, nobody).Run({});
  TDiskItems big, small;
  for (TFileInfo* f : disk->Files) (f->Size > (1 << 20) ? big : small).Add(f);
  if (big.Count() != 1 || small.Count() < 1900) {
    std::fprintf(stderr, "unexpected catalogue: %d large, %d small files\n", big.Count(), small.Count());
    return 1;
  }
  // Written to memory where possible, so the figure is ours and not the
  // destination file system's.
  fs::path dest = fs::is_directory("/dev/shm") ? fs::path("/dev/shm/mirel-recover-bench") : cache / "recovered";
  const int runs = 3;
  std::vector<double> bigMBs, hashedMBs, smallFiles, seqMBs, copyMBs;
  for (int i = 0; i < runs; ++i) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    int64_t bytes = 0;
    // Reads the image once so every run starts from a warm page cache.
    if (i == 0) ReadSequential(image, INT64_MAX);
    double t = Recover(big, dest.string(), bytes);
    bigMBs.push_back(bytes / 1e6 / t);
    fs::remove_all(dest);
    fs::create_directories(dest);
    t = Recover(big, dest.string(), bytes, true);
    hashedMBs.push_back(bytes / 1e6 / t);
    double seq = ReadSequential(image, bytes);
    seqMBs.push_back(bytes / 1e6 / seq);
    copyMBs.push_back(bytes / 1e6 / CopySequential(image, (dest / "plain-copy").string(), bytes));
    t = Recover(small, dest.string(), bytes);
    smallFiles.push_back(small.Count() / t);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  double b = median(bigMBs), s = median(seqMBs);
  double c = median(copyMBs);
  std::printf(
      "recover large file: %.0f MB/s; sequential image read: %.0f MB/s (ratio %.2f); "
      "plain copy into the destination: %.0f MB/s (ratio %.2f)\n",
      b, s, b / s, c, b / c);
  std::printf("recover large file with SHA-256 (as for a report): %.0f MB/s (ratio to without %.2f)\n",
              median(hashedMBs), median(hashedMBs) / b);
  std::printf("recover small files: %.0f files/s (%d files of 8 KiB)\n", median(smallFiles), small.Count());
  fs::remove_all(dest);
  return 0;
}
