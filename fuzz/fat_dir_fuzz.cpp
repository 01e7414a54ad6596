// A FAT directory cluster with long names. The input (up to 4096 bytes) is the
// root directory of a small FAT12 volume and also the content of its first
// eight data clusters, so folders found in it lead back into it; 512 bytes
// after the first 4096 become the allocation table.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "core/DiskScaner.h"

using namespace mirel;

namespace {

constexpr uint32_t kSector = 512, kSpc = 8, kClusters = 64, kRootEntries = 128;
constexpr uint32_t kRootSectors = kRootEntries * 32 / kSector;
constexpr uint32_t kFirstFat = 1, kRoot = kFirstFat + 2, kData = kRoot + kRootSectors;
constexpr uint32_t kTotal = kData + kClusters * kSpc;
constexpr size_t kDirBytes = kSpc * kSector;

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> BaseImage() {
  std::vector<uint8_t> img(size_t{kTotal} * kSector);
  const uint8_t jump[] = {0xEB, 0x3C, 0x90};
  std::memcpy(img.data(), jump, 3);
  std::memcpy(&img[3], "MSWIN4.1", 8);
  Put(img, 0x0B, kSector, 2);
  img[0x0D] = kSpc;
  Put(img, 0x0E, kFirstFat, 2);
  img[0x10] = 2;
  Put(img, 0x11, kRootEntries, 2);
  Put(img, 0x13, kTotal, 2);
  img[0x15] = 0xF8;
  Put(img, 0x16, 1, 2);
  img[0x26] = 0x29;
  std::memcpy(&img[0x2B], "FUZZ       FAT12   ", 19);
  img[510] = 0x55;
  img[511] = 0xAA;
  return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  static fuzz::TMemImage image;
  static const std::vector<uint8_t> base = BaseImage();
  std::vector<uint8_t> img = base;
  const size_t dir = std::min(size, kDirBytes);
  std::memcpy(&img[size_t{kRoot} * kSector], data, dir);
  for (uint32_t c = 0; c < 8; ++c) std::memcpy(&img[(size_t{kData} + c * kSpc) * kSector], data, dir);
  const uint8_t media[] = {0xF8, 0xFF, 0xFF};
  for (uint32_t f = 0; f < 2; ++f) {
    uint8_t* table = &img[size_t{kFirstFat + f} * kSector];
    if (size > kDirBytes) std::memcpy(table, data + kDirBytes, std::min<size_t>(size - kDirBytes, kSector));
    std::memcpy(table, media, 3);
  }
  image.Set(img.data(), img.size());
  TDiskObject disk("fuzz.img", image.Path(), 0);
  if (!disk.Scaner) std::abort();  // the geometry is fixed and valid
  disk.Scaner->Options.Quick = size % 2 == 0;
  // Half the Long scans search the free clusters for lost folders too.
  disk.Scaner->Options.LostFolders = size % 4 == 1;
  disk.Scaner->ScanForFiles();
  fuzz::CheckCatalogue(disk);
  fuzz::ReadSomeStreams(disk, 16);
  return 0;
}
