// Forensic, split and virtual-disk images made by the real tools from the
// fixtures must read exactly as the raw images they hold.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "core/DiskList.h"
#include "core/DiskObject.h"

using namespace mirel;
using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

bool Have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

bool Sh(const std::string& cmd) { return std::system(("set -e; " + cmd + " >/dev/null 2>&1").c_str()) == 0; }

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

struct TConversion {
  const char* Name;
  const char* Tool;
  const char* Package;
  // Makes the image in dir from raw; returns the path to give mirel.
  std::function<fs::path(const fs::path& raw, const fs::path& dir)> Make;
};

fs::path QemuImage(const fs::path& raw, const fs::path& dir, const std::string& format) {
  const fs::path out = dir / ("disk." + format);
  return Sh("qemu-img convert -O " + format + " " + Q(raw) + " " + Q(out)) ? out : fs::path();
}

const std::vector<TConversion>& Conversions() {
  static const std::vector<TConversion> all = {
      {"E01 in 1 MiB segments", "ewfacquire", "ewf-tools",
       [](const fs::path& raw, const fs::path& dir) {
         // Uncompressed, so that the volume spans several segments.
         return Sh("cd " + Q(dir) + " && ewfacquire -u -q -t disk -f encase6 -c none -S 1MiB " + Q(raw))
                    ? dir / "disk.E01"
                    : fs::path();
       }},
      {"VHD", "qemu-img", "qemu-utils", [](const fs::path& r, const fs::path& d) { return QemuImage(r, d, "vpc"); }},
      {"VHDX", "qemu-img", "qemu-utils", [](const fs::path& r, const fs::path& d) { return QemuImage(r, d, "vhdx"); }},
      {"VMDK", "qemu-img", "qemu-utils", [](const fs::path& r, const fs::path& d) { return QemuImage(r, d, "vmdk"); }},
      {"QCOW2", "qemu-img", "qemu-utils",
       [](const fs::path& r, const fs::path& d) { return QemuImage(r, d, "qcow2"); }},
      {"split .001", "split", "coreutils",
       [](const fs::path& raw, const fs::path& dir) {
         return Sh("split -b 3M -d -a 3 --numeric-suffixes=1 " + Q(raw) + " " + Q(dir / "disk.")) ? dir / "disk.001"
                                                                                                  : fs::path();
       }},
      {"split aa", "split", "coreutils",
       [](const fs::path& raw, const fs::path& dir) {
         return Sh("split -b 3M " + Q(raw) + " " + Q(dir / "disk")) ? dir / "diskaa" : fs::path();
       }},
  };
  return all;
}

TCliRun Scan(const fs::path& source, std::vector<std::string> more = {}) {
  std::vector<std::string> args{"scan", source.string(), "--all", "--format", "json"};
  args.insert(args.end(), more.begin(), more.end());
  return RunMirel(args);
}

}  // namespace

TEST(ImageFormats, EveryFormatScansAndRecoversAsTheRawImage) {
  for (const TConversion& c : Conversions())
    if (!Have(c.Tool)) GTEST_SKIP() << c.Tool << " is missing: install the " << c.Package << " package";
  for (const char* fixture : {"ntfs.img", "fat16.img"}) {
    const fs::path raw = Fixture(fixture);
    const TCliRun plain = Scan(raw);
    ASSERT_EQ(plain.Status, 0) << plain.Err;
    // The NTFS fixture holds deleted files whose clusters live files took
    // since: their recovery is incomplete, whatever the image format.
    const int status = std::string(fixture) == "ntfs.img" ? 3 : 0;
    TTempDir expected;
    ASSERT_EQ(RunMirel({"recover", raw.string(), "--to", expected.Path().string(), "--all"}).Status, status);
    for (const TConversion& c : Conversions()) {
      SCOPED_TRACE(std::string(fixture) + " as " + c.Name);
      TTempDir dir;
      const fs::path image = c.Make(raw, dir.Path());
      ASSERT_FALSE(image.empty()) << "the conversion failed";
      const TCliRun scan = Scan(image);
      EXPECT_EQ(scan.Status, 0) << scan.Err;
      EXPECT_EQ(scan.Out, plain.Out);
      TTempDir got;
      const TCliRun recover = RunMirel({"recover", image.string(), "--to", got.Path().string(), "--all"});
      EXPECT_EQ(recover.Status, status) << recover.Err;
      EXPECT_TRUE(Sh("diff -r " + Q(expected.Path()) + " " + Q(got.Path()))) << "recovered files differ";
    }
  }
}

