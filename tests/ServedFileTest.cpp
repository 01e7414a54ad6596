// A read through the mount's file object delivers the file's own bytes or
// fails: the zeros a stream puts where it could not read never pass as data.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "NtfsTestImage.h"
#include "TestSupport.h"
#include "mount/ServedFile.h"

namespace fs = std::filesystem;
using namespace mirel;
using namespace mirel::test;

TEST(ServedFile, ReadsGiveTheFilesBytesOrFailWhereTheSourceEnds) {
  TTempDir tmp;
  const fs::path image = tmp / "cut.img";
  fs::copy_file(Fixture("fat16.img"), image);
  const std::string path = "photos/Holiday photo with a long name.jpg";
  const std::string want = ReadWholeFile(Fixture("fat16.files") / path);
  ASSERT_EQ(want.size(), 9000u);
  const size_t at = ReadWholeFile(image).find(want.substr(0, 512));
  ASSERT_NE(at, std::string::npos);
  fs::resize_file(image, at + 6000);

  TScannedImage scanned(image);
  PFileInfo entry = scanned.File(path);
  ASSERT_NE(entry, nullptr);
  TServedFile file(entry, entry->Size);
  ASSERT_TRUE(file.Ok());
  std::string buf(4096, 'x');
  ASSERT_EQ(file.ReadAt(buf.data(), 4096, 1000), 4096);
  EXPECT_EQ(buf, want.substr(1000, 4096));
  // Back to an earlier place, then across the end of the source.
  ASSERT_EQ(file.ReadAt(buf.data(), 100, 10), 100);
  EXPECT_EQ(buf.substr(0, 100), want.substr(10, 100));
  EXPECT_EQ(file.ReadAt(buf.data(), 4096, 5000), -EIO);
  EXPECT_EQ(file.ReadAt(buf.data(), 10, 8990), -EIO);
  ASSERT_EQ(file.ReadAt(buf.data(), 1000, 4999), 1000);
  EXPECT_EQ(buf.substr(0, 1000), want.substr(4999, 1000));
  EXPECT_EQ(file.ReadAt(buf.data(), 4096, 9000), 0);
  EXPECT_EQ(file.Unreadable().Describe(), "6000+3000");
}
