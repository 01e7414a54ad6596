#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fat/FatTable.h"
#include "platform/ByteSource.h"

using namespace mirel;
using namespace mirel::fat;

namespace {

// A volume held in memory; reads stop where a bad range begins, as a device
// read stops at the sector it cannot read.
class TMemSource final : public TByteSource {
public:
  explicit TMemSource(std::vector<uint8_t> bytes) : Bytes(std::move(bytes)) {}
  bool IsValid() const override { return true; }
  int64_t Size() const override { return static_cast<int64_t>(Bytes.size()); }
  size_t Read(void* buffer, size_t count, int64_t offset) const override {
    ++Reads;
    if (offset < 0 || offset >= Size()) return 0;
    int64_t end = std::min<int64_t>(Size(), offset + static_cast<int64_t>(count));
    if (BadFrom >= 0 && BadFrom < end && BadTo > offset) end = std::max(offset, BadFrom);
    std::memcpy(buffer, Bytes.data() + offset, static_cast<size_t>(end - offset));
    return static_cast<size_t>(end - offset);
  }
  std::vector<uint8_t> Bytes;
  int64_t BadFrom = -1, BadTo = -1;
  mutable int Reads = 0;
};

// A FAT16 table of 16-bit entries at sector 1 of a volume of 512-byte sectors.
struct TFat16Volume {
  explicit TFat16Volume(uint32_t maxCluster) : Source(std::vector<uint8_t>(512 + size_t{maxCluster + 1} * 2 + 512)) {
    Table.Open(&Source, TFatKind::Fat16, 512, 1, maxCluster);
  }
  void Set(uint32_t n, uint16_t v) {
    Source.Bytes[512 + size_t{n} * 2] = static_cast<uint8_t>(v);
    Source.Bytes[512 + size_t{n} * 2 + 1] = static_cast<uint8_t>(v >> 8);
  }
  std::vector<uint32_t> Chain(uint32_t first, uint64_t max = 100) {
    std::vector<uint32_t> out;
    Table.FollowChain(first, max, "test", [&](uint32_t c) { out.push_back(c); });
    return out;
  }
  TMemSource Source;
  TFatTable Table;
};

using V = std::vector<uint32_t>;

}  // namespace

TEST(FatTableEntry, Fat12PacksTwoEntriesInThreeBytes) {
  // Media and end entries, then clusters 2 to 5 holding 3, 4, 5 and an end mark.
  const std::vector<uint8_t> table = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0x05, 0xF0, 0xFF};
  EXPECT_EQ(ReadFatEntry(table, TFatKind::Fat12, 2), 0x003u);  // even: low twelve bits of bytes 3-4
  EXPECT_EQ(ReadFatEntry(table, TFatKind::Fat12, 3), 0x004u);  // odd: high twelve bits of bytes 4-5
  EXPECT_EQ(ReadFatEntry(table, TFatKind::Fat12, 4), 0x005u);
  EXPECT_EQ(ReadFatEntry(table, TFatKind::Fat12, 5), 0xFFFu);
  EXPECT_FALSE(ReadFatEntry(table, TFatKind::Fat12, 6));  // would need bytes 9 and 10
}

TEST(FatTableEntry, Fat16AndFat32Widths) {
  const std::vector<uint8_t> fat16 = {0xF8, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0xF7, 0xFF};
  EXPECT_EQ(ReadFatEntry(fat16, TFatKind::Fat16, 2), 3u);
  EXPECT_EQ(ReadFatEntry(fat16, TFatKind::Fat16, 3), 0xFFF7u);
  // The top four bits of a FAT32 entry are reserved, not part of the value.
  const std::vector<uint8_t> fat32 = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF,
                                      0x05, 0x00, 0x00, 0xF0, 0xF8, 0xFF, 0xFF, 0x0F};
  EXPECT_EQ(ReadFatEntry(fat32, TFatKind::Fat32, 2), 5u);
  EXPECT_EQ(ReadFatEntry(fat32, TFatKind::Fat32, 3), 0x0FFFFFF8u);
  EXPECT_FALSE(ReadFatEntry(fat32, TFatKind::Fat32, 4));
}

TEST(FatTableEntry, EndAndBadMarkersOfEachWidth) {
  TMemSource none({});
  TFatTable t;
  for (TFatKind kind : {TFatKind::Fat12, TFatKind::Fat16, TFatKind::Fat32}) {
    t.Open(&none, kind, 512, 1, 100);
    const TFatMarkers m = t.Markers();
    SCOPED_TRACE(static_cast<int>(kind));
    EXPECT_TRUE(t.EndsChain(0));
    EXPECT_TRUE(t.EndsChain(m.Bad));
    EXPECT_TRUE(t.EndsChain(m.EocMin));
    EXPECT_TRUE(t.EndsChain(m.EocMax));
    EXPECT_FALSE(t.EndsChain(m.Bad - 1));
    EXPECT_FALSE(t.EndsChain(2));
  }
  EXPECT_EQ(MarkersOf(TFatKind::Fat12).Bad, 0xFF7u);
  EXPECT_EQ(MarkersOf(TFatKind::Fat16).EocMin, 0xFFF8u);
  EXPECT_EQ(MarkersOf(TFatKind::Fat32).EocMax, 0x0FFFFFFFu);
  // A FAT12 bad marker is an ordinary cluster number on FAT32.
  t.Open(&none, TFatKind::Fat32, 512, 1, 100);
  EXPECT_FALSE(t.EndsChain(0xFF7));
}

