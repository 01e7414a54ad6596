// Deleted folder trees on volumes made by mkfs.fat and mtools: folders whose
// inner entries kept their first byte, folders of many clusters, folders that
// nothing leads to any more; listed by the command line and recovered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "TestSupport.h"

using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

bool Sh(const std::string& cmd) {
  return std::system(("export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC; " + cmd).c_str()) == 0;
}

std::string Field(const std::string& line, const std::string& name) {
  // Built once for each field: 1,500 lines are read.
  static std::map<std::string, std::regex> patterns;
  auto it = patterns.find(name);
  if (it == patterns.end())
    it = patterns.emplace(name, std::regex("\"" + name + "\":(\"((?:[^\"\\\\]|\\\\.)*)\"|[^,}]*)")).first;
  std::smatch m;
  if (!std::regex_search(line, m, it->second)) return {};
  return m[2].matched ? m[2].str() : m[1].str();
}

struct TRow {
  bool Deleted = false;
  int Condition = 0;
};

// The files `mirel scan` lists, by path.
std::map<std::string, TRow> ScanFiles(const fs::path& image, bool all) {
  std::vector<std::string> args{"scan", image.string(), "--format", "json"};
  if (all) args.push_back("--all");
  TCliRun r = RunMirel(args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::map<std::string, TRow> rows;
  std::istringstream in(r.Out);
  for (std::string line; std::getline(in, line);)
    if (Field(line, "folder") == "false")
      rows[Field(line, "path")] = {Field(line, "deleted") == "true", std::stoi(Field(line, "condition"))};
  return rows;
}

std::vector<uint8_t> Bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b(n);
  for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Reads or writes part of an image file.
std::vector<uint8_t> ReadAt(const fs::path& p, int64_t at, size_t n) {
  std::ifstream in(p, std::ios::binary);
  in.seekg(at);
  std::vector<uint8_t> b(n);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
  return b;
}
void WriteAt(const fs::path& p, int64_t at, const std::vector<uint8_t>& b) {
  std::fstream out(p, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(at);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int width) {
  uint32_t v = 0;
  for (int i = width; i-- > 0;) v = v << 8 | b[at + i];
  return v;
}

// Where a FAT32 volume keeps its tables and its root folder's first cluster.
struct TLayout {
  int64_t TablesStart = 0, TablesEnd = 0, RootPos = 0, DataStart = 0;
  uint32_t ClusterBytes = 0;
  explicit TLayout(const fs::path& image) {
    const std::vector<uint8_t> boot = ReadAt(image, 0, 512);
    const uint32_t bps = Le(boot, 11, 2), spc = boot[13], reserved = Le(boot, 14, 2), fats = boot[16];
    const uint32_t fatSize = Le(boot, 36, 4), root = Le(boot, 44, 4);
    ClusterBytes = bps * spc;
    TablesStart = int64_t{reserved} * bps;
    TablesEnd = (int64_t{reserved} + int64_t{fats} * fatSize) * bps;
    DataStart = TablesEnd;
    RootPos = DataStart + (int64_t{root} - 2) * ClusterBytes;
  }
  int64_t ClusterPos(uint32_t n) const { return DataStart + (int64_t{n} - 2) * ClusterBytes; }
};

class FatDeletedTree : public ::testing::Test {
protected:
  void SetUp() override {
    img = tmp / "vol.img";
    src = tmp / "src";
    fs::create_directories(src);
    ASSERT_TRUE(Sh("mkfs.fat -C -F 32 -n TREE '" + img.string() + "' 65536 >/dev/null"));
  }
  // Writes a file of n bytes at the path under src and returns the path.
  fs::path Make(const std::string& rel, size_t n, unsigned seed) {
    fs::path p = src / rel;
    fs::create_directories(p.parent_path());
    WriteFile(p, Bytes(n, seed));
    return p;
  }
  // Recovers the whole volume and compares each original under src (by its
  // path there) with the file at the recovered path.
  void RecoverAndCompare(bool all, const std::map<std::string, std::string>& recoveredToOriginal) {
    TTempDir dest;
    std::vector<std::string> args{"recover", img.string(), "--to", dest.Path().string()};
    if (all) args.push_back("--all");
    TCliRun r = RunMirel(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    for (const auto& [got, original] : recoveredToOriginal) {
      ASSERT_TRUE(fs::exists(dest / got)) << got << "\n" << r.Err;
      EXPECT_EQ(ReadWholeFile(dest / got), ReadWholeFile(src / original)) << got;
    }
  }

  TTempDir tmp;
  fs::path img, src;
};

}  // namespace

TEST_F(FatDeletedTree, FolderDeletedWithOnlyItsOwnEntryMarkedGivesBackEverythingInIt) {
  Make("Projects/alpha report.txt", 3000, 1);
  Make("Projects/beta.bin", 10000, 2);
  Make("Projects/Sub Folder/gamma notes.txt", 5000, 3);
  Make("live.txt", 700, 4);
  const std::string i = "-i '" + img.string() + "'";
  ASSERT_TRUE(Sh("mmd " + i + " ::/Projects '::/Projects/Sub Folder' && mcopy " + i + " '" +
                 (src / "live.txt").string() + "' ::/ && mcopy " + i + " '" + (src / "Projects").string() +
                 "/alpha report.txt' '" + (src / "Projects").string() + "/beta.bin' ::/Projects/ && mcopy " + i + " '" +
                 (src / "Projects/Sub Folder/gamma notes.txt").string() + "' '::/Projects/Sub Folder/'"));
  // What Windows leaves: the tables freed and the folder's own entry marked,
  // as mdeltree does, but every entry inside it as it was.
  const fs::path before = tmp / "before.img";
  fs::copy_file(img, before);
  ASSERT_TRUE(Sh("mdeltree " + i + " ::/Projects"));
  const TLayout l(img);
  const std::vector<uint8_t> tables = ReadAt(img, l.TablesStart, static_cast<size_t>(l.TablesEnd - l.TablesStart));
  const std::vector<uint8_t> root = ReadAt(img, l.RootPos, l.ClusterBytes);
  fs::copy_file(before, img, fs::copy_options::overwrite_existing);
  WriteAt(img, l.TablesStart, tables);
  WriteAt(img, l.RootPos, root);

  const std::map<std::string, TRow> quick = ScanFiles(img, false);
  ASSERT_EQ(quick.size(), 3u);
  for (const std::string p :
       {"Projects/alpha report.txt", "Projects/beta.bin", "Projects/Sub Folder/gamma notes.txt"}) {
    ASSERT_TRUE(quick.count(p)) << p;
    EXPECT_TRUE(quick.at(p).Deleted) << p;
    EXPECT_EQ(quick.at(p).Condition, 100) << p;
  }
  const std::map<std::string, TRow> all = ScanFiles(img, true);
  ASSERT_TRUE(all.count("live.txt"));
  EXPECT_FALSE(all.at("live.txt").Deleted);
  EXPECT_TRUE(all.at("Projects/beta.bin").Deleted);
  RecoverAndCompare(false, {{"Projects/alpha report.txt", "Projects/alpha report.txt"},
                            {"Projects/beta.bin", "Projects/beta.bin"},
                            {"Projects/Sub Folder/gamma notes.txt", "Projects/Sub Folder/gamma notes.txt"}});
}

TEST_F(FatDeletedTree, FolderOfManyClustersDeletedWithMdeltreeIsListedWhole) {
  // The entries first, then the data: the folder's clusters follow one
  // another, each next one free once the folder is deleted.
  constexpr int kFiles = 1500;
  std::map<std::string, std::string> expected;
  fs::create_directories(src / "Many");
  for (int n = 1; n <= kFiles; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "file %04d of many.txt", n);
    WriteFile(src / "Many" / name, {});
    expected[std::string("Many/") + name] = std::string("Many/") + name;
  }
  const std::string i = "-i '" + img.string() + "'";
  ASSERT_TRUE(Sh("mmd " + i + " ::/Many && mcopy " + i + " '" + (src / "Many").string() + "'/* ::/Many/"));
  for (int n = 1; n <= kFiles; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "file %04d of many.txt", n);
    WriteFile(src / "Many" / name, Bytes(static_cast<size_t>(1 + n % 997), static_cast<unsigned>(n)));
  }
  ASSERT_TRUE(Sh("mcopy -o " + i + " '" + (src / "Many").string() + "'/* ::/Many/ && mdeltree " + i + " ::/Many"));

  const std::map<std::string, TRow> quick = ScanFiles(img, false);
  EXPECT_EQ(quick.size(), static_cast<size_t>(kFiles));
  for (const auto& [path, original] : expected) {
    ASSERT_TRUE(quick.count(path)) << path;
    EXPECT_EQ(quick.at(path).Condition, 100) << path;
  }
  RecoverAndCompare(false, expected);
}

