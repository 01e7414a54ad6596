#pragma once
// The FAT boot sector: the BIOS parameter block of FAT12/16/32, the FAT32
// extension, the extended boot record (serial and label), and the FAT32
// information sector. Decoded once from the sector's bytes; detection, the
// scanner and the driver all read their geometry from here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mirel::fat {

constexpr size_t kBootSectorSize = 512;

// Field offsets of the boot sector.
namespace bs {
constexpr size_t BytesPerSector = 0x0B;     // 16
constexpr size_t SectorsPerCluster = 0x0D;  // 8
constexpr size_t ReservedSectors = 0x0E;    // 16
constexpr size_t NumFats = 0x10;            // 8
constexpr size_t RootEntries = 0x11;        // 16
constexpr size_t TotalSectors16 = 0x13;     // 16
constexpr size_t FatSize16 = 0x16;          // 16
constexpr size_t TotalSectors32 = 0x20;     // 32
// FAT32 extension, decoded on FAT32 only: FAT12/16 keep other things there.
constexpr size_t FatSize32 = 0x24;     // 32
constexpr size_t ExtFlags = 0x28;      // 16
constexpr size_t RootCluster = 0x2C;   // 32
constexpr size_t FsInfoSector = 0x30;  // 16
// The extended boot record: at 0x26 on FAT12/16, at 0x42 on FAT32.
constexpr size_t Ebr16 = 0x26;
constexpr size_t Ebr32 = 0x42;
constexpr size_t EbrSerial = 1;  // 32, from the record's signature byte
constexpr size_t EbrLabel = 5;   // 11 bytes
constexpr size_t LabelSize = 11;
constexpr uint8_t EbrSignature = 0x29;
constexpr size_t Signature = 0x1FE;  // 0x55 0xAA
}  // namespace bs
static_assert(bs::Ebr32 + bs::EbrLabel + bs::LabelSize <= 0x5A, "the FAT32 label ends inside the BPB");

// Width of the allocation-table entries, as the cluster count decides it.
enum class TFatKind : uint8_t { Fat12 = 12, Fat16 = 16, Fat32 = 32 };

struct TFatBootSector {
  uint16_t BytesPerSector = 0;
  uint8_t SectorsPerCluster = 0;
  uint16_t ReservedSectors = 0;
  uint8_t NumFats = 0;
  uint16_t RootEntries = 0;
  uint16_t TotalSectors16 = 0;
  uint16_t FatSize16 = 0;
  uint32_t TotalSectors32 = 0;
  uint32_t FatSize32 = 0;
  // FAT32 only; 0 on FAT12/16.
  uint16_t ExtFlags = 0;
  uint32_t RootCluster = 0;
  uint16_t FsInfoSector = 0;
  bool HasSignature = false;  // 0x55 0xAA at the sector's end
  // From the extended boot record, when it is there (signature 0x29).
  bool HasSerial = false;
  uint32_t SerialNumber = 0;
  std::string Label;  // the raw label bytes, padding kept

  uint32_t TotalSectors() const { return TotalSectors16 ? TotalSectors16 : TotalSectors32; }
  uint32_t FatSectors() const { return FatSize16 ? FatSize16 : FatSize32; }
  // Sectors of the fixed root region (0 on FAT32); 0 without a sector size.
  uint32_t RootDirSectors() const;
  // Sectors in front of the data region: reserved, tables and root region.
  uint64_t FirstDataSector() const;
  // Whole data clusters; none when the geometry leaves no data region.
  uint64_t ClusterCount() const;
  // By the cluster-count rule: below 4085 FAT12, below 65525 FAT16.
  TFatKind Kind() const;
  // FAT32 with mirroring off (bit 7): the table bits 0-3 name; else 0.
  uint8_t ActiveFat() const { return (ExtFlags & 0x80) ? static_cast<uint8_t>(ExtFlags & 0x0F) : 0; }
};

// The boot sector of a FAT volume; nothing when the bytes are shorter than a
// sector, or when the number of tables, the root entry count and the 16-bit
// table size are all zero, which no FAT volume has (NTFS and blank sectors).
// The geometry is not checked here: callers decide what they can use.
[[nodiscard]] std::optional<TFatBootSector> DecodeFatBootSector(std::span<const uint8_t> sector);

// The free-cluster count of a FAT32 information sector, when its lead and
// structure signatures are there; whether it is plausible is the caller's question.
[[nodiscard]] std::optional<uint32_t> DecodeFsInfoFreeCount(std::span<const uint8_t> sector);

}  // namespace mirel::fat
