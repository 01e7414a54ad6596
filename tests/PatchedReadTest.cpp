// Reads through a source with failing sectors: a failed read is retried down
// to single sectors, so exactly the bad sectors are lost, and they are said.
#include <gtest/gtest.h>

#include "FaultyImage.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "platform/RawSource.h"

using namespace mirel;
using namespace mirel::test;

namespace {

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return b;
}

TEST(PatchedRead, LosesExactlyTheFailingSectorsAndNamesThem) {
  TTempDir tmp;
  const std::vector<uint8_t> bytes = Pattern(256 * 1024);
  WriteFile(tmp / "disk.img", bytes);
  TFaultyImage faulty(tmp / "disk.img", {{3, 1}, {10, 2}, {300, 1}});
  ASSERT_TRUE(faulty.Mounted()) << faulty.Error;
  TRawSource src = TRawSource::Open(faulty.Path());
  ASSERT_TRUE(src.IsValid()) << src.Error();

  std::vector<uint8_t> buf(64 * 1024, 0xEE);
  TByteRanges bad;
  // From sector 1 on: the ranges are relative to where the read starts.
  const size_t got = ReadDiskPatched(src, buf.data(), buf.size(), 512, bad);
  EXPECT_EQ(got, buf.size() - 3 * 512);
  EXPECT_EQ(bad.Ranges(), (std::vector<TByteRange>{{1024, 512}, {9 * 512, 1024}}));
  for (size_t i = 0; i < buf.size(); ++i) {
    const bool lost = bad.Intersects(static_cast<int64_t>(i), 1);
    ASSERT_EQ(buf[i], lost ? 0 : bytes[512 + i]) << "byte " << i;
  }

  // A plain read stops at the first bad sector, or before: never past it.
  EXPECT_LE(ReadDisk(src, buf.data(), buf.size(), 0), 3u * 512);
}

TEST(PatchedRead, PastTheEndOfTheSourceIsMissingWithoutRetries) {
  TTempDir tmp;
  const std::vector<uint8_t> bytes = Pattern(10000);
  WriteFile(tmp / "short.img", bytes);
  TRawSource src = TRawSource::Open((tmp / "short.img").string());
  std::vector<uint8_t> buf(8192, 0xEE);
  TByteRanges bad;
  EXPECT_EQ(ReadDiskPatched(src, buf.data(), buf.size(), 4096, bad), 10000u - 4096);
  EXPECT_EQ(bad.Ranges(), (std::vector<TByteRange>{{10000 - 4096, 8192 - (10000 - 4096)}}));
  EXPECT_EQ(buf.back(), 0);
  TByteRanges beyond;
  EXPECT_EQ(ReadDiskPatched(src, buf.data(), 100, 20000, beyond), 0u);
  EXPECT_EQ(beyond.Ranges(), (std::vector<TByteRange>{{0, 100}}));
}

}  // namespace
