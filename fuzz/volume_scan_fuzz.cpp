// A whole-volume scan: the input is the start of a FAT or NTFS volume (boot
// sector, tables, directories or MFT); the volume is as long as its boot
// sector says, up to a limit, with zeros after the input.
#include "FuzzSupport.h"
#include "core/DiskScaner.h"
#include "core/LeReader.h"
#include "ntfs/NtfsBootSector.h"

using namespace mirel;

namespace {

constexpr int64_t kMaxVolume = int64_t{48} << 20;

int64_t DeclaredSize(const uint8_t* data, size_t size) {
  TLeReader b(data, size);
  if (size >= 11 && std::equal(data + 3, data + 11, "NTFS    ")) {
    const std::optional<TNtfsBootSector> boot = DecodeNtfsBootSector(std::span<const uint8_t>(data, size));
    if (!boot) return kMaxVolume;
    const auto sectors = static_cast<int64_t>(std::min<uint64_t>(boot->TotalSectors, uint64_t{1} << 40));
    return std::min(kMaxVolume, boot->BytesPerSector * sectors + boot->BytesPerSector);
  }
  const int64_t bps = b.U16(0x0B);
  const int64_t sectors = b.U16(0x13) ? b.U16(0x13) : b.U32(0x20);
  return std::min(kMaxVolume, bps * sectors + bps);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  static fuzz::TMemImage image;
  image.Set(data, size, DeclaredSize(data, size));
  std::unique_ptr<TDiskObject> disk;
  try {
    disk = std::make_unique<TDiskObject>("fuzz.img", image.Path(), 0);
  } catch (const std::exception&) {
    return 0;
  }
  if (!disk->Scaner) return 0;
  disk->Scaner->Options.Quick = false;
  disk->Scaner->ScanForFiles();
  fuzz::CheckCatalogue(*disk);
  fuzz::ReadSomeStreams(*disk, 32);
  return 0;
}
