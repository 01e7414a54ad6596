#include "fat/FatBootSector.h"

#include "core/LeReader.h"

namespace mirel::fat {

namespace {

// Offsets of the information sector.
constexpr size_t kFsInfoLeadSig = 0;
constexpr size_t kFsInfoStructSig = 484;
constexpr size_t kFsInfoFreeCount = 488;
constexpr uint32_t kLeadSig = 0x41615252;
constexpr uint32_t kStructSig = 0x61417272;
static_assert(kFsInfoFreeCount + 4 <= kBootSectorSize);

}  // namespace

uint32_t TFatBootSector::RootDirSectors() const {
  if (BytesPerSector == 0) return 0;
  return static_cast<uint32_t>((uint64_t{RootEntries} * 32 + BytesPerSector - 1) / BytesPerSector);
}

uint64_t TFatBootSector::FirstDataSector() const {
  return uint64_t{ReservedSectors} + uint64_t{NumFats} * FatSectors() + RootDirSectors();
}

uint64_t TFatBootSector::ClusterCount() const {
  const uint64_t first = FirstDataSector();
  if (BytesPerSector == 0 || SectorsPerCluster == 0 || TotalSectors() <= first) return 0;
  return (TotalSectors() - first) / SectorsPerCluster;
}

TFatKind TFatBootSector::Kind() const {
  const uint64_t clusters = ClusterCount();
  if (clusters < 4085) return TFatKind::Fat12;
  if (clusters < 65525) return TFatKind::Fat16;
  return TFatKind::Fat32;
}

std::optional<TFatBootSector> DecodeFatBootSector(std::span<const uint8_t> sector) {
  TLeReader r(sector);
  if (r.Size() < kBootSectorSize) return std::nullopt;
  TFatBootSector b;
  b.NumFats = r.U8(bs::NumFats);
  b.RootEntries = r.U16(bs::RootEntries);
  b.FatSize16 = r.U16(bs::FatSize16);
  if (b.NumFats == 0 && b.RootEntries == 0 && b.FatSize16 == 0) return std::nullopt;
  b.BytesPerSector = r.U16(bs::BytesPerSector);
  b.SectorsPerCluster = r.U8(bs::SectorsPerCluster);
  b.ReservedSectors = r.U16(bs::ReservedSectors);
  b.TotalSectors16 = r.U16(bs::TotalSectors16);
  b.TotalSectors32 = r.U32(bs::TotalSectors32);
  b.FatSize32 = r.U32(bs::FatSize32);
  b.HasSignature = r.U16(bs::Signature) == 0xAA55;
  // FAT12/16 keep their extended boot record where FAT32 has its extension.
  const bool fat32 = b.Kind() == TFatKind::Fat32;
  if (fat32) {
    b.ExtFlags = r.U16(bs::ExtFlags);
    b.RootCluster = r.U32(bs::RootCluster);
    b.FsInfoSector = r.U16(bs::FsInfoSector);
  }
  const size_t ebr = fat32 ? bs::Ebr32 : bs::Ebr16;
  if (r.U8(ebr) == bs::EbrSignature) {
    b.HasSerial = true;
    b.SerialNumber = r.U32(ebr + bs::EbrSerial);
    std::span<const uint8_t> label = r.Bytes(ebr + bs::EbrLabel, bs::LabelSize);
    b.Label.assign(label.begin(), label.end());
  }
  return b;
}

std::optional<uint32_t> DecodeFsInfoFreeCount(std::span<const uint8_t> sector) {
  TLeReader r(sector);
  if (r.Size() < kBootSectorSize) return std::nullopt;
  if (r.U32(kFsInfoLeadSig) != kLeadSig || r.U32(kFsInfoStructSig) != kStructSig) return std::nullopt;
  return r.U32(kFsInfoFreeCount);
}

}  // namespace mirel::fat
