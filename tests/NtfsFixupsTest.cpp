#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "ntfs/NtfsFixups.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// A 1024-byte record of the fixture volume as it lies on disk: its header
// (the update-sequence array at 0x30: sequence 0x0025, then the two saved
// words) and the last word of each sector, which carries the sequence.
std::vector<uint8_t> OnDiskRecord() {
  const uint8_t header[] = {
      0x46, 0x49, 0x4C, 0x45, 0x30, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
      0x00, 0x38, 0x00, 0x00, 0x00, 0xA8, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x5A, 0x00, 0x00, 0x00, 0x25, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  };
  std::vector<uint8_t> r(1024, 0);
  std::copy(std::begin(header), std::end(header), r.begin());
  PutLe(r, 510, 0x0025, 2);
  PutLe(r, 1022, 0x0025, 2);
  // Saved words that differ from the zeros around them show where they land.
  PutLe(r, 0x32, 0xBEEF, 2);
  PutLe(r, 0x34, 0xCAFE, 2);
  return r;
}

}  // namespace

TEST(NtfsFixups, SavedWordsReturnToTheSectorEnds) {
  std::vector<uint8_t> r = OnDiskRecord();
  EXPECT_TRUE(FixupsIntact(r, 512));
  ASSERT_EQ(ApplyFixups(r, 512), TFixupResult::Applied);
  EXPECT_EQ(r[510] | r[511] << 8, 0xBEEF);
  EXPECT_EQ(r[1022] | r[1023] << 8, 0xCAFE);
  // Applied once, the ends no longer carry the sequence.
  EXPECT_EQ(CheckFixups(r, 512), TFixupResult::Torn);
}

TEST(NtfsFixups, CountOfZeroOrOneNamesNoSector) {
  for (uint16_t count : {0, 1}) {
    std::vector<uint8_t> r = OnDiskRecord();
    PutLe(r, 6, count, 2);
    const std::vector<uint8_t> before = r;
    EXPECT_EQ(ApplyFixups(r, 512), TFixupResult::Applied) << count;
    EXPECT_EQ(r, before) << count;
  }
}

TEST(NtfsFixups, TornSectorRefusedAndBytesLeftAlone) {
  std::vector<uint8_t> r = OnDiskRecord();
  r[1023] ^= 0xFF;  // the second sector written by a different update
  const std::vector<uint8_t> before = r;
  EXPECT_EQ(ApplyFixups(r, 512), TFixupResult::Torn);
  EXPECT_EQ(r, before);  // the first sector's word was not put back either
}

TEST(NtfsFixups, ArraysAndSectorsOutsideTheBytesAreRefused) {
  std::vector<uint8_t> tooMany = OnDiskRecord();
  PutLe(tooMany, 6, 9, 2);  // 8 sectors of 512 in a record of 1024
  EXPECT_EQ(ApplyFixups(tooMany, 512), TFixupResult::ArrayOutside);
  std::vector<uint8_t> huge = OnDiskRecord();
  PutLe(huge, 6, 0xFFFF, 2);
  EXPECT_EQ(ApplyFixups(huge, 512), TFixupResult::ArrayOutside);
  std::vector<uint8_t> arrayPast = OnDiskRecord();
  PutLe(arrayPast, 4, 1020, 2);  // three words from 1020 end past 1024
  EXPECT_EQ(ApplyFixups(arrayPast, 512), TFixupResult::ArrayOutside);
  std::vector<uint8_t> offsetPast = OnDiskRecord();
  PutLe(offsetPast, 4, 0xFFFF, 2);
  EXPECT_EQ(ApplyFixups(offsetPast, 512), TFixupResult::ArrayOutside);

  // A record cut short: its second sector is not there to check.
  std::vector<uint8_t> truncated = OnDiskRecord();
  truncated.resize(600);
  EXPECT_EQ(ApplyFixups(truncated, 512), TFixupResult::ArrayOutside);
  std::vector<uint8_t> stub = {0x46, 0x49, 0x4C, 0x45, 0x30};
  EXPECT_EQ(CheckFixups(stub, 512), TFixupResult::ArrayOutside);

  // Sector sizes no volume has.
  std::vector<uint8_t> r = OnDiskRecord();
  for (uint32_t size : {0u, 2u, 100u, 768u, 8192u})
    EXPECT_EQ(ApplyFixups(r, size), TFixupResult::BadSectorSize) << size;
  EXPECT_EQ(r, OnDiskRecord());
}
