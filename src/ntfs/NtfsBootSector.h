#pragma once
// The NTFS boot sector: the volume's geometry and where its MFT lies. One
// decoder serves file-system detection, the MFT reader and the volume facts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mirel {

// The fields up to the serial number; a sector is never shorter than this.
constexpr size_t kNtfsBootSectorBytes = 0x50;

struct TNtfsBootSector {
  uint16_t BytesPerSector = 0;
  uint8_t SectorsPerCluster = 0;
  uint64_t TotalSectors = 0;
  int64_t MftLcn = 0;
  int64_t MftMirrorLcn = 0;
  // Bytes per MFT record and per index buffer; 0 when the field gives no
  // size a volume can have.
  uint32_t RecordSize = 0;
  uint32_t IndexSize = 0;
  uint64_t Serial = 0;
  // The OEM name reads "NTFS    "; the sector ends in 55 AA (false for a
  // span shorter than 512 bytes).
  bool NamedNtfs = false;
  bool HasSignature = false;

  uint32_t ClusterSize() const { return uint32_t{BytesPerSector} * SectorsPerCluster; }
  // The volume's size by its own account; 0 when the product overflows.
  int64_t VolumeBytes() const;
};

// The boot sector's fields; nullopt for bytes that are no NTFS boot sector:
// shorter than kNtfsBootSectorBytes, FAT's table fields set, or no sector or
// cluster size at all.
[[nodiscard]] std::optional<TNtfsBootSector> DecodeNtfsBootSector(std::span<const uint8_t> sector);

}  // namespace mirel
