// The exFAT on-disk decoders over hand-made and recorded bytes: the boot
// sector and its region's checksum, entry sets as exfat-fuse wrote them,
// timestamps, the allocation bitmap and the table.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "TestSupport.h"
#include "exfat/ExfatBitmap.h"
#include "exfat/ExfatBootSector.h"
#include "exfat/ExfatDirEntry.h"
#include "exfat/ExfatFat.h"

using namespace mirel;
using namespace mirel::exfat;
using namespace mirel::test;

namespace {

// A 64 MiB volume as mkfs.exfat lays it out with 4 KiB clusters.
std::vector<uint8_t> BootSector() {
  std::vector<uint8_t> s(512);
  const uint8_t head[] = {0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};
  std::copy(std::begin(head), std::end(head), s.begin());
  PutLe(s, 0x48, 0x20000, 8);  // volume length, sectors
  PutLe(s, 0x50, 0x800, 4);    // FAT offset
  PutLe(s, 0x54, 0x80, 4);     // FAT length
  PutLe(s, 0x58, 0x1000, 4);   // cluster heap offset
  PutLe(s, 0x5C, 0x3E00, 4);   // cluster count
  PutLe(s, 0x60, 5, 4);        // root cluster
  PutLe(s, 0x64, 0xEFFE648B, 4);
  PutLe(s, 0x68, 0x0100, 2);
  s[0x6C] = 9;
  s[0x6D] = 3;
  s[0x6E] = 1;
  s[0x6F] = 0x80;
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// The set exfat-fuse wrote for a live "x.txt" of 6 bytes in cluster 6.
const std::array<uint8_t, 96> kLiveSet = {
    0x85, 0x02, 0xF6, 0xBE, 0x20, 0x00, 0x00, 0x00, 0x87, 0xA1, 0x88, 0x5D, 0x87, 0xA1, 0x88, 0x5D,
    0x87, 0xA1, 0x88, 0x5D, 0x64, 0x64, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xC0, 0x03, 0x00, 0x05, 0x38, 0x28, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xC1, 0x00, 0x78, 0x00, 0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

std::vector<uint8_t> Deleted(std::span<const uint8_t> set) {
  std::vector<uint8_t> v(set.begin(), set.end());
  for (size_t i = 0; i < v.size(); i += kEntrySize) v[i] &= 0x7F;
  return v;
}

}  // namespace

TEST(ExfatBootSector, DecodesTheGeometryMkfsWrites) {
  const std::optional<TExfatBootSector> b = DecodeBootSector(BootSector());
  ASSERT_TRUE(b);
  EXPECT_EQ(b->BytesPerSector(), 512u);
  EXPECT_EQ(b->ClusterBytes(), 4096u);
  EXPECT_EQ(b->ClusterCount, 0x3E00u);
  EXPECT_EQ(b->RootCluster, 5u);
  EXPECT_EQ(b->SerialNumber, 0xEFFE648Bu);
  EXPECT_FALSE(b->SecondFatActive());
}

TEST(ExfatBootSector, RefusesWhatNoExfatVolumeHolds) {
  auto broken = [](auto change) {
    std::vector<uint8_t> s = BootSector();
    change(s);
    return DecodeBootSector(s).has_value();
  };
  EXPECT_FALSE(broken([](auto& s) { s[3] = 'N'; }));                 // another name
  EXPECT_FALSE(broken([](auto& s) { s[511] = 0; }));                 // no signature
  EXPECT_FALSE(broken([](auto& s) { s[0x0B] = 2; }));                // a FAT parameter block
  EXPECT_FALSE(broken([](auto& s) { s[0x6C] = 8; }));                // 256-byte sectors
  EXPECT_FALSE(broken([](auto& s) { s[0x6D] = 17; }));               // 64 MiB clusters
  EXPECT_FALSE(broken([](auto& s) { s[0x6E] = 3; }));                // three tables
  EXPECT_FALSE(broken([](auto& s) { PutLe(s, 0x60, 1, 4); }));       // root before the heap
  EXPECT_FALSE(broken([](auto& s) { PutLe(s, 0x60, 0x3E02, 4); }));  // root past it
  EXPECT_FALSE(broken([](auto& s) { PutLe(s, 0x48, 0x1000, 8); }));  // heap past the volume
  EXPECT_FALSE(broken([](auto& s) { PutLe(s, 0x54, 1, 4); }));       // table too short for the heap
  EXPECT_FALSE(broken([](auto& s) { PutLe(s, 0x5C, 0, 4); }));
  const std::vector<uint8_t> boot = BootSector();
  EXPECT_FALSE(DecodeBootSector(std::span(boot).first(511)).has_value());
  EXPECT_TRUE(broken([](auto& s) { s[0x6A] = 1; }));  // flags only choose the table
}

TEST(ExfatBootSector, RegionChecksumLeavesOutFlagsAndUsage) {
  std::vector<uint8_t> region(size_t{12} * 512);
  region[0] = 1;
  // One bit rotated right once per later byte summed (5628 of them).
  EXPECT_EQ(BootRegionChecksum(region, 512), 0x10u);
  const uint32_t before = BootRegionChecksum(region, 512);
  region[0x6A] = region[0x6B] = region[0x70] = 0xFF;
  EXPECT_EQ(BootRegionChecksum(region, 512), before);
  region[0x71] = 1;
  const uint32_t changed = BootRegionChecksum(region, 512);
  EXPECT_NE(changed, before);
  region[size_t{11} * 512] = 0xFF;  // the checksum sector itself is not summed
  EXPECT_EQ(BootRegionChecksum(region, 512), changed);
}

TEST(ExfatBootSector, RegionCountsOnlyWithItsChecksumSector) {
  std::vector<uint8_t> region(size_t{12} * 512);
  const std::vector<uint8_t> boot = BootSector();
  std::copy(boot.begin(), boot.end(), region.begin());
  const uint32_t sum = BootRegionChecksum(region, 512);
  for (size_t off = size_t{11} * 512; off < region.size(); off += 4) PutLe(region, off, sum, 4);
  EXPECT_TRUE(CheckBootRegion(region));
  region[0x200] ^= 1;  // an extended boot sector changed behind the sum's back
  EXPECT_FALSE(CheckBootRegion(region));
  region[0x200] ^= 1;
  PutLe(region, region.size() - 4, sum + 1, 4);
  EXPECT_FALSE(CheckBootRegion(region));
  EXPECT_FALSE(CheckBootRegion(std::span(region).first(size_t{11} * 512)));
}

TEST(ExfatEntrySet, LiveSetAsWritten) {
  const std::optional<TEntrySet> s = DecodeEntrySet(kLiveSet);
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->Deleted);
  EXPECT_EQ(s->Name, "x.txt");
  EXPECT_EQ(s->Attributes, 0x20);
  EXPECT_EQ(s->FirstCluster, 6u);
  EXPECT_EQ(s->DataLength, 6u);
  EXPECT_EQ(s->ValidDataLength, 6u);
  EXPECT_TRUE(s->NoFatChain);
  EXPECT_EQ(s->Bytes(), 96u);
  // 2026-12-08 20:12:14 and 100 x 10 ms, recorded at UTC.
  EXPECT_EQ(FileTimeToIso(s->Modified), "2026-12-08T20:12:15Z");
  EXPECT_EQ(s->Modified % 10000000, 0u);
  EXPECT_EQ(FileTimeToIso(s->Accessed), "2026-12-08T20:12:14Z");
}

TEST(ExfatEntrySet, DeletedSetKeepsItsChecksum) {
  const std::vector<uint8_t> gone = Deleted(kLiveSet);
  const std::optional<TEntrySet> s = DecodeEntrySet(gone);
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->Deleted);
  EXPECT_EQ(s->Name, "x.txt");
  EXPECT_EQ(EntrySetChecksum(gone), EntrySetChecksum(kLiveSet));
}