TEST(ImageFormats, AMissingOrWrongSegmentIsAnErrorNamingIt) {
  TTempDir dir;
  const fs::path raw = Fixture("fat16.img");
  ASSERT_TRUE(Sh("split -b 1M -d -a 3 --numeric-suffixes=1 " + Q(raw) + " " + Q(dir / "n.")));
  ASSERT_TRUE(Sh("split -b 1M " + Q(raw) + " " + Q(dir / "x")));
  fs::remove(dir / "n.004");
  TCliRun r = Scan(dir / "n.001");
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("missing segment " + (dir / "n.004").string()), std::string::npos) << r.Err;
  fs::resize_file(dir / "xac", 1000);
  r = Scan(dir / "xaa");
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("segment " + (dir / "xac").string() + " holds 1000 bytes"), std::string::npos) << r.Err;
  // The last segment shorter than the others is the end of the image.
  fs::resize_file(dir / "xap", 1000);
  fs::remove(dir / "xac");
  fs::copy_file(dir / "xab", dir / "xac");
  EXPECT_NE(Scan(dir / "xaa").Status, 2);

  if (!Have("ewfacquire")) GTEST_SKIP() << "ewfacquire is missing: install the ewf-tools package";
  ASSERT_TRUE(Sh("cd " + Q(dir.Path()) + " && ewfacquire -u -q -t e -f encase6 -c none -S 1MiB " + Q(raw)));
  ASSERT_TRUE(fs::exists(dir / "e.E17"));
  fs::rename(dir / "e.E05", dir / "E05");
  r = Scan(dir / "e.E01");
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("missing segment " + (dir / "e.E05").string()), std::string::npos) << r.Err;
  fs::rename(dir / "E05", dir / "e.E05");
  // Without its last segment the image cannot say so by name: its end is gone.
  fs::remove(dir / "e.E17");
  r = Scan(dir / "e.E01");
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("cannot be read"), std::string::npos) << r.Err;
}

TEST(ImageFormats, PartitionTablesAreReadInsideAnImage) {
  if (!Have("qemu-img")) GTEST_SKIP() << "qemu-img is missing: install the qemu-utils package";
  for (const char* disk : {"disk-mbr.img", "disk-gpt-nohdr.img"}) {
    TTempDir dir;
    const fs::path image = QemuImage(Fixture(disk), dir.Path(), "qcow2");
    TDiskList raw({Fixture(disk).string()}, false), converted({image.string()}, false);
    ASSERT_EQ(converted.Count(), raw.Count()) << disk;
    for (int i = 0; i < raw.Count(); ++i) {
      EXPECT_EQ(converted[i]->Base, raw[i]->Base) << disk;
      EXPECT_EQ(converted[i]->TotalSize, raw[i]->TotalSize) << disk;
      EXPECT_EQ(converted[i]->FileSystemName, raw[i]->FileSystemName) << disk;
    }
  }
}

TEST(ImageFormats, OffsetFindsAVolumeBehindLostPartitionTable) {
  TTempDir dir;
  const fs::path shifted = dir / "shifted.img";
  ASSERT_TRUE(Sh("( head -c " + std::to_string(2048 * 512) + " /dev/zero; cat " + Q(Fixture("ntfs.img")) +
                 " ) | dd of=" + Q(shifted)));
  const TCliRun plain = Scan(Fixture("ntfs.img"));
  const TCliRun offset = Scan(shifted, {"--offset", "2048"});
  EXPECT_EQ(offset.Status, 0) << offset.Err;
  EXPECT_EQ(offset.Out, plain.Out);
  // The same place in the name, as the desktop program takes it.
  TDiskList list({shifted.string() + "@2048"}, false);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0]->FileSystemName, "NTFS");
  EXPECT_EQ(list[0]->Name, "shifted.img@2048");

  const TCliRun past = Scan(shifted, {"--offset", "999999"});
  EXPECT_EQ(past.Status, 2);
  EXPECT_NE(past.Err.find("lies past the end of the source"), std::string::npos) << past.Err;
  EXPECT_EQ(Scan(shifted, {"--offset", "-5"}).Status, 1);
  EXPECT_EQ(Scan(shifted, {"--offset", "2k"}).Status, 1);
}

