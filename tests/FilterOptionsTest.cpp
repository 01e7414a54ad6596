#include <gtest/gtest.h>

#include "cli/FilterOptions.h"

using namespace mirel;
using namespace mirel::cli;

namespace {

TCliArgs Args(std::vector<std::pair<std::string, std::string>> options) {
  TCliArgs a;
  a.Command = "scan";
  a.Options = std::move(options);
  return a;
}

// The filter the options build; fails the test when they are rejected.
TFilter Parsed(std::vector<std::pair<std::string, std::string>> options, const std::string& dateTo = "--to") {
  TFilterOptions out;
  std::string error;
  EXPECT_TRUE(ParseFilterOptions(Args(std::move(options)), out, error, dateTo)) << error;
  return out.Filter;
}

std::string Rejection(std::vector<std::pair<std::string, std::string>> options) {
  TFilterOptions out;
  std::string error;
  EXPECT_FALSE(ParseFilterOptions(Args(std::move(options)), out, error));
  return error;
}

}  // namespace

TEST(FilterOptions, NoOptionsNoCriteria) { EXPECT_EQ(Parsed({}), TFilter{}); }

TEST(FilterOptions, MaskAndGoodAsTheQuickFilterBuildsThem) {
  TFilter f = Parsed({{"--mask", "*.jpg;*.png"}, {"--good", ""}});
  EXPECT_EQ(f.Flags, qfMask | qfCondition);
  EXPECT_EQ(f.Mask, ".*[.]jpg;.*[.]png");
  EXPECT_EQ(f.MinCondition, 100);
  EXPECT_EQ(Parsed({{"--mask", ""}}).Mask, ".*[.].*");  // an empty mask is "*.*"
}

TEST(FilterOptions, SizeInKilobytesWithComparison) {
  TFilter f = Parsed({{"--size", "4"}});
  EXPECT_EQ(f.Flags, qfSize | qfSizeEqual);
  EXPECT_EQ(f.Size, 4096);
  f = Parsed({{"--size", ">3000000"}});
  EXPECT_EQ(f.Flags, qfSize | qfSizeGreater);
  EXPECT_EQ(f.Size, 3000000LL * 1024);  // beyond 32 bits
  f = Parsed({{"--size", "<1"}});
  EXPECT_EQ(f.Flags, qfSize | qfSizeSmaller);
  EXPECT_EQ(Parsed({{"--size", "=9007199254740991"}}).Size, 9007199254740991LL * 1024);
  for (const char* bad : {"", ">", "abc", "=-1", "4k", "9007199254740992", "99999999999999999999999"})
    EXPECT_NE(Rejection({{"--size", bad}}).find("--size"), std::string::npos) << bad;
}

TEST(FilterOptions, AttributeLetters) {
  TFilter f = Parsed({{"--attr", "rh"}});
  EXPECT_EQ(f.Flags, qfAttributes);
  EXPECT_EQ(f.Attributes, faReadOnly | faHidden);
  EXPECT_EQ(Parsed({{"--attr", "R-SA"}}).Attributes, faReadOnly | faSysFile | faArchive);
  f = Parsed({{"--attr", ""}});  // the empty set: criterion on, every entry passes
  EXPECT_EQ(f.Flags, qfAttributes);
  EXPECT_EQ(f.Attributes, 0u);
  EXPECT_NE(Rejection({{"--attr", "rx"}}).find("--attr"), std::string::npos);
}

TEST(FilterOptions, DatesInLocalTime) {
  TFilter f = Parsed({{"--from", "2024-03-08"}, {"--to", "2024-03-15"}});
  EXPECT_EQ(f.Flags, qfDate);
  EXPECT_EQ(f.DateFrom, EncodeDateTime(2024, 3, 8));
  EXPECT_EQ(f.DateTo, EncodeDateTime(2024, 3, 15, 23, 59, 59, 999));  // the whole last day
  f = Parsed({{"--from", "2024-03-08 10:15"}, {"--to", "2024-03-15T18:00:30"}});
  EXPECT_EQ(f.DateFrom, EncodeDateTime(2024, 3, 8, 10, 15));
  EXPECT_EQ(f.DateTo, EncodeDateTime(2024, 3, 15, 18, 0, 30));
  // One bound alone leaves the other open.
  f = Parsed({{"--from", "2024-03-08"}});
  EXPECT_EQ(f.DateTo, EncodeDateTime(9999, 12, 31, 23, 59, 59, 999));
  f = Parsed({{"--until", "2024-03-08"}});
  EXPECT_EQ(f.DateFrom, EncodeDateTime(1, 1, 1));
  EXPECT_EQ(f.DateTo, EncodeDateTime(2024, 3, 8, 23, 59, 59, 999));
  // Where --to names the destination, only --until bounds the dates.
  EXPECT_EQ(Parsed({{"--to", "/tmp/out"}}, "").Flags, 0u);

  for (const char* bad :
       {"2024-02-30", "2023-02-29", "2024-13-01", "yesterday", "2024-03-08 24:00", "2024-3-8x", "", "24-03-08",
        "2024-03-08 ", "2024-03-08 10", "2024-03-08 10:5", "2024-03-08 10:05:", "2024-03-08 10:05:07:09"})
    EXPECT_NE(Rejection({{"--from", bad}}).find("--from wants a date"), std::string::npos) << bad;
  EXPECT_NE(Rejection({{"--from", "2024-03-09"}, {"--to", "2024-03-08"}}).find("lies after"), std::string::npos);
  EXPECT_EQ(Parsed({{"--from", "2024-02-29"}, {"--to", "2024-02-29"}}).Flags, qfDate);
  EXPECT_EQ(Parsed({{"--from", "2024-3-8 7:05"}}).DateFrom, EncodeDateTime(2024, 3, 8, 7, 5));
}

TEST(FilterOptions, UncountableRepetitionWarnsButStillFilters) {
  TFilterOptions out;
  std::string error;
  ASSERT_TRUE(ParseFilterOptions(Args({{"--mask", "*.jpg;x{99999999999}"}}), out, error));
  ASSERT_EQ(out.Warnings.size(), 1u);
  EXPECT_NE(out.Warnings[0].find("x{99999999999}"), std::string::npos);

  // The documented result: names the earlier term takes pass, the rest do not.
  TQueryObject q;
  q.SetFilter(out.Filter);
  TFileInfo jpg{.Name = "a.jpg"}, other{.Name = "x"};
  EXPECT_TRUE(q.Accepts(jpg));
  EXPECT_FALSE(q.Accepts(other));
}
