#include <gtest/gtest.h>

#include <cstring>

#include "core/FileSystems.h"
#include "core/RecoveryStream.h"

using namespace mirel;

namespace {

// The base's rules over an entry of a given size; reads give the position's low byte.
class TCountingStream : public TRecoveryStream {
public:
  using TRecoveryStream::TRecoveryStream;
  size_t Read(void* buffer, size_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t n = 0;
    for (; n < count && FPosition < GetSize(); ++n) out[n] = static_cast<uint8_t>(FPosition++);
    return n;
  }
};

}  // namespace

TEST(RecoveryStreamBase, SeekRules) {
  TFileInfo entry;
  entry.Size = 100;
  TCountingStream s(nullptr, &entry);
  EXPECT_EQ(s.Seek(0, TSeekOrigin::End), 100);
  EXPECT_EQ(s.Seek(5, TSeekOrigin::End), 95);  // counts back from the end
  EXPECT_EQ(s.Seek(-5, TSeekOrigin::Beginning), 0);
  EXPECT_EQ(s.Seek(101, TSeekOrigin::Beginning), 100);
  EXPECT_EQ(s.Seek(40, TSeekOrigin::Beginning), 40);
  EXPECT_EQ(s.Seek(-10, TSeekOrigin::Current), 30);
  EXPECT_EQ(s.Seek(INT64_MAX, TSeekOrigin::Current), 100);
  EXPECT_EQ(s.Seek(INT64_MIN, TSeekOrigin::End), 100);
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::End), 100);
  s.Seek(98, TSeekOrigin::Beginning);
  uint8_t buf[8];
  EXPECT_EQ(s.Read(buf, sizeof buf), 2u);
  EXPECT_EQ(s.Position(), 100);
}

TEST(RecoveryStreamBase, WithoutEntryPositionStays) {
  TCountingStream s(nullptr, nullptr);
  EXPECT_EQ(s.GetSize(), 0);
  EXPECT_EQ(s.Seek(50, TSeekOrigin::Beginning), 0);
  EXPECT_EQ(s.Scaner, nullptr);
}

TEST(RecoveryStreamFactory, NothingForUnknownFileSystem) {
  TFileInfo entry;
  EXPECT_EQ(CreateRecoveryStream(&entry), nullptr);  // no volume
  EXPECT_EQ(CreateRecoveryStream(nullptr), nullptr);
}
