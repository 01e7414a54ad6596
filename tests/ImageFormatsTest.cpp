// Forensic, split and virtual-disk images made by the real tools from the
// fixtures must read exactly as the raw images they hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
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
    TTempDir expected;
    ASSERT_EQ(RunMirel({"recover", raw.string(), "--to", expected.Path().string(), "--all"}).Status, 0);
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
      EXPECT_EQ(recover.Status, 0) << recover.Err;
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
  ASSERT_TRUE(Sh("( head -c " + std::to_string(2048 * 512) + " /dev/zero; cat " + Q(Fixture("ntfs.img")) + " ) | dd of=" +
                 Q(shifted)));
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