namespace {

// "name|atime|mtime|ctime|crtime" of each bodyfile line, the name without its
// folder (a lost folder's files are placed differently by each tool) nor the
// deleted mark. With typesOnly, only lines whose inode names one of those
// NTFS attribute types ("RECORD-TYPE-ID") are kept.
std::multiset<std::string> BodyKeys(const std::string& body, const std::set<std::string>& typesOnly = {}) {
  std::multiset<std::string> keys;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '|');) f.push_back(x);
    if (f.size() != 11) continue;
    if (!typesOnly.empty()) {
      const size_t a = f[2].find('-'), b = f[2].rfind('-');
      if (a == b || !typesOnly.count(f[2].substr(a + 1, b - a - 1))) continue;
    }
    std::string name = f[1];
    if (const size_t d = name.find(" (deleted)"); d != std::string::npos) name.erase(d);
    name = name.substr(name.rfind('/') + 1);
    keys.insert(name + "|" + f[7] + "|" + f[8] + "|" + f[9] + "|" + f[10]);
  }
  return keys;
}

int DatedRows(const fs::path& body) {
  const fs::path rows = body.string() + ".rows";
  if (!Sh("TZ=UTC mactime -b " + Q(body) + " -d -y > " + Q(rows) + " && true")) return -1;
  std::istringstream in(ReadWholeFile(rows));
  int n = 0;
  for (std::string line; std::getline(in, line);)
    n += line.size() > 4 && std::isdigit(static_cast<unsigned char>(line[0]));
  return n;
}

}  // namespace

TEST(Timeline, BodyfileCarriesEveryTimeOfTheNtfsFixture) {
  if (!Have("fls") || !Have("mactime")) GTEST_SKIP() << "fls and mactime are missing: install the sleuthkit package";
  TTempDir dir;
  const fs::path image = Fixture("ntfs.img");
  const TCliRun ours = RunMirel({"scan", image.string(), "--all", "--format", "bodyfile"});
  ASSERT_EQ(ours.Status, 0) << ours.Err;
  WriteFile(dir / "ours.body", std::vector<uint8_t>(ours.Out.begin(), ours.Out.end()));
  ASSERT_TRUE(Sh("fls -r -m / " + Q(image) + " > " + Q(dir / "fls.body") + " && true"));
  // Every $STANDARD_INFORMATION line (type 128, the data and its streams) and
  // every $FILE_NAME line (48) of the reference, with all four times.
  const std::multiset<std::string> reference = BodyKeys(ReadWholeFile(dir / "fls.body"), {"128", "48"});
  const std::multiset<std::string> got = BodyKeys(ours.Out);
  ASSERT_GT(reference.size(), 60u);
  // The catalogue holds no $STANDARD_INFORMATION times for the MFT's own
  // record (an open gap); every other line must be there as it is.
  for (const std::string& key : reference) {
    if (key.rfind("$MFT|", 0) != 0) {
      EXPECT_TRUE(got.count(key)) << "missing: " << key;
    }
  }
  // The timeline tool reads ours as its own: a dated row for each of those.
  const int oursRows = DatedRows(dir / "ours.body");
  EXPECT_GE(oursRows, static_cast<int>(reference.size()));
}

