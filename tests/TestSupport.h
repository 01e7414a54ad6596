#pragma once
// Shared helpers of the tests: fixture images made by the real tools, temporary
// folders, hand-built boot sectors.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/DiskScaner.h"

namespace mirel::test {

// Scans disk to its end on the calling thread, as the scan job does, with
// nobody listening; true when the scan completed.
bool ScanVolume(TDiskObject& disk, TScanOptions options = {});

// Folder holding the images of tests/fixtures (made on first use).
std::filesystem::path FixtureDir();
std::filesystem::path Fixture(const std::string& name);
std::string ReadWholeFile(const std::filesystem::path& p);

class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  const std::filesystem::path& Path() const { return Dir; }
  std::filesystem::path operator/(const std::string& name) const { return Dir / name; }

private:
  std::filesystem::path Dir;
};

void WriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes);

// A FAT boot sector (512 bytes, signature set) from the BPB fields given.
struct TBpb {
  uint16_t BytesPerSector = 512;
  uint8_t SectorsPerCluster = 1;
  uint16_t Reserved = 1;
  uint8_t NumFats = 2;
  uint16_t RootEntries = 512;
  uint32_t TotalSectors = 0;  // goes to the 16-bit field when it fits
  uint32_t FatSize = 0;       // goes to the 16-bit field when it fits
  bool Force32BitTotal = false;
  bool Force32BitFatSize = false;
};
std::vector<uint8_t> MakeBootSector(const TBpb& bpb);
// Total sectors that give exactly `clusters` data clusters for this geometry.
uint32_t SectorsForClusters(const TBpb& bpb, uint32_t clusters);

// Runs the command line in-process with argv after "mirel"; with outFd, raw
// data goes to that descriptor as the program's own standard output does.
struct TCliRun {
  int Status = 0;
  std::string Out, Err;
};
TCliRun RunMirel(std::vector<std::string> args, int outFd = -1);

void PutLe(std::vector<uint8_t>& b, size_t off, uint64_t v, int width);

}  // namespace mirel::test
