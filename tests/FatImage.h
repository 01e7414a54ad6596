#pragma once
// Hand-built FAT volumes for the edge cases that the real tools never write:
// a boot sector, the allocation tables and raw 32-byte directory entries.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "core/DiskObject.h"

namespace mirel::test {

using TEntry = std::array<uint8_t, 32>;

// A short entry. name11 is the 11 name bytes as stored (space padded); a
// first byte 0xE5 marks it deleted. Times: 2024-05-17 10:20:30 (local).
TEntry ShortEntry(const std::string& name11, uint8_t attr, uint32_t cluster, uint32_t size);
// The long-name entries (in directory order) for name in front of the short
// entry; deleted ones carry 0xE5 in their first byte.
std::vector<TEntry> LongEntries(const std::u16string& name, const TEntry& shortEntry, bool deleted = false);

class TFatImage {
public:
  // A volume of `clusters` data clusters of spc sectors of 512 bytes; bits 12,
  // 16 or 32 (the cluster count must fit the kind). FAT12/16 get a root
  // region of rootEntries entries; FAT32 a root directory in cluster 2.
  TFatImage(int bits, uint32_t clusters, uint8_t spc = 1, uint16_t rootEntries = 64);

  // Writes value into entry n of every table copy.
  void SetFat(uint32_t n, uint32_t value);
  // Links the clusters into a chain ending with an end-of-chain mark.
  void Chain(std::initializer_list<uint32_t> clusters);
  int64_t ClusterPos(uint32_t n) const;
  // The first byte of the root directory (region or cluster).
  int64_t RootPos() const;
  uint32_t ClusterBytes() const { return Spc * 512u; }
  void Put(int64_t pos, const TEntry& e);
  // Puts entries one after another from pos on; returns the position after them.
  int64_t PutAll(int64_t pos, const std::vector<TEntry>& entries);
  void Fill(int64_t pos, const std::vector<uint8_t>& bytes);
  // Writes the image (its full size, sparse past the written bytes).
  void Save(const std::filesystem::path& p) const;

  TBpb Bpb;
  int Bits;
  uint8_t Spc;
  uint32_t FatSectors = 0;
  std::vector<uint8_t> Bytes;
  int64_t VolumeBytes = 0;

private:
  void Grow(int64_t end);
};

}  // namespace mirel::test

namespace mirel {
class TFatScaner;
}

namespace mirel::test {

// A temporary folder with its own debug log, and volumes opened from images.
class FatTest : public ::testing::Test {
protected:
  void SetUp() override;
  // Saves the image and opens it as a volume (scanner made, not initialised).
  std::unique_ptr<TDiskObject> Open(const TFatImage& image, const std::string& name = "vol.img");
  std::unique_ptr<TDiskObject> Open(const std::filesystem::path& imagePath);
  static TFatScaner& Fat(TDiskObject& disk);
  // The lines written to the debug log so far.
  std::vector<std::string> LogLines() const;
  // The catalogued files as "path size condition", sorted by path.
  static std::vector<std::string> Listing(const TDiskObject& disk);

  TTempDir Tmp;
};

}  // namespace mirel::test
