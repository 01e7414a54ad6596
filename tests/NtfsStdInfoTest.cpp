#include <gtest/gtest.h>

#include "ntfs/NtfsStdInfo.h"

using namespace mirel;

namespace {

// The $STANDARD_INFORMATION value of tiny.txt on the fixture volume: its
// times as the file had them (set with touch) and the archive attribute.
const std::vector<uint8_t> kTinyTxt = {
    0x33, 0x39, 0x83, 0x72, 0xD5, 0x86, 0xDD, 0x01, 0x00, 0xAB, 0xF0, 0xD7, 0x43, 0xA8, 0xDA, 0x01,
    0x4C, 0x40, 0x83, 0x72, 0xD5, 0x86, 0xDD, 0x01, 0x00, 0xAB, 0xF0, 0xD7, 0x43, 0xA8, 0xDA, 0x01,
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

}  // namespace

TEST(NtfsStdInfo, ValueOfTheFixture) {
  const std::optional<TNtfsStdInfo> s = DecodeStdInfo(kTinyTxt);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Times.Created, 0x01DD86D572833933u);
  EXPECT_EQ(s->Times.Modified, 0x01DAA843D7F0AB00u);
  EXPECT_EQ(s->Times.Changed, 0x01DD86D57283404Cu);
  EXPECT_EQ(s->Times.Accessed, 0x01DAA843D7F0AB00u);
  EXPECT_EQ(s->Attributes, 0x20u);
}

TEST(NtfsStdInfo, OlderShortValueStillHoldsTheAttributes) {
  std::vector<uint8_t> v(kTinyTxt.begin(), kTinyTxt.begin() + kStdInfoBytes);
  v[0x20] = 0x01;
  v[0x21] = 0x48;  // read-only, compressed, encrypted
  EXPECT_EQ(DecodeStdInfo(v).value().Attributes, 0x4801u);
  EXPECT_FALSE(DecodeStdInfo(std::span(kTinyTxt).first(kStdInfoBytes - 1)));
  EXPECT_FALSE(DecodeStdInfo({}));
}
