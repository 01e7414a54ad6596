#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ntfs/NtfsRecordHeader.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// The header of a deleted file's record on the fixture volume (record 90).
const std::vector<uint8_t> kDeletedFile = {
    0x46, 0x49, 0x4C, 0x45, 0x30, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x38, 0x00, 0x00, 0x00, 0xA8, 0x01, 0x00, 0x00,
    0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
};

}  // namespace

TEST(NtfsRecordHeader, DeletedBaseRecordOfTheFixture) {
  const std::optional<TMftRecordHeader> h = DecodeMftRecordHeader(kDeletedFile);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->UsaOffset, 0x30);
  EXPECT_EQ(h->UsaCount, 3);
  EXPECT_EQ(h->Sequence, 2);
  EXPECT_EQ(h->FirstAttribute, 0x38);
  EXPECT_FALSE(h->InUse());
  EXPECT_FALSE(h->IsDirectory());
  EXPECT_TRUE(h->IsBase());
}

TEST(NtfsRecordHeader, ExtensionRecordNamesItsBase) {
  std::vector<uint8_t> r = kDeletedFile;
  PutLe(r, 0x16, 0x0003, 2);
  PutLe(r, 0x20, 0x0005'0000'0000'1234ull, 8);
  const std::optional<TMftRecordHeader> h = DecodeMftRecordHeader(r);
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->InUse());
  EXPECT_TRUE(h->IsDirectory());
  EXPECT_FALSE(h->IsBase());
  EXPECT_EQ(h->BaseRecord, 0x1234);
  EXPECT_EQ(h->BaseSequence, 5);
  // Only the sequence number set still makes it no base record.
  PutLe(r, 0x20, 0x0001'0000'0000'0000ull, 8);
  EXPECT_FALSE(DecodeMftRecordHeader(r)->IsBase());
}

TEST(NtfsRecordHeader, NoSignatureOrTooShort) {
  std::vector<uint8_t> baad = kDeletedFile;
  std::copy_n("BAAD", 4, baad.begin());
  EXPECT_FALSE(DecodeMftRecordHeader(baad));
  std::vector<uint8_t> lower = kDeletedFile;
  lower[0] = 'f';
  EXPECT_FALSE(DecodeMftRecordHeader(lower));
  EXPECT_FALSE(DecodeMftRecordHeader(std::span(kDeletedFile).first(kMftRecordHeaderBytes - 1)));
  EXPECT_FALSE(DecodeMftRecordHeader({}));
}
