#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ntfs/NtfsAttrListEntry.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// Two entries as a list holds them: the unnamed $DATA from VCN 0 in record
// 0x1234 (sequence 3, instance 5), then the named stream "ads" from VCN 0x20
// in record 0x2A (sequence 1, instance 2).
const std::vector<uint8_t> kList = {
    0x80, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12,
    0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
    0x28, 0x00, 0x03, 0x1A, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x02, 0x00, 0x61, 0x00, 0x64, 0x00, 0x73, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

}  // namespace

TEST(NtfsAttrListEntry, EntriesInListOrder) {
  const TAttrListStep first = DecodeAttrListEntry(kList);
  ASSERT_EQ(first.Kind, TAttrListStep::Found);
  EXPECT_EQ(first.Entry.Type, 0x80u);
  EXPECT_EQ(first.Entry.Length, 0x20);
  EXPECT_EQ(first.Entry.LowestVcn, 0);
  EXPECT_EQ(first.Entry.Record, 0x1234);
  EXPECT_EQ(first.Entry.RecordSequence, 3);
  EXPECT_EQ(first.Entry.Instance, 5);
  EXPECT_EQ(first.Entry.Name, "");

  const TAttrListStep second = DecodeAttrListEntry(std::span(kList).subspan(first.Entry.Length));
  ASSERT_EQ(second.Kind, TAttrListStep::Found);
  EXPECT_EQ(second.Entry.Length, 0x28);
  EXPECT_EQ(second.Entry.LowestVcn, 0x20);
  EXPECT_EQ(second.Entry.Record, 0x2A);
  EXPECT_EQ(second.Entry.RecordSequence, 1);
  EXPECT_EQ(second.Entry.Instance, 2);
  EXPECT_EQ(second.Entry.Name, "ads");
}

TEST(NtfsAttrListEntry, ListEnds) {
  // A zero length, and slack too short for an entry, end the list quietly.
  std::vector<uint8_t> zero = kList;
  PutLe(zero, 4, 0, 2);
  EXPECT_EQ(DecodeAttrListEntry(zero).Kind, TAttrListStep::End);
  EXPECT_EQ(DecodeAttrListEntry(std::span(kList).first(kAttrListEntryBytes - 1)).Kind, TAttrListStep::End);
  EXPECT_EQ(DecodeAttrListEntry({}).Kind, TAttrListStep::End);
}

TEST(NtfsAttrListEntry, DamagedLengths) {
  std::vector<uint8_t> tooShort = kList;
  PutLe(tooShort, 4, 0x10, 2);  // would end inside its own fields
  EXPECT_EQ(DecodeAttrListEntry(tooShort).Kind, TAttrListStep::Damaged);
  std::vector<uint8_t> pastEnd = kList;
  PutLe(pastEnd, 4, 0xFFFF, 2);
  EXPECT_EQ(DecodeAttrListEntry(pastEnd).Kind, TAttrListStep::Damaged);
  // The last entry's length reaching past what was read of the list.
  EXPECT_EQ(DecodeAttrListEntry(std::span(kList).subspan(0x20, 0x27)).Kind, TAttrListStep::Damaged);
}

TEST(NtfsAttrListEntry, NameOutsideItsEntryIsLeftOut) {
  std::vector<uint8_t> list = kList;
  list[0x20 + 6] = 10;  // 20 bytes of name from 0x1A in an entry of 0x28
  const TAttrListStep step = DecodeAttrListEntry(std::span(list).subspan(0x20));
  ASSERT_EQ(step.Kind, TAttrListStep::Found);
  EXPECT_EQ(step.Entry.Name, "");
  EXPECT_EQ(step.Entry.Record, 0x2A);
}
