// Scans of the FAT images that mkfs.fat and mtools made (tests/fixtures),
// through the command line, compared with the files that were written.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "core/DebugLog.h"

using namespace mirel::test;

namespace {

struct TImage {
  const char* Name;
  const char* Label;
  uint32_t Cluster;
};
const TImage kImages[] = {{"fat12", "FAT12VOL", 512},    {"fat12c4", "FAT12C4", 2048}, {"fat16", "FAT16VOL", 2048},
                          {"fat16c1", "FAT16C1", 512},   {"fat32", "FAT32VOL", 512},   {"fat32c8", "FAT32C8", 4096},
                          {"fat16s4k", "FAT16S4K", 4096}};  // 4096-byte sectors

struct TRow {
  std::string Path;
  bool Folder = false, Deleted = false;
  long long Size = 0;
  int Condition = 0;
  std::string Modified;
};

std::string Field(const std::string& line, const std::string& name) {
  std::smatch m;
  std::regex re("\"" + name + "\":(\"((?:[^\"\\\\]|\\\\.)*)\"|[^,}]*)");
  if (!std::regex_search(line, m, re)) return {};
  return m[2].matched ? m[2].str() : m[1].str();
}

std::map<std::string, TRow> ParseJson(const std::string& out) {
  std::map<std::string, TRow> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    TRow r;
    r.Path = Field(line, "path");
    r.Folder = Field(line, "folder") == "true";
    r.Deleted = Field(line, "deleted") == "true";
    r.Size = std::stoll(Field(line, "size"));
    r.Condition = std::stoi(Field(line, "condition"));
    r.Modified = Field(line, "modified");
    rows[r.Path] = r;
  }
  return rows;
}

// Deleted entries lose their first character unless a long name survives:
// the catalogue path of each deleted file, with the file it was.
std::map<std::string, std::string> DeletedFiles() {
  return {
      {"$mpty.txt", "empty.txt"},
      {"$ocs/$otes.txt", "docs/notes.txt"},
      {"$ocs/$ub/$nner.txt", "docs/sub/inner.txt"},
      {"$ocs/Report 2024.docx", "docs/Report 2024.docx"},
      {"deleted-root.bin", "deleted-root.bin"},
      {"photos/$mall.txt", "photos/small.txt"},
      {"photos/Holiday photo with a long name.jpg", "photos/Holiday photo with a long name.jpg"},
      {"wrap/$ROUND.BIN", "wrap/AROUND.BIN"},
      {"\xC3\x9Cn\xC3\xAF"
       "c\xC3\xB6"
       "d\xC3\xA9 name.txt",
       "\xC3\x9Cn\xC3\xAF"
       "c\xC3\xB6"
       "d\xC3\xA9 name.txt"},
  };
}

void PrintTo(const TImage& image, std::ostream* os) { *os << image.Name; }

class FatFixture : public ::testing::TestWithParam<TImage> {};

}  // namespace

