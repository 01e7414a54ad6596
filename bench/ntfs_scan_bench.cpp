// Scans an NTFS image whose MFT holds about 200,000 records, half of them
// deleted files, and prints records per second, MB of MFT per second and peak
// memory per catalogued entry. The image is made once by mkntfs and then
// given a large synthetic MFT; it is kept in MIREL_BENCH_CACHE (default
// /tmp/mirel-bench) for later runs.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Engine.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "ntfs/MftReader.h"
#include "platform/RawSource.h"

using namespace mirel;
namespace fs = std::filesystem;

namespace {

constexpr int64_t RECORDS = 200000;
constexpr int64_t FOLDERS = 1000;
constexpr int64_t FIRST_USER = 64;
constexpr uint32_t REC = 1024;
constexpr uint32_t CLUSTER = 4096;
constexpr int64_t MFT_LCN = 180000;  // where the synthetic MFT goes
constexpr int64_t DATA_LCN = 40000;  // where its files' clusters point
constexpr int64_t DATA_SPAN = 80000;

void Le(uint8_t* p, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends attributes to one record buffer and seals it with its fixups.
class TRecordWriter {
public:
  TRecordWriter(uint8_t* rec, uint16_t flags) : R(rec) {
    std::memset(R, 0, REC);
    std::memcpy(R, "FILE", 4);
    Le(R + 4, 0x30, 2);
    Le(R + 6, 3, 2);
    Le(R + 16, 1, 2);
    Le(R + 20, 0x38, 2);
    Le(R + 22, flags, 2);
    Le(R + 28, REC, 4);
    At = 0x38;
  }
  void Resident(uint32_t type, const std::vector<uint8_t>& value) {
    uint8_t* a = R + At;
    const size_t len = (24 + value.size() + 7) / 8 * 8;
    Le(a, type, 4);
    Le(a + 4, len, 4);
    Le(a + 10, 24, 2);
    Le(a + 14, Instance++, 2);
    Le(a + 16, value.size(), 4);
    Le(a + 20, 24, 2);
    std::memcpy(a + 24, value.data(), value.size());
    At += len;
  }
  void DataRun(int64_t lcn, uint32_t clusters, int64_t size) {
    uint8_t* a = R + At;
    Le(a, 0x80, 4);
    Le(a + 4, 80, 4);
    a[8] = 1;
    Le(a + 10, 64, 2);
    Le(a + 14, Instance++, 2);
    Le(a + 24, clusters - 1, 8);
    Le(a + 32, 64, 2);
    Le(a + 40, uint64_t{clusters} * CLUSTER, 8);
    Le(a + 48, size, 8);
    Le(a + 56, size, 8);
    a[64] = 0x34;  // 4 length bytes, 3 offset bytes
    Le(a + 65, clusters, 4);
    Le(a + 69, lcn, 3);
    At += 80;
  }
  void Seal() {
    Le(R + At, 0xFFFFFFFF, 4);
    Le(R + 24, At + 8, 4);
    Le(R + 0x30, 0x0101, 2);
    for (int i = 1; i <= 2; ++i) {
      std::memcpy(R + 0x30 + 2 * i, R + 512 * i - 2, 2);
      Le(R + 512 * i - 2, 0x0101, 2);
    }
  }

private:
  uint8_t* R;
  size_t At;
  uint16_t Instance = 0;
};

std::vector<uint8_t> StdInfo(uint32_t attributes) {
  std::vector<uint8_t> v(72, 0);
  Le(v.data(), 0x01DA000000000000ULL, 8);
  Le(v.data() + 8, 0x01DA000000000000ULL, 8);
  Le(v.data() + 32, attributes, 4);
  return v;
}

std::vector<uint8_t> FileName(int64_t parent, const std::string& name) {
  std::vector<uint8_t> v(66 + 2 * name.size(), 0);
  Le(v.data(), static_cast<uint64_t>(parent) | uint64_t{1} << 48, 8);
  v[64] = static_cast<uint8_t>(name.size());
  v[65] = 1;
  for (size_t i = 0; i < name.size(); ++i) v[66 + 2 * i] = static_cast<uint8_t>(name[i]);
  return v;
}

void MakeRecord(uint8_t* rec, int64_t n) {
  if (n < FIRST_USER + FOLDERS) {
    TRecordWriter w(rec, 0x0003);
    w.Resident(0x10, StdInfo(0x10));
    w.Resident(0x30, FileName(n < FIRST_USER + 10 ? 5 : FIRST_USER + n % 10, "folder " + std::to_string(n)));
    w.Seal();
    return;
  }
  const bool deleted = n % 2 == 1;
  TRecordWriter w(rec, deleted ? 0x0000 : 0x0001);
  w.Resident(0x10, StdInfo(0x20));
  w.Resident(0x30, FileName(FIRST_USER + n % FOLDERS, "file_" + std::to_string(n) + ".dat"));
  const uint32_t clusters = 1 + static_cast<uint32_t>(n % 8);
  w.DataRun(DATA_LCN + (n * 7) % DATA_SPAN, clusters, int64_t{clusters} * CLUSTER - 100);
  w.Seal();
}

bool Run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

// mkntfs's volume with its MFT replaced by RECORDS synthetic records.
bool BuildImage(const fs::path& img) {
  fs::path tmp = img.string() + ".part";
  fs::remove(tmp);
  if (!Run("truncate -s 1G '" + tmp.string() + "' && mkntfs -q -F -f -c 4096 -L BENCH '" + tmp.string() +
           "' >/dev/null 2>&1"))
    return false;
  int fd = ::open(tmp.c_str(), O_RDWR);
  if (fd < 0) return false;
  TRawSource src = TRawSource::Open(tmp.string());
  TMftReader reader(&src);
  if (reader.RecordSize != REC || reader.ClusterSize != CLUSTER) return false;
  std::vector<uint8_t> block(1 << 20);
  const int64_t perBlock = static_cast<int64_t>(block.size() / REC);
  for (int64_t first = 0; first < RECORDS; first += perBlock) {
    const int64_t count = std::min(perBlock, RECORDS - first);
    for (int64_t i = 0; i < count; ++i) {
      uint8_t* rec = block.data() + i * REC;
      const int64_t n = first + i;
      // The system records keep what mkntfs wrote.
      if (n >= FIRST_USER || src.Read(rec, REC, reader.GetRecordOffset(n)) != REC) MakeRecord(rec, n);
    }
    if (::pwrite(fd, block.data(), static_cast<size_t>(count * REC), MFT_LCN * CLUSTER + first * REC) !=
        static_cast<ssize_t>(count * REC))
      return false;
  }
  // Record 0 where the boot sector points: the $MFT, now over the new area.
  std::vector<uint8_t> mft(REC);
  TRecordWriter w(mft.data(), 0x0001);
  w.Resident(0x10, StdInfo(0x06));
  w.Resident(0x30, FileName(5, "$MFT"));
  w.DataRun(MFT_LCN, static_cast<uint32_t>(RECORDS * REC / CLUSTER), RECORDS * REC);
  w.Seal();
  bool ok = ::pwrite(fd, mft.data(), REC, reader.MftLcn * CLUSTER) == REC &&
            ::pwrite(fd, mft.data(), REC, MFT_LCN * CLUSTER) == REC;
  ::close(fd);
  if (ok) fs::rename(tmp, img);
  return ok;
}

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main() {
  const char* cache = std::getenv("MIREL_BENCH_CACHE");
  fs::path dir = cache && *cache ? cache : "/tmp/mirel-bench";
  fs::create_directories(dir);
  fs::path img = dir / "ntfs-200k-v1.img";
  if (!fs::exists(img)) {
    std::printf("building %s ...\n", img.c_str());
    if (!BuildImage(img)) {
      std::fprintf(stderr, "ntfs_scan_bench: cannot build %s (needs mkntfs)\n", img.c_str());
      return 1;
    }
  }
  StartEngine();
  TDiskObject disk("bench", img.string(), 0);
  if (!disk.Scaner) {
    std::fprintf(stderr, "ntfs_scan_bench: %s holds no NTFS volume\n", img.c_str());
    return 1;
  }
  const long before = PeakKb();
  const auto t0 = std::chrono::steady_clock::now();
  disk.Scaner->ScanForFiles();
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long after = PeakKb();
  const int64_t entries = disk.Files.Count() + disk.Folders.Count();
  const double mftMb = static_cast<double>(RECORDS * REC) / (1024.0 * 1024.0);
  std::printf("ntfs quick scan: %lld records (%.0f MB of MFT) in %.3f s\n", static_cast<long long>(RECORDS), mftMb,
              secs);
  std::printf("  records per second: %.0f\n", static_cast<double>(RECORDS) / secs);
  std::printf("  MB of MFT per second: %.1f\n", mftMb / secs);
  std::printf("  entries catalogued: %lld files, %lld folders\n", static_cast<long long>(disk.Files.Count()),
              static_cast<long long>(disk.Folders.Count()));
  std::printf("  peak memory per catalogued entry: %.0f bytes (peak RSS %ld -> %ld KiB)\n",
              entries ? (after - before) * 1024.0 / static_cast<double>(entries) : 0.0, before, after);
  // Every odd user record past the folders is a deleted file: the block reads
  // must find each of them, also those across block boundaries.
  const int64_t expected = (RECORDS - FIRST_USER - FOLDERS) / 2;
  if (disk.Files.Count() != expected) {
    std::fprintf(stderr, "ntfs_scan_bench: found %d deleted files, expected %lld\n", disk.Files.Count(),
                 static_cast<long long>(expected));
    return 1;
  }
  return 0;
}
