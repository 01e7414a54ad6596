#include <gtest/gtest.h>

#include <cstring>

#include "FatImage.h"
#include "fat/FatDirEntry.h"

using namespace mirel;
using namespace mirel::fat;
using namespace mirel::test;

namespace {

std::string LongName(const std::vector<TEntry>& run, const TEntry& shortEntry) {
  std::vector<TDirEntryBytes> v(run.begin(), run.end());
  return BuildLongName(v, shortEntry.data());
}

}  // namespace

TEST(FatDirEntry, InvalidNameCharsAreTheFortyTwo) {
  int count = 0;
  for (int b = 0; b < 256; ++b) count += IsInvalidNameChar(static_cast<uint8_t>(b));
  EXPECT_EQ(count, 42);
  for (uint8_t b : {0x00, 0x19, 0x22, 0x2A, 0x2B, 0x2C, 0x2E, 0x2F, 0x3A, 0x3F, 0x5B, 0x5C, 0x5D, 0x7C})
    EXPECT_TRUE(IsInvalidNameChar(b)) << int(b);
  for (uint8_t b : {0x1A, 0x1F, 0x20, 0x21, 0x2D, 0x40, 0x61, 0x7E, 0x80, 0xE5, 0xFF})
    EXPECT_FALSE(IsInvalidNameChar(b)) << int(b);
}

TEST(FatDirEntry, DeletedShortNameShowsDollarForTheLostCharacter) {
  TEntry e = ShortEntry("\xE5ILE    TXT", 0x20, 5, 10);
  EXPECT_EQ(ShortEntryName(e.data(), true), "$ILE.TXT");
}

TEST(FatDirEntry, ShortNameWithoutExtensionHasNoDot) {
  TEntry e = ShortEntry("README     ", 0x20, 5, 10);
  EXPECT_EQ(ShortEntryName(e.data(), false), "README");
}

TEST(FatDirEntry, ShortNameFirstByte05StandsForE5) {
  TEntry e = ShortEntry(
      "\x05"
      "BC     TXT",
      0x20, 5, 10);
  EXPECT_EQ(ShortEntryName(e.data(), false),
            "\xCF\x83"
            "BC.TXT");  // 0xE5 is sigma in code page 437
}

TEST(FatDirEntry, ShortNameDecodesCodePage437AndCaseFlags) {
  TEntry e = ShortEntry(
      "\x81"
      "BER    TXT",
      0x20, 5, 10);
  EXPECT_EQ(ShortEntryName(e.data(), false),
            "\xC3\xBC"
            "BER.TXT");  // u with diaeresis
  TEntry lower = ShortEntry("NOTES   TXT", 0x20, 5, 10);
  lower[12] = 0x08;  // base in lower case
  EXPECT_EQ(ShortEntryName(lower.data(), false), "notes.TXT");
  lower[12] = 0x18;  // base and extension
  EXPECT_EQ(ShortEntryName(lower.data(), false), "notes.txt");
}

TEST(FatDirEntry, LongNameKeptAsWritten) {
  TEntry s = ShortEntry("HOLIDA~1JPG", 0x20, 5, 10);
  auto run = LongEntries(u"Holiday photo with a long name.jpg", s);
  ASSERT_EQ(run.size(), 3u);
  EXPECT_EQ(LongName(run, s), "Holiday photo with a long name.jpg");
}

TEST(FatDirEntry, LongNameOfExactlyThirteenCharacters) {
  TEntry s = ShortEntry("ABCDEF~1TXT", 0x20, 5, 10);
  auto run = LongEntries(u"abcdefghi.txt", s);
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(LongName(run, s), "abcdefghi.txt");
}

TEST(FatDirEntry, SurrogatePairAcrossEntriesBecomesOneCharacter) {
  // Twelve letters, then U+1F600 as a pair whose halves fall into the first
  // and second long-name entries.
  std::u16string name = u"abcdefghijkl";
  name += char16_t(0xD83D);
  name += char16_t(0xDE00);
  name += u".txt";
  TEntry s = ShortEntry("ABCDEF~1TXT", 0x20, 5, 10);
  auto run = LongEntries(name, s);
  ASSERT_EQ(run.size(), 2u);
  EXPECT_EQ(LongName(run, s), "abcdefghijkl\xF0\x9F\x98\x80.txt");
}

