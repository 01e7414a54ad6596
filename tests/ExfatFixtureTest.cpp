// Scans of the exFAT image that mkfs.exfat and exfat-fuse made
// (tests/fixtures/make-exfat-fixture.sh), through the command line and the
// engine, compared with the files that were written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "exfat/ExfatFileInfo.h"

using namespace mirel;
using namespace mirel::test;

namespace {

struct TRow {
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
    r.Folder = Field(line, "folder") == "true";
    r.Deleted = Field(line, "deleted") == "true";
    r.Size = std::stoll(Field(line, "size"));
    r.Condition = std::stoi(Field(line, "condition"));
    r.Modified = Field(line, "modified");
    rows[Field(line, "path")] = r;
  }
  return rows;
}

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::vector<std::string> v;
  std::ifstream in(p);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

class ExfatFixture : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists(Fixture("exfat.img")))
      GTEST_SKIP() << "exfatprogs, exfat-fuse or loop devices missing";
    Deleted = Lines(Fixture("exfat.deleted"));
    Reused = Lines(Fixture("exfat.reused")).at(0);
  }
  std::string Original(const std::string& path) const { return ReadWholeFile(Fixture("exfat.files/" + path)); }
  std::map<std::string, TRow> Scan(const std::filesystem::path& img, bool all) {
    std::vector<std::string> args = {"scan", img.string(), "--format", "json"};
    if (all) args.push_back("--all");
    TCliRun r = RunMirel(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    return ParseJson(r.Out);
  }
  std::vector<std::string> Deleted;
  std::string Reused;
};

}  // namespace