TEST(ExfatEntrySet, RefusesDamagedOrMixedSets) {
  auto decodes = [](auto change) {
    std::vector<uint8_t> v(kLiveSet.begin(), kLiveSet.end());
    change(v);
    return DecodeEntrySet(v).has_value();
  };
  EXPECT_FALSE(decodes([](auto& v) { v[66] = 'y'; }));   // name changed: checksum wrong
  EXPECT_FALSE(decodes([](auto& v) { v[64] = 0x41; }));  // one entry deleted, the others live
  EXPECT_FALSE(decodes([](auto& v) { v[32] = 0xC1; }));  // no stream extension
  EXPECT_FALSE(decodes([](auto& v) { v[1] = 1; }));      // too few secondaries
  EXPECT_FALSE(decodes([](auto& v) { v[1] = 19; }));     // too many
  EXPECT_FALSE(decodes([](auto& v) { v.resize(64); }));  // cut short
  EXPECT_EQ(EntrySetBytes(kLiveSet), 96u);
  EXPECT_EQ(EntrySetBytes(std::span(kLiveSet).subspan(32)), 0u);
}

TEST(ExfatEntrySet, NameLengthMustFitItsEntriesAndBeLegal) {
  auto withName = [](uint8_t units, char16_t second) {
    std::vector<uint8_t> v(kLiveSet.begin(), kLiveSet.end());
    v[32 + 3] = units;
    v[64 + 4] = static_cast<uint8_t>(second);
    PutLe(v, 2, EntrySetChecksum(v), 2);
    return DecodeEntrySet(v);
  };
  EXPECT_EQ(withName(1, '.')->Name, "x");
  EXPECT_FALSE(withName(0, '.'));
  EXPECT_FALSE(withName(16, '.'));  // one name entry holds 15 units
  EXPECT_FALSE(withName(5, '/'));
  EXPECT_FALSE(withName(5, 0x01));
}

