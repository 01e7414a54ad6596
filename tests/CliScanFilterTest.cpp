#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"

using namespace mirel::test;

namespace {

// The path column of a CSV listing, header left out.
std::vector<std::string> CsvPaths(const std::string& csv) {
  std::vector<std::string> paths;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) paths.push_back(line.substr(0, line.find(',')));
  return paths;
}

}  // namespace

TEST(CliScanFilter, MaskAndGoodListExactlyTheIntactMatches) {
  TCliRun r = RunMirel({"scan", Fixture("fat16.img").string(), "--mask", "*.jpg;*.png", "--good", "--format", "csv"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(CsvPaths(r.Out), (std::vector<std::string>{"photos/Holiday photo with a long name.jpg"})) << r.Out;
  EXPECT_NE(r.Err.find("1 of them pass the filter"), std::string::npos) << r.Err;

  // Long mode adds the live picture; nothing else matches.
  r = RunMirel({"scan", Fixture("fat16.img").string(), "--all", "--mask", "*.jpg;*.png", "--good", "--format", "csv"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(CsvPaths(r.Out),
            (std::vector<std::string>{"photos/Holiday photo with a long name.jpg", "photos/IMG_0001.JPG"}))
      << r.Out;
}

TEST(CliScanFilter, SizeAndKeywordOnARealImage) {
  TCliRun r = RunMirel({"scan", Fixture("fat12.img").string(), "--mask", "report", "--size", ">10", "--format", "csv"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(CsvPaths(r.Out), (std::vector<std::string>{"$ocs/Report 2024.docx"})) << r.Out;
}

TEST(CliScanFilter, BadFilterValuesAreUsageErrorsBeforeTheSourceIsOpened) {
  TCliRun r = RunMirel({"scan", "/nonexistent.img", "--size", "big"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("--size wants"), std::string::npos) << r.Err;
  r = RunMirel({"scan", "/nonexistent.img", "--from", "2024-02-30"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(RunMirel({"scan", "/nonexistent.img", "--format", "xml"}).Status, 1);
  EXPECT_EQ(RunMirel({"scan", "/nonexistent.img", "--format", "bodyfile"}).Status, 2);
  // A malformed mask is no usage error: it warns, then the source is opened.
  r = RunMirel({"scan", "/nonexistent.img", "--mask", "[{x{99999999999}"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("warning: mask term"), std::string::npos) << r.Err;
}
