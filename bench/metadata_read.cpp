// metadata_read IMAGE: reads the metadata a scan of the volume needs (FAT:
// reserved area, tables and live directories; NTFS: the whole MFT) in 1 MiB
// reads and prints how much that was. compare-tools.sh times it as a process
// beside the scans, as the limit they could reach.
#include <chrono>
#include <cstdio>
#include <exception>

#include "Engine.h"
#include "MetadataRead.h"
#include "core/DiskObject.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: metadata_read IMAGE\n");
    return 1;
  }
  mirel::StartEngine();
  try {
    mirel::TDiskObject disk("bench", argv[1], 0);
    mirel::bench::TMetadataRead read(disk);
    const auto t0 = std::chrono::steady_clock::now();
    if (!read.Run()) {
      std::fprintf(stderr, "metadata_read: %s\n", read.Error.c_str());
      return 2;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%lld bytes of %s metadata in %zu ranges, %lld reads, %.3f s\n", static_cast<long long>(read.Bytes),
                mirel::FileSystemCodeName(disk.FileSystem).c_str(), read.Ranges.size(),
                static_cast<long long>(read.Reads), s);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "metadata_read: %s: %s\n", argv[1], e.what());
    return 2;
  }
  return 0;
}
