#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fat/FatBootSector.h"

using namespace mirel::fat;

namespace {

// A 512-byte sector: the bytes given in hex from its start, zeros after them,
// and the signature at its end.
std::vector<uint8_t> Sector(const std::string& hex) {
  std::vector<uint8_t> s(kBootSectorSize, 0);
  std::istringstream in(hex);
  unsigned v = 0;
  for (size_t i = 0; in >> std::hex >> v; ++i) s.at(i) = static_cast<uint8_t>(v);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// As a formatter writes a 16 MiB FAT16 volume labelled DATA.
const std::string kFat16 =
    "EB 3C 90 6D 6B 66 73 2E 66 61 74 00 02 04 04 00 "  // jump, OEM, 512 B/s, 4 s/c, 4 reserved
    "02 00 02 00 80 F8 20 00 20 00 40 00 00 00 00 00 "  // 2 FATs, 512 root entries, 32768 sectors, 32 s/FAT
    "00 00 00 00 80 00 29 CD AB 34 12 44 41 54 41 20 "  // no 32-bit total; record 0x29, serial, label
    "20 20 20 20 20 20 46 41 54 31 36 20 20 20";

// A FAT32 volume of 131072 sectors, mirroring off with the second table active.
const std::string kFat32 =
    "EB 58 90 6D 6B 66 73 2E 66 61 74 00 02 01 20 00 "  // 512 B/s, 1 s/c, 32 reserved
    "02 00 00 00 00 F8 00 00 20 00 40 00 00 00 00 00 "  // no root entries, 16-bit fields zero
    "00 00 02 00 F8 03 00 00 81 00 00 00 02 00 00 00 "  // 131072 sectors, 1016 s/FAT, flags 0x81, root 2
    "01 00 06 00 00 00 00 00 00 00 00 00 00 00 00 00 "  // info sector 1, backup 6
    "80 00 29 78 56 34 12 4E 4F 20 4E 41 4D 45 20 20 "  // record 0x29, serial, "NO NAME"
    "20 20 46 41 54 33 32 20 20 20";

}  // namespace

TEST(FatBootSector, Fat16FieldsAndTheRecordAt0x26) {
  const std::optional<TFatBootSector> b = DecodeFatBootSector(Sector(kFat16));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->BytesPerSector, 512);
  EXPECT_EQ(b->SectorsPerCluster, 4);
  EXPECT_EQ(b->ReservedSectors, 4);
  EXPECT_EQ(b->NumFats, 2);
  EXPECT_EQ(b->RootEntries, 512);
  EXPECT_EQ(b->TotalSectors(), 32768u);
  EXPECT_EQ(b->FatSectors(), 32u);
  EXPECT_EQ(b->RootDirSectors(), 32u);
  EXPECT_EQ(b->FirstDataSector(), 4u + 2 * 32 + 32);
  EXPECT_EQ(b->ClusterCount(), (32768u - 100) / 4);
  EXPECT_EQ(b->Kind(), TFatKind::Fat16);
  EXPECT_TRUE(b->HasSignature);
  ASSERT_TRUE(b->HasSerial);
  EXPECT_EQ(b->SerialNumber, 0x1234ABCDu);
  EXPECT_EQ(b->Label, "DATA       ");
  EXPECT_EQ(b->ActiveFat(), 0);
}

TEST(FatBootSector, Fat32TakesThe32BitFieldsAndTheRecordAt0x42) {
  std::vector<uint8_t> s = Sector(kFat32);
  std::optional<TFatBootSector> b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->TotalSectors(), 131072u);
  EXPECT_EQ(b->FatSectors(), 1016u);
  EXPECT_EQ(b->RootDirSectors(), 0u);
  EXPECT_EQ(b->Kind(), TFatKind::Fat32);
  EXPECT_EQ(b->RootCluster, 2u);
  EXPECT_EQ(b->FsInfoSector, 1);
  EXPECT_EQ(b->ActiveFat(), 1);
  ASSERT_TRUE(b->HasSerial);
  EXPECT_EQ(b->SerialNumber, 0x12345678u);
  EXPECT_EQ(b->Label, "NO NAME    ");

  // Mirroring on (bit 7 clear): the first table, whatever bits 0-3 say.
  s[0x28] = 0x01;
  b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->ActiveFat(), 0);
  // Without the record at 0x42 there is none: FAT32 has table size bytes
  // where FAT12/16 keep theirs.
  s[0x42] = 0;
  b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->HasSerial);
}

TEST(FatBootSector, WithoutTheRecordThereIsNoSerialOrLabel) {
  std::vector<uint8_t> s = Sector(kFat16);
  s[0x26] = 0x28;
  const std::optional<TFatBootSector> b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->HasSerial);
  EXPECT_TRUE(b->Label.empty());
}

TEST(FatBootSector, SectorsThatAreNoFatBootSector) {
  std::vector<uint8_t> s = Sector(kFat16);
  EXPECT_FALSE(DecodeFatBootSector(std::span<const uint8_t>(s).first(511)));
  EXPECT_FALSE(DecodeFatBootSector(std::vector<uint8_t>(512, 0)));
  // No tables, no root entries, no 16-bit table size: as NTFS writes it.
  s[0x10] = 0;
  s[0x11] = s[0x12] = 0;
  s[0x16] = s[0x17] = 0;
  EXPECT_FALSE(DecodeFatBootSector(s));
}

TEST(FatBootSector, GeometryWithoutADataRegionHasNoClustersAndDividesByNothing) {
  std::vector<uint8_t> s = Sector(kFat16);
  s[0x13] = 100;  // 100 sectors: all of them tables and root region
  s[0x14] = 0;
  std::optional<TFatBootSector> b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->ClusterCount(), 0u);
  s = Sector(kFat16);
  s[0x0B] = s[0x0C] = 0;
  b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->RootDirSectors(), 0u);
  EXPECT_EQ(b->ClusterCount(), 0u);
  s = Sector(kFat16);
  s[0x0D] = 0;
  b = DecodeFatBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->ClusterCount(), 0u);
}

TEST(FatBootSector, InformationSectorFreeCountOnlyBehindItsSignatures) {
  std::vector<uint8_t> info(512, 0);
  const uint8_t lead[] = {0x52, 0x52, 0x61, 0x41}, mid[] = {0x72, 0x72, 0x41, 0x61}, count[] = {0x10, 0x27, 0, 0};
  std::copy(std::begin(lead), std::end(lead), info.begin());
  std::copy(std::begin(mid), std::end(mid), info.begin() + 484);
  std::copy(std::begin(count), std::end(count), info.begin() + 488);
  EXPECT_EQ(DecodeFsInfoFreeCount(info), 10000u);
  EXPECT_FALSE(DecodeFsInfoFreeCount(std::span<const uint8_t>(info).first(500)));
  info[484] = 0;
  EXPECT_FALSE(DecodeFsInfoFreeCount(info));
  info[484] = 0x72;
  info[0] = 0;
  EXPECT_FALSE(DecodeFsInfoFreeCount(info));
}