TEST_F(ExfatFixture, ListNamesTheFileSystemAndLabel) {
  TCliRun r = RunMirel({"list", Fixture("exfat.img")});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("exFAT"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("CAMERA"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("backup"), std::string::npos) << r.Out;
}

TEST_F(ExfatFixture, QuickScanListsEveryDeletedFileAtItsPath) {
  auto rows = Scan(Fixture("exfat.img"), false);
  std::set<std::string> files, folders;
  for (const auto& [path, row] : rows) (row.Folder ? folders : files).insert(path);
  std::set<std::string> expected(Deleted.begin(), Deleted.end());
  expected.insert(Reused);
  EXPECT_EQ(files, expected);
  EXPECT_EQ(folders, (std::set<std::string>{"DCIM", "DCIM/100CAM", "DCIM/100CAM/2024", "Trash", "Trash/old", "reuse"}));
  EXPECT_TRUE(rows["Trash"].Deleted);
  EXPECT_TRUE(rows["Trash/old"].Deleted);
  EXPECT_FALSE(rows["DCIM/100CAM"].Deleted);
  for (const std::string& path : Deleted) {
    const TRow& row = rows[path];
    EXPECT_TRUE(row.Deleted) << path;
    EXPECT_EQ(row.Size, static_cast<long long>(Original(path).size())) << path;
    // Nothing was written after the deletions.
    EXPECT_EQ(row.Condition, path == "empty.txt" ? 0 : 100) << path;
    EXPECT_FALSE(row.Modified.empty()) << path;
  }
  EXPECT_EQ(rows["one.bin"].Modified, "2021-06-15T10:20:30Z");
  // The large file took the victim's clusters.
  EXPECT_LT(rows[Reused].Condition, 100);
}

TEST_F(ExfatFixture, CatGivesBackTheExactBytesOfEveryDeletedFile) {
  for (const std::string& path : Deleted) {
    TCliRun r = RunMirel({"cat", Fixture("exfat.img"), path});
    EXPECT_EQ(r.Status, 0) << path << ": " << r.Err;
    EXPECT_TRUE(r.Out == Original(path)) << path << ": " << r.Out.size() << " bytes";
  }
  // Data that belongs to another file now is not passed off as the victim's.
  TCliRun victim = RunMirel({"cat", Fixture("exfat.img"), Reused});
  EXPECT_NE(victim.Status, 0);
  EXPECT_NE(victim.Out, Original(Reused));
}

TEST_F(ExfatFixture, AllListsLiveFilesAtFullCondition) {
  auto rows = Scan(Fixture("exfat.img"), true);
  for (const char* path : {"between.bin", "DCIM/100CAM/live.jpg", "filler.bin"}) {
    ASSERT_TRUE(rows.count(path)) << path;
    EXPECT_FALSE(rows[path].Deleted) << path;
    EXPECT_EQ(rows[path].Condition, 100) << path;
  }
  for (const char* path : {"between.bin", "DCIM/100CAM/live.jpg"}) {
    TCliRun r = RunMirel({"cat", Fixture("exfat.img"), path});
    EXPECT_TRUE(r.Out == Original(path)) << path;
  }
  for (const std::string& path : Deleted) EXPECT_TRUE(rows.count(path)) << path;
}

TEST_F(ExfatFixture, FragmentedFilesFollowTheTableAndAddressesPointAtTheirEntries) {
  StartEngine();
  TDiskObject disk("exfat.img", Fixture("exfat.img").string(), 0);
  ASSERT_EQ(disk.FileSystem, fsExfat);
  disk.Scaner->Options.Quick = false;
  disk.Scaner->ScanForFiles();
  int found = 0;
  for (TFileInfo* e : disk.Files) {
    if (e->Name != "between.bin" && e->Name != "frag.bin") continue;
    ++found;
    const TExfatFileInfo* rec = ExfatInfoOf(e);
    ASSERT_TRUE(rec);
    EXPECT_FALSE(rec->NoFatChain) << e->Name;  // grown in turns: in pieces
    // The file entry lies where the address says.
    std::vector<uint8_t> entry(32);
    const int fd = ::open(Fixture("exfat.img").c_str(), O_RDONLY);
    ASSERT_EQ(::pread(fd, entry.data(), 32, std::stoll(rec->Address())), 32);
    ::close(fd);
    EXPECT_EQ(entry[0] & 0x7F, 0x05) << e->Name;
    std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
    ASSERT_TRUE(st);
    std::string data(static_cast<size_t>(e->Size), '\0');
    ASSERT_EQ(st->Read(data.data(), data.size()), data.size());
    EXPECT_TRUE(st->Missing().Empty()) << e->Name;
    EXPECT_TRUE(data == Original(e->Name)) << e->Name;
  }
  EXPECT_EQ(found, 2);
}

TEST_F(ExfatFixture, DamagedMainBootRegionIsReadThroughItsBackup) {
  TTempDir dir;
  const auto copy = dir / "damaged.img";
  std::filesystem::copy_file(Fixture("exfat.img"), copy);
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    const std::string zeros(512, '\0');
    f.write(zeros.data(), zeros.size());  // the main boot sector
  }
  TCliRun list = RunMirel({"list", copy.string()});
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_NE(list.Out.find("exFAT"), std::string::npos) << list.Out;
  EXPECT_NE(list.Out.find("read through its backup boot sector"), std::string::npos) << list.Out;
  auto rows = Scan(copy, false);
  for (const std::string& path : Deleted) {
    EXPECT_EQ(rows[path].Condition, path == "empty.txt" ? 0 : 100) << path;
    TCliRun r = RunMirel({"cat", copy.string(), path});
    EXPECT_TRUE(r.Out == Original(path)) << path;
  }
  {
    // One changed byte in an extended boot sector fails the main region's checksum.
    std::filesystem::copy_file(Fixture("exfat.img"), copy, std::filesystem::copy_options::overwrite_existing);
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(512 + 100);
    f.put('\x5A');
  }
  StartEngine();
  TDiskObject disk("damaged.img", copy.string(), 0);
  EXPECT_EQ(disk.FileSystem, fsExfat);
  EXPECT_TRUE(disk.BackupBootSector());
}

TEST_F(ExfatFixture, ImageCutShortSaysSoAndRatesWhatIsGone) {
  TTempDir dir;
  const auto cut = dir / "cut.img";
  std::filesystem::copy_file(Fixture("exfat.img"), cut);
  // The deleted files were written last, near the volume's end.
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) - (uintmax_t{6} << 20));
  TCliRun list = RunMirel({"list", cut.string()});
  EXPECT_EQ(list.Status, 0) << list.Err;
  TCliRun scan = RunMirel({"scan", cut.string(), "--format", "json"});
  EXPECT_NE(scan.Err.find("image holds"), std::string::npos) << scan.Err;
  auto rows = ParseJson(scan.Out);
  for (const auto& [path, row] : rows) {
    if (row.Folder || row.Condition == 100) continue;
    TCliRun r = RunMirel({"cat", cut.string(), path});
    // A file with gaps is not complete.
    if (row.Size > 0) {
      EXPECT_NE(r.Status, 0) << path;
    }
  }
}
