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
  const std::string path = "photos/Holiday photo with a long name.jpg";
  for (const std::string fixture : {"fat16", "ntfs"}) {
    SCOPED_TRACE(fixture);
    TTempDir tmp;
    const fs::path image = tmp / "cut.img";
    fs::copy_file(Fixture(fixture + ".img"), image);
    const std::string want = ReadWholeFile(Fixture(fixture + ".files") / path);
    ASSERT_GE(want.size(), 9000u);
    const size_t at = ReadWholeFile(image).find(want.substr(0, 512));
    ASSERT_NE(at, std::string::npos);
    // The source ends 6144 bytes into the file.
    fs::resize_file(image, at + 6144);

    TScannedImage scanned(image);
    TFileInfo* entry = scanned.File(path);
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
    ASSERT_EQ(file.ReadAt(buf.data(), 1144, 5000), 1144);
    EXPECT_EQ(buf.substr(0, 1144), want.substr(5000, 1144));
    EXPECT_EQ(file.ReadAt(buf.data(), 4096, entry->Size), 0);
    const int64_t end = std::min<int64_t>(entry->Size, 9096);
    EXPECT_EQ(file.Unreadable().Describe(), "6144+" + std::to_string(end - 6144));
  }
}
