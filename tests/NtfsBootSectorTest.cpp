#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ntfs/NtfsBootSector.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// The first 0x50 bytes of the fixture volume's boot sector (mkntfs, 16 MiB).
const std::vector<uint8_t> kFixtureBoot = {
    0xEB, 0x52, 0x90, 0x4E, 0x54, 0x46, 0x53, 0x20, 0x20, 0x20, 0x20, 0x00, 0x02, 0x08, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x80, 0x00, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xF6, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xC9, 0x17, 0xC1, 0x69, 0x75, 0x46, 0xC9, 0x17,
};

std::vector<uint8_t> Sector() {
  std::vector<uint8_t> s = kFixtureBoot;
  s.resize(512);
  return s;
}

uint32_t RecordSizeWith(uint32_t field) {
  std::vector<uint8_t> s = Sector();
  PutLe(s, 0x40, field, 4);
  return DecodeNtfsBootSector(s).value().RecordSize;
}

}  // namespace

TEST(NtfsBootSector, FixtureFields) {
  const std::optional<TNtfsBootSector> b = DecodeNtfsBootSector(kFixtureBoot);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->BytesPerSector, 512);
  EXPECT_EQ(b->SectorsPerCluster, 8);
  EXPECT_EQ(b->ClusterSize(), 4096u);
  EXPECT_EQ(b->TotalSectors, 0x7FFFu);
  EXPECT_EQ(b->VolumeBytes(), 0x7FFF * 512);
  EXPECT_EQ(b->MftLcn, 4);
  EXPECT_EQ(b->MftMirrorLcn, 0x7FF);
  EXPECT_EQ(b->RecordSize, 1024u);
  EXPECT_EQ(b->IndexSize, 4096u);
  EXPECT_EQ(b->Serial, 0x17C9467569C117C9u);
  EXPECT_TRUE(b->NamedNtfs);
  // The 0x50 bytes hold no end-of-sector signature.
  EXPECT_FALSE(b->HasSignature);

  std::vector<uint8_t> s = Sector();
  s[510] = 0x55;
  s[511] = 0xAA;
  EXPECT_TRUE(DecodeNtfsBootSector(s)->HasSignature);
  s[3] = 'M';
  EXPECT_FALSE(DecodeNtfsBootSector(s)->NamedNtfs);
}

TEST(NtfsBootSector, RecordSizeInClustersOrAsPowerOfTwo) {
  EXPECT_EQ(RecordSizeWith(0xF6), 1024u);        // -10 stored as one byte
  EXPECT_EQ(RecordSizeWith(0xFFFFFFF4), 4096u);  // -12, already sign-extended
  EXPECT_EQ(RecordSizeWith(0x0000FFF4), 4096u);  // two bytes
  EXPECT_EQ(RecordSizeWith(2), 8192u);           // clusters of 4096 bytes
  EXPECT_EQ(RecordSizeWith(0x000001F6), 0u);     // no small power once extended
  EXPECT_EQ(RecordSizeWith(0xFFFFFF80), 0u);     // 2^128
  EXPECT_EQ(RecordSizeWith(100), 0u);            // 100 clusters: past any record size
  EXPECT_EQ(RecordSizeWith(0), 0u);
}

TEST(NtfsBootSector, BytesThatAreNoNtfsBootSector) {
  // Too short to hold the serial number.
  EXPECT_FALSE(DecodeNtfsBootSector(std::span(kFixtureBoot).first(kNtfsBootSectorBytes - 1)));
  EXPECT_FALSE(DecodeNtfsBootSector({}));
  // FAT's table fields.
  for (size_t field : {0x10, 0x11, 0x16}) {
    std::vector<uint8_t> s = Sector();
    s[field] = 2;
    EXPECT_FALSE(DecodeNtfsBootSector(s)) << field;
  }
  // A blank sector has no geometry.
  EXPECT_FALSE(DecodeNtfsBootSector(std::vector<uint8_t>(512, 0)));
  std::vector<uint8_t> noCluster = Sector();
  noCluster[0x0D] = 0;
  EXPECT_FALSE(DecodeNtfsBootSector(noCluster));
}

TEST(NtfsBootSector, HugeSectorCountGivesNoVolumeSize) {
  std::vector<uint8_t> s = Sector();
  PutLe(s, 0x28, 0xFFFFFFFFFFFFFFFFull, 8);
  const std::optional<TNtfsBootSector> b = DecodeNtfsBootSector(s);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->VolumeBytes(), 0);
  // A MFT LCN with the top bit set stays negative for the reader to refuse.
  PutLe(s, 0x30, 0x8000000000000000ull, 8);
  EXPECT_LT(DecodeNtfsBootSector(s).value().MftLcn, 0);
}