TEST(ExfatEntrySet, LongNamesSpanEntriesAndExtraSecondariesAreAllowed) {
  // A 20-unit name in two name entries, then a vendor entry.
  std::vector<uint8_t> v(kLiveSet.begin(), kLiveSet.begin() + 64);
  v.resize(size_t{5} * 32);
  v[1] = 4;
  v[32 + 3] = 20;
  for (int k = 0; k < 20; ++k) {
    const size_t at = (2 + k / 15) * 32 + 2 + (k % 15) * 2;
    PutLe(v, at, k == 0 ? 0x65E5 : 'a' + k, 2);  // U+65E5 first
  }
  v[64] = v[96] = 0xC1;
  v[128] = 0xE0;
  PutLe(v, 2, EntrySetChecksum(v), 2);
  const std::optional<TEntrySet> s = DecodeEntrySet(v);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Name,
            "\xE6\x97\xA5"
            "bcdefghijklmnopqrst");
  v[128] = 0x85;  // a primary entry cannot stand inside a set
  PutLe(v, 2, EntrySetChecksum(v), 2);
  EXPECT_FALSE(DecodeEntrySet(v));
}

TEST(ExfatEntry, TimestampsHonourTheUtcOffset) {
  // 2024-03-10 12:00:00: date 0x586A, time 0x6000.
  const uint32_t stamp = 0x586A6000;
  const TFileTime utc = DecodeTimestamp(stamp, 0, 0x80);
  EXPECT_EQ(FileTimeToIso(utc), "2024-03-10T12:00:00Z");
  EXPECT_EQ(FileTimeToIso(DecodeTimestamp(stamp, 0, 0x80 | 8)), "2024-03-10T10:00:00Z");     // UTC+2
  EXPECT_EQ(FileTimeToIso(DecodeTimestamp(stamp, 0, 0x80 | 0x6C)), "2024-03-10T17:00:00Z");  // UTC-5
  EXPECT_EQ(DecodeTimestamp(stamp, 199, 0x80) - utc, 19900000u);
  EXPECT_EQ(DecodeTimestamp(stamp, 200, 0x80), utc);  // out of range: ignored
  EXPECT_EQ(DecodeTimestamp(0, 0, 0x80), 0u);
  EXPECT_EQ(DecodeTimestamp(0x59A16000, 0, 0x80), 0u);  // month 13
  EXPECT_EQ(DecodeTimestamp(0x59A16000, 0, 0x00), 0u);
}

TEST(ExfatEntry, BitmapUpcaseAndLabelEntries) {
  const std::array<uint8_t, 32> bitmap = {0x81, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0, 0, 0, 0, 0,
                                          0,    0, 0, 0, 2, 0, 0, 0, 0xC0, 0x07, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(DecodeBitmapEntry(bitmap));
  EXPECT_EQ(DecodeBitmapEntry(bitmap)->FirstCluster, 2u);
  EXPECT_EQ(DecodeBitmapEntry(bitmap)->DataLength, 0x7C0u);
  EXPECT_FALSE(DecodeUpcaseEntry(bitmap));
  std::array<uint8_t, 32> label = {0x83, 7, 'T', 0, 'E', 0, 'S', 0, 'T', 0, 'L', 0, 'B', 0, 'L', 0};
  EXPECT_EQ(DecodeLabelEntry(label), "TESTLBL");
  label[1] = 12;
  EXPECT_FALSE(DecodeLabelEntry(label));
  label[0] = 0x03;  // a deleted label names nothing
  label[1] = 7;
  EXPECT_FALSE(DecodeLabelEntry(label));
}

TEST(ExfatBitmap, BitsCountFromClusterTwo) {
  const std::array<uint8_t, 2> bits = {0x05, 0x80};  // clusters 2, 4 and 17 in use
  TAllocationBitmap b(bits, 12);
  EXPECT_FALSE(b.IsFree(2));
  EXPECT_TRUE(b.IsFree(3));
  EXPECT_FALSE(b.IsFree(4));
  EXPECT_TRUE(b.IsFree(13));
  EXPECT_FALSE(b.IsFree(14));  // past the heap
  EXPECT_FALSE(b.IsFree(1));
  EXPECT_FALSE(b.IsFree(0xFFFFFFFF));
  EXPECT_EQ(b.CountFree(12), 10u);
  EXPECT_EQ(b.CountFree(3), 1u);
  TAllocationBitmap shortBits(std::span<const uint8_t>(bits).first(1), 12);  // clusters 10.. unknown: in use
  EXPECT_FALSE(shortBits.IsFree(10));
  EXPECT_EQ(shortBits.CountFree(12), 6u);
}

TEST(ExfatFat, EntriesAndLinks) {
  const std::array<uint8_t, 12> block = {0x05, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xF7, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(FatEntryIn(block, 8, 8), 5u);
  EXPECT_EQ(FatEntryIn(block, 8, 9), kEndOfChain);
  EXPECT_FALSE(FatEntryIn(block, 8, 7));
  EXPECT_FALSE(FatEntryIn(block, 8, 11));
  EXPECT_EQ(LinkedCluster(5, 10), 5u);
  EXPECT_EQ(LinkedCluster(11, 10), 11u);
  EXPECT_FALSE(LinkedCluster(12, 10));
  EXPECT_FALSE(LinkedCluster(0, 10));
  EXPECT_FALSE(LinkedCluster(kBadCluster, 10));
  EXPECT_FALSE(LinkedCluster(kEndOfChain, 0xFFFFFFF5));
}