TEST(Addresses, EveryEntryHasItsOwnAndCatByAddressEqualsCatByPath) {
  for (const char* fixture : {"ntfs.img", "fat12.img", "fat16.img", "fat32.img"}) {
    SCOPED_TRACE(fixture);
    const std::string image = Fixture(fixture).string();
    const TCliRun scan = RunMirel({"scan", image, "--all", "--format", "csv"});
    ASSERT_EQ(scan.Status, 0) << scan.Err;
    std::set<std::string> seen;
    std::istringstream in(scan.Out);
    std::string line;
    std::getline(in, line);
    int files = 0;
    while (std::getline(in, line)) {
      // Fixture paths hold no comma or quote: the address is the last field.
      if (line.find('"') != std::string::npos) continue;
      std::vector<std::string> f;
      std::istringstream fields(line);
      for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
      ASSERT_EQ(f.size(), 10u) << line;
      const std::string& path = f[0];
      const std::string& address = f[9];
      ASSERT_FALSE(address.empty()) << line;
      EXPECT_TRUE(seen.insert(address).second) << "address " << address << " given twice";
      if (f[2] != "false" || files >= 6) continue;
      // A file: its data by address is its data by path.
      TCliRun byPath = RunMirel({"cat", image, path}), byAddress = RunMirel({"cat", image, "@" + address});
      EXPECT_EQ(byAddress.Status, byPath.Status) << path;
      EXPECT_EQ(byAddress.Out, byPath.Out) << path;
      ++files;
    }
    EXPECT_GT(files, 0);
  }
}

TEST(Timeline, TzReadsFatLocalTimesInTheZoneGivenAndLeavesNtfsAlone) {
  auto modified = [](const std::string& image, const std::string& zone) {
    const TCliRun r = RunMirel({"scan", Fixture(image).string(), "--format", "json", "--tz", zone});
    EXPECT_EQ(r.Status, 0) << r.Err;
    const size_t at = r.Out.find("\"modified\":\"");
    return at == std::string::npos ? std::string() : r.Out.substr(at + 12, 20);
  };
  const char* const before = std::getenv("TZ");
  // The fixtures were written with TZ=UTC: 10:20:30 local is 01:20:30 UTC in Tokyo.
  EXPECT_EQ(modified("fat16.img", "UTC"), "2024-05-17T10:20:30Z");
  EXPECT_EQ(modified("fat16.img", "Asia/Tokyo"), "2024-05-17T01:20:30Z");
  EXPECT_EQ(modified("ntfs.img", "Asia/Tokyo"), modified("ntfs.img", "UTC"));
  EXPECT_EQ(RunMirel({"scan", Fixture("fat16.img").string(), "--tz", "Nowhere/Atlantis"}).Status, 1);
  EXPECT_EQ(RunMirel({"scan", Fixture("fat16.img").string(), "--tz", "../../etc/passwd"}).Status, 1);
  // The zone holds for the one command only.
  const char* const after = std::getenv("TZ");
  EXPECT_EQ(before == nullptr, after == nullptr);
  if (before && after) {
    EXPECT_STREQ(before, after);
  }
}

TEST(Addresses, TwoDeletedFilesOfOnePathAreBothReachable) {
  TTempDir dir;
  const fs::path image = dir / "dup.img";
  // Two 8.3 names that differ only in the first letter, which deletion erases.
  ASSERT_TRUE(Sh("export MTOOLS_SKIP_CHECK=1; cd " + Q(dir.Path()) + " && mkfs.fat -C dup.img 1440 && " +
                 "printf first > X && printf second-version > Y && mcopy -i dup.img X ::XNOTE.TXT && " +
                 "mcopy -i dup.img Y ::YNOTE.TXT && mdel -i dup.img ::XNOTE.TXT ::YNOTE.TXT"));
  const TCliRun scan = RunMirel({"scan", image.string(), "--format", "csv"});
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  std::istringstream in(scan.Out);
  std::string line;
  std::getline(in, line);
  std::set<std::string> contents;
  while (std::getline(in, line)) {
    ASSERT_EQ(line.rfind("$NOTE.TXT,", 0), 0u) << line;
    const TCliRun cat = RunMirel({"cat", image.string(), "@" + line.substr(line.rfind(',') + 1)});
    EXPECT_EQ(cat.Status, 0) << cat.Err;
    contents.insert(cat.Out);
  }
  EXPECT_EQ(contents, (std::set<std::string>{"first", "second-version"}));
  // An address no entry has is no file.
  EXPECT_EQ(RunMirel({"cat", image.string(), "@123"}).Status, 2);
}