TEST_F(FatDeletedTree, FolderClustersBeyondItsFilesDataComeBackInALongScan) {
  // One mcopy of many files puts the folder's further clusters after all the
  // data: the free-cluster rule stops at the data, the search of free space
  // finds the rest.
  constexpr int kFiles = 200;
  std::map<std::string, std::string> byContent;
  for (int n = 1; n <= kFiles; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "Many/file %03d of many.txt", n);
    byContent[ReadWholeFile(Make(name, 600 + static_cast<size_t>(n), static_cast<unsigned>(n)))] = name;
  }
  const std::string i = "-i '" + img.string() + "'";
  ASSERT_TRUE(Sh("mmd " + i + " ::/Many && mcopy " + i + " '" + (src / "Many").string() + "'/* ::/Many/ && mdeltree " +
                 i + " ::/Many"));
  const std::map<std::string, TRow> quick = ScanFiles(img, false);
  EXPECT_GT(quick.size(), 0u);
  EXPECT_LT(quick.size(), static_cast<size_t>(kFiles));
  for (const auto& [path, row] : quick) EXPECT_EQ(path.rfind("Many/", 0), 0u) << path;

  std::map<std::string, TRow> all = ScanFiles(img, true);
  all.erase("TREE");  // the volume's label
  EXPECT_EQ(all.size(), static_cast<size_t>(kFiles));
  TTempDir dest;
  TCliRun r = RunMirel({"recover", img.string(), "--all", "--to", dest.Path().string()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  // A name whose long-name entries began in the folder's first cluster is
  // its short one: the files are matched by their bytes.
  std::set<std::string> found;
  for (const auto& [path, row] : all) {
    auto it = byContent.find(ReadWholeFile(dest / path));
    ASSERT_NE(it, byContent.end()) << path;
    found.insert(it->second);
  }
  EXPECT_EQ(found.size(), static_cast<size_t>(kFiles));
}

TEST_F(FatDeletedTree, FolderWhoseEntryIsOverwrittenComesBackAsALostFolder) {
  Make("Lost/first file.txt", 2000, 5);
  Make("Lost/Inner/second file.bin", 9000, 6);
  const std::string i = "-i '" + img.string() + "'";
  ASSERT_TRUE(Sh("mmd " + i + " ::/Lost ::/Lost/Inner && mcopy " + i + " '" + (src / "Lost/first file.txt").string() +
                 "' ::/Lost/ && mcopy " + i + " '" + (src / "Lost/Inner/second file.bin").string() +
                 "' ::/Lost/Inner/ && mdeltree " + i + " ::/Lost"));
  // The deleted folder's entry is written over: nothing leads to its clusters.
  const TLayout l(img);
  std::vector<uint8_t> root = ReadAt(img, l.RootPos, l.ClusterBytes);
  uint32_t cluster = 0;
  for (size_t at = 0; at + 32 <= root.size(); at += 32) {
    if (root[at] == 0xE5 && root[at + 11] == 0x10) cluster = Le(root, at + 26, 2) | Le(root, at + 20, 2) << 16;
    if (root[at] == 0xE5)
      std::fill(root.begin() + static_cast<long>(at) + 1, root.begin() + static_cast<long>(at) + 32, 0);
  }
  ASSERT_GE(cluster, 2u);
  WriteAt(img, l.RootPos, root);

  EXPECT_TRUE(ScanFiles(img, false).empty());
  const std::string lost = "$lost_folder_" + std::to_string(cluster);
  const std::map<std::string, TRow> all = ScanFiles(img, true);
  // Besides them only the volume's label, which Long scans list.
  ASSERT_EQ(all.size(), 3u);
  EXPECT_TRUE(all.count("TREE"));
  EXPECT_TRUE(all.at(lost + "/first file.txt").Deleted);
  EXPECT_EQ(all.at(lost + "/Inner/second file.bin").Condition, 100);
  // cat searches free space when the file lies in a lost folder.
  TCliRun cat = RunMirel({"cat", img.string(), lost + "/first file.txt"});
  EXPECT_EQ(cat.Status, 0) << cat.Err;
  EXPECT_EQ(cat.Out, ReadWholeFile(src / "Lost/first file.txt"));
  RecoverAndCompare(true, {{lost + "/first file.txt", "Lost/first file.txt"},
                           {lost + "/Inner/second file.bin", "Lost/Inner/second file.bin"}});
}

TEST_F(FatDeletedTree, RandomDataAndTextOfEntryLikeLinesGiveNoLostFolder) {
  // Lines of 32 bytes shaped like entries: 8.3 names, attribute-like bytes,
  // digits where dates and clusters stand.
  std::string text;
  const char* kLines[] = {"README  TXT 2024-05-17 10:20:30\n", "NOTES   DOC 0000 1111 2222 3333\n",
                          "A       B   !\"#$%&'()*+,-./0123\n", "PHOTO   JPG                    \n"};
  for (int n = 0; n < 32768; ++n) text += kLines[n % 4];
  std::ofstream(src / "lines.txt", std::ios::binary) << text;
  Make("noise.bin", 48 << 20, 9);
  const std::string i = "-i '" + img.string() + "'";
  ASSERT_TRUE(Sh("mcopy " + i + " '" + (src / "lines.txt").string() + "' '" + (src / "noise.bin").string() +
                 "' ::/ && mdel " + i + " ::/lines.txt ::/noise.bin"));
  for (const auto& [path, row] : ScanFiles(img, true)) EXPECT_EQ(path.find("$lost_folder"), std::string::npos) << path;
}