TEST(FatTableEntry, Fat12EntryAcrossTwoReadBlocksTakesAByteFromEach) {
  // Cluster 43690's entry starts at table byte 65535, the last of the first
  // 64 KiB block read.
  std::vector<uint8_t> bytes(2 * 65536, 0);
  bytes[65535] = 0xBC;
  bytes[65536] = 0x0A;
  TMemSource source(bytes);
  TFatTable t;
  t.Open(&source, TFatKind::Fat12, 512, 0, 50000);
  EXPECT_EQ(t.Next(43690), 0xABCu);
  EXPECT_EQ(t.SectorReads, 2u);
  EXPECT_FALSE(t.ReadFailed);

  // The second sector unreadable: the entry is no value, and said so.
  source.BadFrom = 65536;
  source.BadTo = 65536 + 512;
  t.Open(&source, TFatKind::Fat12, 512, 0, 50000);
  t.LogReadFailures = false;
  EXPECT_EQ(t.Next(43690), 0xFF7u);
  EXPECT_TRUE(t.ReadFailed);
  EXPECT_EQ(t.FirstFailedSector, 128u);
}

TEST(FatTableEntry, AnUnreadableSectorCostsOnlyItsOwnEntries) {
  TFat16Volume v(600);  // a table of three sectors
  v.Set(10, 11);
  v.Set(300, 301);
  v.Set(550, 551);
  v.Set(551, 552);
  v.Source.BadFrom = 1024;  // the table's second sector
  v.Source.BadTo = 1536;
  v.Table.LogReadFailures = false;
  EXPECT_EQ(v.Table.Next(10), 11u);
  EXPECT_EQ(v.Table.Next(300), 0xFFF7u);
  EXPECT_EQ(v.Table.Next(550), 551u);
  EXPECT_TRUE(v.Table.ReadFailed);
  EXPECT_EQ(v.Table.FirstFailedSector, 2u);
  // A lookup in the sector last read needs no further read.
  const int reads = v.Source.Reads;
  EXPECT_EQ(v.Table.Next(551), 552u);
  EXPECT_EQ(v.Source.Reads, reads);
}

TEST(FatTableEntry, ClustersOutsideTheVolumeAreNoEntries) {
  TFat16Volume v(50);
  v.Set(50, 7);
  EXPECT_EQ(v.Table.Next(50), 7u);
  EXPECT_EQ(v.Table.Next(51), 0xFFF7u);
  EXPECT_EQ(v.Table.Next(1), 0xFFF7u);
  EXPECT_EQ(v.Table.Next(0), 0xFFF7u);
}

TEST(FatTableChain, LiveChainsStopAtEndsLoopsAndTheVolumeEdge) {
  TFat16Volume v(100);
  v.Set(2, 3);
  v.Set(3, 4);
  v.Set(4, 0xFFFF);
  // A damaged table: 10 -> 11 -> 12 -> 10.
  v.Set(10, 11);
  v.Set(11, 12);
  v.Set(12, 10);
  v.Set(20, 500);  // past the last cluster
  v.Set(30, 0xFFF7);
  EXPECT_EQ(v.Chain(2), (V{2, 3, 4}));
  EXPECT_EQ(v.Chain(2, 2), (V{2, 3}));      // no longer than asked
  EXPECT_EQ(v.Chain(10), (V{10, 11, 12}));  // once round the loop
  EXPECT_EQ(v.Chain(20), (V{20}));
  EXPECT_EQ(v.Chain(30), (V{30}));
  // Nothing from a first cluster that is none.
  EXPECT_TRUE(v.Chain(0).empty());
  EXPECT_TRUE(v.Chain(101).empty());
}

TEST(FatTableChain, DeletedFileTakesTheFreeClustersFromItsFirstOn) {
  TFat16Volume v(20);
  v.Set(11, 0xFFFF);  // a live file's cluster in the way
  v.Set(14, 0xFFFF);
  auto walk = [&](uint32_t first, uint64_t count) {
    V out;
    v.Table.WalkFreeClusters(
        first, count, [&](uint32_t c) { out.push_back(c); }, [] { return false; });
    return out;
  };
  EXPECT_EQ(walk(10, 3), (V{10, 12, 13}));
  EXPECT_EQ(walk(10, 0), V{});
  // The first cluster in use again: the data's start is gone.
  EXPECT_EQ(walk(11, 3), V{});
  // No further than the volume's last cluster.
  EXPECT_EQ(walk(18, 10), (V{18, 19, 20}));
  // A stop request is heard before the walk takes anything.
  V stopped;
  EXPECT_EQ(v.Table.WalkFreeClusters(
                10, 3, [&](uint32_t c) { stopped.push_back(c); }, [] { return true; }),
            0u);
  EXPECT_TRUE(stopped.empty());
}
