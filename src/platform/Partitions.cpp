#include "platform/Partitions.h"

#include <blkid/blkid.h>
#include <array>
#include <cstring>
#include <memory>
#include <set>

namespace mirel {

std::vector<TPartition> ReadPartitionTable(const std::string& path) {
  std::vector<TPartition> parts;
  std::unique_ptr<std::remove_pointer_t<blkid_probe>, void (*)(blkid_probe)> probe(
      blkid_new_probe_from_filename(path.c_str()), blkid_free_probe);
  if (!probe) return parts;
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (!list) return parts;
  const int n = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < n; ++i) {
    blkid_partition p = blkid_partlist_get_partition(list, i);
    if (!p || blkid_partition_is_extended(p)) continue;
    blkid_loff_t start = blkid_partition_get_start(p), size = blkid_partition_get_size(p);
    if (start < 0 || size <= 0) continue;
    parts.push_back(
        {blkid_partition_get_partno(p), static_cast<int64_t>(start) * 512, static_cast<int64_t>(size) * 512});
  }
  return parts;
}

namespace {

constexpr int64_t kSector = 512;

// A little-endian field of a table sector; every offset used lies inside
// the 512 bytes.
uint64_t Le(const uint8_t* p, size_t off, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | p[off + static_cast<size_t>(i)];
  return v;
}

bool ReadSector(const TByteSource& disk, int64_t lba, std::array<uint8_t, kSector>& sector) {
  return lba >= 0 && disk.Read(sector.data(), sector.size(), lba * kSector) == sector.size();
}

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::vector<TPartition> ReadGpt(const TByteSource& disk) {
  std::vector<TPartition> parts;
  std::array<uint8_t, kSector> header{};
  const int64_t diskSectors = disk.Size() / kSector;
  auto isHeader = [&](int64_t lba) {
    return ReadSector(disk, lba, header) && std::memcmp(header.data(), "EFI PART", 8) == 0;
  };
  // The backup header in the last sector serves when the first is damaged.
  if (!isHeader(1) && !isHeader(diskSectors - 1)) return parts;
  const uint64_t entriesLba = Le(header.data(), 72, 8);
  const uint64_t count = Le(header.data(), 80, 4), entryBytes = Le(header.data(), 84, 4);
  if (entryBytes < 128 || entryBytes > kSector || kSector % entryBytes != 0 || count > 1024) return parts;
  std::array<uint8_t, kSector> sector{};
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = i * entryBytes;
    if (at % kSector == 0 && !ReadSector(disk, static_cast<int64_t>(entriesLba + at / kSector), sector)) break;
    const uint8_t* e = sector.data() + at % kSector;
    if (Le(e, 0, 8) == 0 && Le(e, 8, 8) == 0) continue;  // an unused slot
    const uint64_t first = Le(e, 32, 8), last = Le(e, 40, 8);
    if (last < first || first == 0 || static_cast<int64_t>(last) >= diskSectors) continue;
    parts.push_back({static_cast<int>(i + 1), static_cast<int64_t>(first) * kSector,
                     static_cast<int64_t>(last - first + 1) * kSector});
  }
  return parts;
}

}  // namespace

std::vector<TPartition> ReadPartitionTable(const TByteSource& disk) {
  std::vector<TPartition> parts;
  std::array<uint8_t, kSector> mbr{};
  if (!ReadSector(disk, 0, mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return parts;
  // A volume's boot sector carries the same signature; its jump instruction
  // sets it apart from a partition table.
  if (mbr[0] == 0xEB || mbr[0] == 0xE9) return parts;
  for (int slot = 0; slot < 4; ++slot)
    if (mbr[0x1BE + slot * 16 + 4] == 0xEE) return ReadGpt(disk);
  const int64_t diskSectors = disk.Size() / kSector;
  for (int slot = 0; slot < 4; ++slot) {
    const size_t e = 0x1BE + static_cast<size_t>(slot) * 16;
    const uint8_t type = mbr[e + 4];
    const auto start = static_cast<int64_t>(Le(mbr.data(), e + 8, 4));
    const auto length = static_cast<int64_t>(Le(mbr.data(), e + 12, 4));
    if (type == 0 || length == 0 || start + length > diskSectors) continue;
    if (!IsExtended(type)) {
      parts.push_back({slot + 1, start * kSector, length * kSector});
      continue;
    }
    // Logical partitions: a chain of boot records, each link relative to the
    // extended partition's start; bounded and never revisiting a record.
    std::set<int64_t> seen;
    int number = 5;
    for (int64_t ebr = start; ebr > 0 && seen.insert(ebr).second && seen.size() <= 128;) {
      std::array<uint8_t, kSector> rec{};
      if (!ReadSector(disk, ebr, rec) || rec[510] != 0x55 || rec[511] != 0xAA) break;
      const auto lStart = ebr + static_cast<int64_t>(Le(rec.data(), 0x1BE + 8, 4));
      const auto lLength = static_cast<int64_t>(Le(rec.data(), 0x1BE + 12, 4));
      if (rec[0x1BE + 4] != 0 && lLength > 0 && lStart + lLength <= diskSectors)
        parts.push_back({number++, lStart * kSector, lLength * kSector});
      const auto next = static_cast<int64_t>(Le(rec.data(), 0x1CE + 8, 4));
      ebr = IsExtended(rec[0x1CE + 4]) && next > 0 ? start + next : 0;
    }
  }
  return parts;
}

}  // namespace mirel
