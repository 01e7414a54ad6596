#include <gtest/gtest.h>
#include <algorithm>

#include <sstream>

#include "cli/EntryListing.h"
#include "core/DiskObject.h"

using namespace mirel;
using namespace mirel::cli;

namespace {

struct TTestFsInfo : TFsInfo {
  bool Deleted = true;
  bool IsDeleted() const override { return Deleted; }
};

std::unique_ptr<TFsInfo> Live() {
  auto info = std::make_unique<TTestFsInfo>();
  info->Deleted = false;
  return info;
}

std::string Print(const std::vector<TListedEntry>& rows, TListFormat format) {
  std::ostringstream out;
  PrintEntries(rows, format, out);
  return out.str();
}

// 2024-05-01T12:30:00Z and 2024-04-30T08:00:00Z.
const TFileTime kModified = UnixToFileTime(1714566600);
const TFileTime kCreated = UnixToFileTime(1714464000);

struct TEntries {
  TFileInfo Folder{.Name = "Fotos", .Size = 9000, .Attributes = faDirectory, .IsFolder = true};
  TFileInfo Photo{.Name = "a,\"b\".jpg",
                  .Size = 5000,
                  .CreationTime = kCreated,
                  .LastWriteTime = kModified,
                  .Attributes = faReadOnly | faArchive,
                  .Condition = 100};
  TFileInfo Odd{.Name = "x|y\nz", .Size = 7, .Condition = 12};
  std::vector<TListedEntry> Rows{{"", &Folder}, {"Fotos/", &Photo}, {"", &Odd}};
  TEntries() { Folder.FsInfo = Live(); }
};

}  // namespace

TEST(EntryListing, CsvQuotesWhatNeedsIt) {
  TEntries e;
  EXPECT_EQ(Print(e.Rows, TListFormat::Csv),
            "path,name,folder,deleted,size,condition,attributes,created,modified,address\n"
            "Fotos,Fotos,true,false,9000,0,----,,,\n"
            "\"Fotos/a,\"\"b\"\".jpg\",\"a,\"\"b\"\".jpg\",false,true,5000,100,r--a,"
            "2024-04-30T08:00:00Z,2024-05-01T12:30:00Z,\n"
            "\"x|y\nz\",\"x|y\nz\",false,true,7,12,----,,,\n");
}

TEST(EntryListing, BodyfileLines) {
  TEntries e;
  EXPECT_EQ(Print(e.Rows, TListFormat::Bodyfile),
            "0|/Fotos|0|d/drwxrwxrwx|0|0|0|0|0|0|0\n"
            "0|/Fotos/a,\"b\".jpg (deleted)|0|r/rr-xr-xr-x|0|0|5000|0|1714566600|0|1714464000\n"
            "0|/x?y?z (deleted)|0|r/rrwxrwxrwx|0|0|7|0|0|0|0\n");
}

TEST(EntryListing, JsonAndTableStillPrintEveryRow) {
  TEntries e;
  std::string json = Print(e.Rows, TListFormat::Json);
  EXPECT_NE(json.find("{\"path\":\"x|y\\nz\",\"name\":\"x|y\\nz\",\"folder\":false,\"deleted\":true,\"size\":7,"),
            std::string::npos)
      << json;
  std::string table = Print(e.Rows, TListFormat::Table);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4);  // header and three rows
  EXPECT_NE(table.find("  x|y?z\n"), std::string::npos) << table;
  EXPECT_NE(table.find("live"), std::string::npos);
  EXPECT_NE(table.find("Fotos/\n"), std::string::npos);
}

TEST(EntryListing, RowsSortAsTheirWholePathsWould) {
  // The same path text split differently between folder and name, prefixes,
  // and bytes above 0x7F, which order after ASCII.
  const std::vector<std::pair<std::string, std::string>> parts = {{"", "A"},    {"A/", "x"},      {"", "A b"},
                                                                  {"A b/", ""}, {"A/", ""},       {"A/x", "y"},
                                                                  {"A/", "xy"}, {"", "\xC3\xA9"}, {"", "z"}};
  // Rows of one folder share its text, as the scan's listing makes them.
  const std::string shared = "A/";
  const std::vector<std::string> sharedNames = {"x", "", "xy", "w", "\xC3\xA9"};
  std::vector<TFileInfo> entries(parts.size() + sharedNames.size());
  std::vector<TListedEntry> rows;
  for (size_t i = 0; i < parts.size(); ++i) {
    entries[i].Name = parts[i].second;
    rows.push_back({parts[i].first, &entries[i]});
  }
  for (size_t i = 0; i < sharedNames.size(); ++i) {
    entries[parts.size() + i].Name = sharedNames[i];
    rows.push_back({shared, &entries[parts.size() + i]});
  }
  for (const TListedEntry& a : rows)
    for (const TListedEntry& b : rows) EXPECT_EQ(PathLess(a, b), a.Path() < b.Path()) << a.Path() << " | " << b.Path();
}

TEST(EntryListing, LargeListingSortsAsOneStableSortWould) {
  // Enough rows for the sort to split its work, many with equal paths (a
  // name in two entries of one folder), whose order must stay as found.
  constexpr int ROWS = 40000;
  const std::vector<std::string> folders = {"", "A/", "A/B/", "b/", "\xC3\xA9/"};
  std::vector<TFileInfo> entries(ROWS);
  std::vector<TListedEntry> rows;
  uint32_t seed = 12345;
  for (int i = 0; i < ROWS; ++i) {
    seed = seed * 1103515245 + 12345;
    entries[static_cast<size_t>(i)].Name = "f" + std::to_string(seed % 5000);
    rows.push_back({folders[seed / 5000 % folders.size()], &entries[static_cast<size_t>(i)]});
  }
  std::vector<TListedEntry> expected = rows;
  std::stable_sort(expected.begin(), expected.end(), PathLess);
  SortByPath(rows);
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i].Entry, expected[i].Entry) << i;
}
