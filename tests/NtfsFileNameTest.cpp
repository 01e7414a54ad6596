#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ntfs/NtfsFileName.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// The $FILE_NAME value of tiny.txt on the fixture volume, in folder record
// 64 (sequence 1), POSIX namespace.
const std::vector<uint8_t> kTinyTxt = {
    0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x33, 0x39, 0x83, 0x72, 0xD5, 0x86, 0xDD, 0x01, 0x33,
    0x39, 0x83, 0x72, 0xD5, 0x86, 0xDD, 0x01, 0x33, 0x39, 0x83, 0x72, 0xD5, 0x86, 0xDD, 0x01, 0x33, 0x39,
    0x83, 0x72, 0xD5, 0x86, 0xDD, 0x01, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x74, 0x00,
    0x69, 0x00, 0x6E, 0x00, 0x79, 0x00, 0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00,
};
constexpr TFileTime kWritten = 0x01DD86D572833933;

}  // namespace

TEST(NtfsFileName, ValueOfTheFixture) {
  const std::optional<TNtfsFileName> f = DecodeFileName(kTinyTxt);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ParentRecord, 64);
  EXPECT_EQ(f->ParentSequence, 1);
  EXPECT_EQ(f->Times.Created, kWritten);
  EXPECT_EQ(f->Times.Modified, kWritten);
  EXPECT_EQ(f->Times.Changed, kWritten);
  EXPECT_EQ(f->Times.Accessed, kWritten);
  EXPECT_EQ(f->AllocatedSize, 0x28);
  EXPECT_EQ(f->DataSize, 0);
  EXPECT_EQ(f->Flags, 0x20u);
  EXPECT_EQ(f->NameSpace, fnPosix);
  EXPECT_EQ(f->Name, "tiny.txt");
}

TEST(NtfsFileName, FieldsAndNamesDecodedAsStored) {
  std::vector<uint8_t> v = kTinyTxt;
  PutLe(v, 0, 0xFFFF'1234'5678'9ABCull, 8);  // the sequence is not part of the number
  PutLe(v, 0x10, 0x1111, 8);
  PutLe(v, 0x18, 0x2222, 8);
  PutLe(v, 0x20, 0x3333, 8);
  v[0x41] = fnDos;
  PutLe(v, 0x42, 0x00FC, 2);  // u with diaeresis
  const TNtfsFileName f = DecodeFileName(v).value();
  EXPECT_EQ(f.ParentRecord, 0x1234'5678'9ABC);
  EXPECT_EQ(f.ParentSequence, 0xFFFF);
  EXPECT_EQ(f.Times.Modified, 0x1111u);
  EXPECT_EQ(f.Times.Changed, 0x2222u);
  EXPECT_EQ(f.Times.Accessed, 0x3333u);
  EXPECT_EQ(f.NameSpace, fnDos);
  EXPECT_EQ(f.Name,
            "\xC3\xBC"
            "iny.txt");
  // A name of no characters.
  std::vector<uint8_t> empty(kTinyTxt.begin(), kTinyTxt.begin() + kFileNameHeaderBytes);
  empty[0x40] = 0;
  EXPECT_EQ(DecodeFileName(empty).value().Name, "");
}

TEST(NtfsFileName, ValuesTooShortForTheirFieldsOrName) {
  EXPECT_FALSE(DecodeFileName(std::span(kTinyTxt).first(kFileNameHeaderBytes - 1)));
  EXPECT_FALSE(DecodeFileName({}));
  // The name's last character cut off.
  EXPECT_FALSE(DecodeFileName(std::span(kTinyTxt).first(kTinyTxt.size() - 1)));
  std::vector<uint8_t> longer = kTinyTxt;
  longer[0x40] = 0xFF;
  EXPECT_FALSE(DecodeFileName(longer));
}
