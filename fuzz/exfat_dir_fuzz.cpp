// exFAT entry sets and the allocation table. The input (up to 4064 bytes)
// follows the bitmap entry in the root folder of a small exFAT volume and is
// also the content of eight more clusters, so folders found in it lead back
// into it; the next 256 bytes become the start of the allocation table and
// the byte after them the first byte of the allocation bitmap.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "core/DiskScaner.h"
#include "exfat/ExfatBootSector.h"

using namespace mirel;

namespace {

constexpr uint32_t kSector = 512, kSpcShift = 3, kCluster = kSector << kSpcShift, kClusters = 64;
constexpr uint32_t kFatOffset = 24, kFatLength = 8, kHeap = 64, kTotal = kHeap + (kClusters << kSpcShift);
constexpr uint32_t kBitmapCluster = 2, kRootCluster = 3;
constexpr size_t kDirBytes = kCluster - 32, kFatBytes = 256;

void Put(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t ClusterAt(uint32_t n) { return size_t{kHeap} * kSector + size_t{n - 2} * kCluster; }

std::vector<uint8_t> BaseImage() {
  std::vector<uint8_t> img(size_t{kTotal} * kSector);
  const uint8_t head[] = {0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};
  std::memcpy(img.data(), head, sizeof head);
  Put(img, 0x48, kTotal, 8);
  Put(img, 0x50, kFatOffset, 4);
  Put(img, 0x54, kFatLength, 4);
  Put(img, 0x58, kHeap, 4);
  Put(img, 0x5C, kClusters, 4);
  Put(img, 0x60, kRootCluster, 4);
  img[0x6C] = 9;
  img[0x6D] = kSpcShift;
  img[0x6E] = 1;
  img[510] = 0x55;
  img[511] = 0xAA;
  const uint32_t sum = exfat::BootRegionChecksum(img, kSector);
  for (size_t off = 11 * kSector; off < 12 * kSector; off += 4) Put(img, off, sum, 4);
  const size_t fat = size_t{kFatOffset} * kSector;
  Put(img, fat, 0xFFFFFFF8, 4);
  Put(img, fat + 4, 0xFFFFFFFF, 4);
  Put(img, fat + 8, 0xFFFFFFFF, 4);
  Put(img, fat + 12, 0xFFFFFFFF, 4);
  // The bitmap entry: eight bytes for 64 clusters.
  const size_t root = ClusterAt(kRootCluster);
  img[root] = 0x81;
  Put(img, root + 0x14, kBitmapCluster, 4);
  Put(img, root + 0x18, kClusters / 8, 8);
  return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  static fuzz::TMemImage image;
  static const std::vector<uint8_t> base = BaseImage();
  std::vector<uint8_t> img = base;
  const size_t dir = std::min(size, kDirBytes);
  std::memcpy(&img[ClusterAt(kRootCluster) + 32], data, dir);
  for (uint32_t c = 4; c < 12; ++c) std::memcpy(&img[ClusterAt(c)], data, dir);
  const size_t fat = size_t{kFatOffset} * kSector;
  if (size > kDirBytes) std::memcpy(&img[fat + 16], data + kDirBytes, std::min(size - kDirBytes, kFatBytes));
  img[ClusterAt(kBitmapCluster)] =
      static_cast<uint8_t>(size > kDirBytes + kFatBytes ? data[kDirBytes + kFatBytes] | 0x03 : 0x03);
  image.Set(img.data(), img.size());
  TDiskObject disk("fuzz.img", image.Path(), 0);
  if (!disk.Scaner) std::abort();  // the geometry is fixed and valid
  disk.Scaner->Options.Quick = size % 2 == 0;
  disk.Scaner->ScanForFiles();
  fuzz::CheckCatalogue(disk);
  fuzz::ReadSomeStreams(disk, 16);
  return 0;
}