TEST(FatDirEntry, UnpairedSurrogateBecomesReplacementCharacter) {
  std::u16string name = u"a";
  name += char16_t(0xD83D);
  name += u"b";
  TEntry s = ShortEntry("AB~1       ", 0x20, 5, 10);
  EXPECT_EQ(LongName(LongEntries(name, s), s),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(FatDirEntry, DeletedLongNameIsRead) {
  TEntry s = ShortEntry("\xE5OLIDA~1JPG", 0x20, 5, 10);
  TEntry original = ShortEntry("HOLIDA~1JPG", 0x20, 5, 10);
  auto run = LongEntries(u"Holiday.jpeg", original, true);
  EXPECT_EQ(LongName(run, s), "Holiday.jpeg");
}

TEST(FatDirEntry, LongNameOfAnotherShortEntryIsNotUsed) {
  // A live short entry whose checksum the run does not carry: the run was
  // left by another (deleted) file.
  TEntry other = ShortEntry("OTHER   TXT", 0x20, 5, 10);
  TEntry s = ShortEntry("README  TXT", 0x20, 6, 10);
  EXPECT_EQ(LongName(LongEntries(u"Some other name.txt", other), s), "");
  // Deleted long-name entries never name a live short entry.
  EXPECT_EQ(LongName(LongEntries(u"Some other name.txt", s, true), s), "");
}

TEST(FatDirEntry, LongNamesFatCannotHoldAreNotUsed) {
  TEntry s = ShortEntry("AB~1       ", 0x20, 5, 10);
  EXPECT_EQ(LongName(LongEntries(u"../../etc/passwd", s), s), "");
  EXPECT_EQ(LongName(LongEntries(u"..", s), s), "");
  EXPECT_EQ(LongName(LongEntries(u"a\x01"
                                 u"b",
                                 s),
                     s),
            "");
  EXPECT_EQ(LongName(LongEntries(u"a:b", s), s), "");
}

TEST(FatDirEntry, TimesAreLocalTimeTurnedToUtc) {
  TEntry e = ShortEntry("A       TXT", 0x20, 5, 10);
  e[13] = 150;  // creation refinement: 1.5 s
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(FileTimeToIso(EntryWriteTime(e.data())), "2024-05-17T10:20:30Z");
  EXPECT_EQ(FileTimeToIso(EntryCreationTime(e.data())), "2024-05-17T10:20:31Z");
  EXPECT_EQ(FileTimeNanos(EntryCreationTime(e.data())), 500000000);
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // in May two hours ahead of UTC
  tzset();
  EXPECT_EQ(FileTimeToIso(EntryWriteTime(e.data())), "2024-05-17T08:20:30Z");
  TEntry winter = e;
  const uint16_t january = ((2024 - 1980) << 9) | (1 << 5) | 17;
  winter[24] = january & 0xFF;
  winter[25] = january >> 8;
  EXPECT_EQ(FileTimeToIso(EntryWriteTime(winter.data())), "2024-01-17T09:20:30Z");  // one hour ahead
  const uint16_t changeDay = ((2024 - 1980) << 9) | (3 << 5) | 31;                  // clocks go forward at 02:00
  const uint16_t afterChange = (3 << 11) | (30 << 5);
  winter[24] = changeDay & 0xFF;
  winter[25] = changeDay >> 8;
  winter[22] = afterChange & 0xFF;
  winter[23] = afterChange >> 8;
  EXPECT_EQ(FileTimeToIso(EntryWriteTime(winter.data())), "2024-03-31T01:30:00Z");
  setenv("TZ", "UTC", 1);
  tzset();
  e[24] = e[25] = 0;  // no date
  EXPECT_EQ(EntryWriteTime(e.data()), 0u);
}

TEST(FatDirEntry, FirstClusterHighWordOnlyWhereTheVolumeHasOne) {
  TEntry e = ShortEntry("A       TXT", 0x20, 0x00030005, 10);
  EXPECT_EQ(EntryFirstCluster(e.data(), true), 0x00030005u);
  EXPECT_EQ(EntryFirstCluster(e.data(), false), 0x0005u);
}
