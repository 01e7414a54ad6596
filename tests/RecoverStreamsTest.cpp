// Named NTFS streams recovered to destinations without streams: as extended
// attributes where the destination takes them, as files beside the main one
// where it does not, and each choice said in the summary and the report.
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "TestSupport.h"

using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

struct TUnmount {
  std::string Dir;
  ~TUnmount() { Sh("umount '" + Dir + "' 2>/dev/null"); }
};

// The extended attribute's value; empty with ok false when there is none.
std::string Attribute(const fs::path& p, const std::string& name, bool& ok) {
  std::vector<char> value(1 << 17);
  const ssize_t n = ::getxattr(p.c_str(), name.c_str(), value.data(), value.size());
  ok = n >= 0;
  return ok ? std::string(value.data(), static_cast<size_t>(n)) : std::string();
}

fs::path Original(const std::string& name) { return Fixture("ntfs.files") / name; }

}  // namespace

TEST(RecoverStreams, AttributesWhereTheDestinationTakesThemFilesBesideWhereNot) {
  const std::vector<std::string> files{"streams.txt", "bigstream.txt"};
  const std::vector<std::string> streams{"extra", "big"};
  // An ordinary folder: the streams fit its attributes.
  TTempDir plain;
  TTempDir reports;
  TCliRun r = RunMirel({"recover", Fixture("ntfs.img").string(), "--to", plain.Path().string(), "--report",
                        (reports / "plain.jsonl").string(), files[0], files[1]});
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::string plainReport = ReadWholeFile(reports / "plain.jsonl");
  for (size_t i = 0; i < files.size(); ++i) {
    bool ok = false;
    const std::string value = Attribute(plain / files[i], "user." + streams[i], ok);
    ASSERT_TRUE(ok) << files[i] << ": " << std::strerror(errno);
    EXPECT_EQ(value, ReadWholeFile(Original(files[i] + ":" + streams[i])));
    EXPECT_EQ(ReadWholeFile(plain / files[i]), ReadWholeFile(Original(files[i])));
    EXPECT_NE(r.Err.find(files[i] + ": stream " + streams[i] + " kept as the extended attribute user." + streams[i]),
              std::string::npos)
        << r.Err;
    EXPECT_NE(
        plainReport.find("{\"name\":\"" + streams[i] + "\",\"as\":\"attribute\",\"dest\":\"user." + streams[i] + "\"}"),
        std::string::npos)
        << plainReport;
  }

  // A file system without extended attributes: files beside the main one.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a ramfs";
  TTempDir tmp;
  const std::string mnt = (tmp / "ramfs").string();
  fs::create_directory(mnt);
  if (!Sh("mount -t ramfs ramfs '" + mnt + "'")) GTEST_SKIP() << "cannot mount a ramfs here";
  TUnmount unmount{mnt};
  r = RunMirel({"recover", Fixture("ntfs.img").string(), "--to", mnt, "--report", (reports / "ramfs.jsonl").string(),
                files[0], files[1]});
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::string ramfsReport = ReadWholeFile(reports / "ramfs.jsonl");
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string sibling = files[i] + ":" + streams[i];
    ASSERT_TRUE(fs::exists(fs::path(mnt) / sibling)) << sibling << "\n" << r.Err;
    EXPECT_EQ(ReadWholeFile(fs::path(mnt) / sibling), ReadWholeFile(Original(sibling)));
    EXPECT_EQ(ReadWholeFile(fs::path(mnt) / files[i]), ReadWholeFile(Original(files[i])));
    EXPECT_NE(r.Err.find(files[i] + ": stream " + streams[i] + " written beside it as " + mnt + "/" + sibling),
              std::string::npos)
        << r.Err;
    EXPECT_NE(ramfsReport.find("\"as\":\"file\",\"dest\":\"" + mnt + "/" + sibling + "\""), std::string::npos)
        << ramfsReport;
  }
  EXPECT_NE(r.Err.find("2 files written"), std::string::npos) << r.Err;
}

TEST(RecoverStreams, StreamTooLargeForAnyAttributeBecomesAFileBesideIt) {
  if (geteuid() != 0 || !fs::exists("/dev/fuse")) GTEST_SKIP() << "needs root and /dev/fuse for an ntfs-3g mount";
  TTempDir tmp;
  const std::string img = (tmp / "src.img").string(), mnt = (tmp / "mnt").string(), dest = (tmp / "dest").string();
  fs::create_directory(mnt);
  fs::create_directory(dest);
  // ntfs-3g's Windows interface names a stream as NAME:STREAM.
  if (!Sh("truncate -s 8M '" + img + "' && mkntfs -q -F -f '" + img +
          "' >/dev/null 2>&1 && ntfs-3g -o "
          "streams_interface=windows '" +
          img + "' '" + mnt + "'"))
    GTEST_SKIP() << "cannot mount a new NTFS volume with ntfs-3g here";
  std::mt19937 rng(11);
  std::string huge(100000, '\0'), mid(20000, '\0');
  for (char& c : huge) c = static_cast<char>(rng());
  for (char& c : mid) c = static_cast<char>(rng());
  {
    TUnmount unmount{mnt};
    std::ofstream(mnt + "/big.txt", std::ios::binary) << "main data";
    std::ofstream(mnt + "/big.txt:huge", std::ios::binary) << huge;
    std::ofstream(mnt + "/big.txt:mid", std::ios::binary) << mid;
  }
  // A tmpfs takes attributes up to the 64 KiB that Linux allows one.
  if (!Sh("mount -t tmpfs -o size=16m tmpfs '" + dest + "'")) GTEST_SKIP() << "cannot mount a tmpfs here";
  TUnmount unmountDest{dest};
  TCliRun r = RunMirel({"recover", img, "--all", "--to", dest, "big.txt"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadWholeFile(dest + "/big.txt"), "main data");
  EXPECT_EQ(ReadWholeFile(dest + "/big.txt:huge"), huge);
  bool ok = false;
  EXPECT_EQ(Attribute(dest + "/big.txt", "user.mid", ok), mid);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(fs::exists(dest + "/big.txt:mid"));
  EXPECT_NE(r.Err.find("stream huge written beside it as " + dest + "/big.txt:huge"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("stream mid kept as the extended attribute user.mid"), std::string::npos) << r.Err;
}