TEST_P(FatFixture, QuickScanListsEveryDeletedFileWithItsFolders) {
  const TImage& img = GetParam();
  TCliRun r = RunMirel({"scan", Fixture(std::string(img.Name) + ".img"), "--format", "json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto rows = ParseJson(r.Out);
  std::set<std::string> files, folders;
  for (const auto& [path, row] : rows) (row.Folder ? folders : files).insert(path);
  std::set<std::string> expected;
  for (const auto& [path, original] : DeletedFiles()) expected.insert(path);
  EXPECT_EQ(files, expected);
  EXPECT_EQ(folders, (std::set<std::string>{"$ocs", "$ocs/$ub", "photos", "wrap"}));
  for (const auto& [path, row] : rows) {
    if (row.Folder) continue;
    EXPECT_TRUE(row.Deleted) << path;
    EXPECT_EQ(row.Modified, "2024-05-17T10:20:30Z") << path;
    const std::string original = Fixture(std::string(img.Name) + ".files/" + DeletedFiles()[path]);
    EXPECT_EQ(row.Size, static_cast<long long>(std::filesystem::file_size(original))) << path;
    // Nothing was written after the deletions. AROUND.BIN was written around
    // LIVE.BIN, and its stream passes over that file's cluster: all of it
    // comes from free clusters.
    const int condition = path == "$mpty.txt" ? 0 : 100;
    EXPECT_EQ(row.Condition, condition) << path;
  }
  EXPECT_TRUE(rows["$ocs"].Deleted);
  EXPECT_FALSE(rows["photos"].Deleted);
}

TEST_P(FatFixture, CatGivesBackTheExactBytesOfEveryDeletedFile) {
  const TImage& img = GetParam();
  for (const auto& [path, original] : DeletedFiles()) {
    TCliRun r = RunMirel({"cat", Fixture(std::string(img.Name) + ".img"), path});
    EXPECT_EQ(r.Status, 0) << path << ": " << r.Err;
    EXPECT_TRUE(r.Out == ReadWholeFile(Fixture(std::string(img.Name) + ".files/" + original)))
        << img.Name << " " << path << ": " << r.Out.size() << " bytes";
  }
}

TEST_P(FatFixture, AllListsLiveFilesAtFullCondition) {
  const TImage& img = GetParam();
  TCliRun r = RunMirel({"scan", Fixture(std::string(img.Name) + ".img"), "--all", "--format", "json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto rows = ParseJson(r.Out);
  const std::map<std::string, long long> live = {{"README.TXT", 700},
                                                 {"photos/IMG_0001.JPG", 5000},
                                                 {"keep/live.txt", 100},
                                                 {"wrap/LIVE.BIN", img.Cluster},
                                                 {img.Label, 0}};
  for (const auto& [path, size] : live) {
    ASSERT_TRUE(rows.count(path)) << path;
    EXPECT_FALSE(rows[path].Deleted) << path;
    EXPECT_EQ(rows[path].Size, size) << path;
    EXPECT_EQ(rows[path].Condition, 100) << path;
  }
  for (const auto& [path, original] : DeletedFiles()) EXPECT_TRUE(rows.count(path)) << path;
  EXPECT_EQ(rows.size(), live.size() + DeletedFiles().size() + 5);  // and five folders
  TCliRun cat = RunMirel({"cat", Fixture(std::string(img.Name) + ".img"), "photos/IMG_0001.JPG"});
  EXPECT_TRUE(cat.Out == ReadWholeFile(Fixture(std::string(img.Name) + ".files/photos/IMG_0001.JPG")));
}

TEST_P(FatFixture, ImageCutInsideItsTableCannotBeScannedAndSaysWhy) {
  const TImage& img = GetParam();
  TTempDir tmp;
  const auto copy = tmp / "cut.img";
  // The volume cut in the middle of its first allocation table: the table's
  // start is still there, the root directory is not.
  std::ifstream in(Fixture(std::string(img.Name) + ".img"), std::ios::binary);
  std::vector<uint8_t> bytes(512);
  in.read(reinterpret_cast<char*>(bytes.data()), 512);
  auto u16 = [&](size_t off) { return uint32_t{bytes[off]} | uint32_t{bytes[off + 1]} << 8; };
  const uint32_t fatSectors = u16(0x16) ? u16(0x16) : (u16(0x24) | u16(0x26) << 16);
  bytes.resize((u16(0x0E) + fatSectors / 2) * u16(0x0B));
  in.read(reinterpret_cast<char*>(bytes.data()) + 512, static_cast<std::streamsize>(bytes.size() - 512));
  WriteFile(copy, bytes);
  mirel::SetDebugLogPath((tmp / "debug.log").string());
  TCliRun r = RunMirel({"scan", copy.string(), "--all"});
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_NE(r.Err.find("cut.img: image holds " + std::to_string(bytes.size()) + " of "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("cut.img: cannot scan: the root folder (at byte "), std::string::npos) << r.Err;
  std::string log = ReadWholeFile(tmp / "debug.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("FatScaner.ReadFileInfo: unable to read directory window, the rest of it is skipped; Folder = "
                     "cut.img: (" +
                     std::string(img.Label) + ")"),
            std::string::npos)
      << log;
}

TEST_P(FatFixture, FreeSpaceAgreesWithMtools) {
  const TImage& img = GetParam();
  const std::string path = Fixture(std::string(img.Name) + ".img");
  std::string mdir;
  if (FILE* p = popen(("MTOOLS_SKIP_CHECK=1 mdir -i '" + path + "' :: 2>/dev/null").c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) mdir += buf;
    pclose(p);
  }
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mdir, m, std::regex(R"(([\d ]+) bytes free)"))) << mdir;
  std::string digits;
  for (char c : m[1].str())
    if (c != ' ') digits += c;
  TCliRun r = RunMirel({"list", path});
  EXPECT_TRUE(std::regex_search(r.Out, std::regex(" " + digits + "\n"))) << r.Out << " mtools: " << digits;
}

INSTANTIATE_TEST_SUITE_P(Images, FatFixture, ::testing::ValuesIn(kImages),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST(FatCli, UnusableBootSectorIsASourceError) {
  TTempDir tmp;
  TBpb bpb;
  bpb.BytesPerSector = 700;
  bpb.FatSize = 9;
  bpb.TotalSectors = 2880;
  auto boot = MakeBootSector(bpb);
  boot.resize(2880 * 512, 0);
  WriteFile(tmp / "bad.img", boot);
  mirel::SetDebugLogPath((tmp / "debug.log").string());
  TCliRun r = RunMirel({"scan", (tmp / "bad.img").string()});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("bad.img: the FAT12 file system cannot be read"), std::string::npos) << r.Err;
  std::string log = ReadWholeFile(tmp / "debug.log");
  EXPECT_NE(log.find("FatScaner.Init: unusable geometry"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  // The last line says where to look.
  EXPECT_TRUE(r.Err.ends_with("\nmirel: 1 line written to the debug log " + (tmp / "debug.log").string() + "\n"))
      << r.Err;
}

TEST(FatCli, CatOfAPathWithNoFileIsASourceError) {
  TCliRun r = RunMirel({"cat", Fixture("fat12.img"), "photos/nothing.txt"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("no file found at photos/nothing.txt"), std::string::npos) << r.Err;
}

TEST(FatCli, TableShowsStateConditionSizeAndPath) {
  TCliRun r = RunMirel({"scan", Fixture("fat16.img")});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("deleted 100%   6044  2024-05-17 10:20  ---a  wrap/$ROUND.BIN\n"), std::string::npos) << r.Out;
  EXPECT_TRUE(std::regex_search(r.Out, std::regex(R"(\ndeleted +\d{4}-\d\d-\d\d \d\d:\d\d  ----  \$ocs/\n)"))) << r.Out;
  EXPECT_NE(r.Err.find("9 files and 4 folders found on fat16.img"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("debug log"), std::string::npos) << r.Err;
}
