#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Arena.h"
#include "core/Catalogue.h"

using namespace mirel;

namespace {

// Records that count themselves, so a test sees each destroyed exactly once.
int LiveRecords = 0;

struct TCountedRecord : TMovableFsInfo<TCountedRecord> {
  TCountedRecord() { ++LiveRecords; }
  TCountedRecord(const TCountedRecord& o) : TMovableFsInfo(o), Clusters(o.Clusters), Id(o.Id) { ++LiveRecords; }
  TCountedRecord(TCountedRecord&& o) noexcept : TMovableFsInfo(o), Clusters(std::move(o.Clusters)), Id(o.Id) {
    ++LiveRecords;
  }
  TCountedRecord& operator=(const TCountedRecord&) = default;
  ~TCountedRecord() override { --LiveRecords; }
  bool IsDeleted() const override { return true; }
  std::vector<int64_t> Clusters;
  int Id = 0;
};

// A record of a kind the catalogue cannot move: it stays on the heap.
struct TFixedRecord : TFsInfo {
  TFixedRecord() { ++LiveRecords; }
  ~TFixedRecord() override { --LiveRecords; }
  bool IsDeleted() const override { return false; }
};

TFileInfo Entry(const std::string& name, int id) {
  TFileInfo t;
  t.Name = name;
  t.Size = id;
  auto rec = std::make_unique<TCountedRecord>();
  rec->Id = id;
  rec->Clusters.assign(static_cast<size_t>(id % 7), id);
  t.FsInfo = std::move(rec);
  return t;
}

class Catalogue : public ::testing::Test {
protected:
  void SetUp() override { LiveRecords = 0; }
  void TearDown() override { EXPECT_EQ(LiveRecords, 0); }
};

}  // namespace

TEST_F(Catalogue, EntriesStayPutWhileItGrows) {
  TCatalogue c;
  std::vector<TFileInfo*> made;
  // Many times the chunk and block sizes: earlier entries must not move.
  for (int i = 0; i < 5000; ++i) {
    TFileInfo* e = c.Add(Entry("file number " + std::to_string(i) + " with a name past the short-string size", i));
    if (i % 2) c.Files.Add(e);
    made.push_back(e);
  }
  EXPECT_EQ(c.Count(), 5000u);
  EXPECT_EQ(c.Files.Count(), 2500);
  EXPECT_EQ(LiveRecords, 5000);  // the heap originals are gone
  for (int i = 0; i < 5000; ++i) {
    TFileInfo* const e = made[static_cast<size_t>(i)];
    ASSERT_EQ(e->Name, "file number " + std::to_string(i) + " with a name past the short-string size");
    auto* rec = dynamic_cast<TCountedRecord*>(e->FsInfo.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_TRUE(rec->InCatalogue);
    EXPECT_EQ(rec->Id, i);
    EXPECT_EQ(rec->Clusters, std::vector<int64_t>(static_cast<size_t>(i % 7), i));
  }
  EXPECT_EQ(c.Files[0], made[1]);
  EXPECT_EQ(c.Files[2499], made[4999]);
}

TEST_F(Catalogue, ClearFreesEverythingAndStartsOver) {
  TCatalogue c;
  TFileInfo* root = c.Add(TFileInfo{.Name = "root:"});
  c.Folders.Add(root);
  TFileInfo fixed;
  fixed.FsInfo = std::make_unique<TFixedRecord>();
  TFileInfo* kept = c.Add(std::move(fixed));
  EXPECT_FALSE(kept->FsInfo->InCatalogue);
  for (int i = 0; i < 100; ++i) c.Files.Add(c.Add(Entry("f", i)));
  EXPECT_EQ(LiveRecords, 101);

  c.Clear();
  EXPECT_EQ(LiveRecords, 0);
  EXPECT_EQ(c.Count(), 0u);
  EXPECT_EQ(c.Files.Count(), 0);
  EXPECT_EQ(c.Folders.Count(), 0);
  c.Clear();  // empty: nothing to do

  TFileInfo* again = c.Add(Entry("again", 3));
  c.Files.Add(again);
  EXPECT_EQ(c.Files[0]->Name, "again");
  EXPECT_EQ(LiveRecords, 1);
}

TEST_F(Catalogue, DiscardReleasesAtOnceAndOnlyOnce) {
  TCatalogue c;
  TFileInfo* dropped = c.Add(Entry("a folder nobody needs, with a long name", 5));
  TFileInfo* kept = c.Add(Entry("kept", 6));
  c.Discard(dropped);
  c.Discard(nullptr);
  EXPECT_EQ(LiveRecords, 1);
  EXPECT_EQ(dropped->FsInfo, nullptr);
  EXPECT_TRUE(dropped->Name.empty());
  EXPECT_EQ(kept->Name, "kept");
  c.Clear();
}

TEST_F(Catalogue, CopyOfACataloguedRecordIsItsOwn) {
  TCatalogue c;
  TFileInfo* e = c.Add(Entry("x", 4));
  const auto& inside = static_cast<const TCountedRecord&>(*e->FsInfo);
  ASSERT_TRUE(inside.InCatalogue);
  // A copy made on the heap is freed by its owner like any other record.
  TFsInfoPtr copy = std::make_unique<TCountedRecord>(inside);
  EXPECT_FALSE(copy->InCatalogue);
  EXPECT_EQ(static_cast<const TCountedRecord&>(*copy).Clusters, inside.Clusters);
  TCountedRecord assigned;
  assigned = inside;
  EXPECT_FALSE(assigned.InCatalogue);
  copy.reset();
  c.Clear();
}

TEST(ByteArena, BlocksAndOversizedRequests) {
  TByteArena a;
  void* first = a.Allocate(3);
  void* second = a.Allocate(8);
  EXPECT_EQ(static_cast<char*>(second) - static_cast<char*>(first), 8);  // 8-byte steps
  EXPECT_EQ(a.BlockCount(), 1u);
  void* big = a.Allocate(TByteArena::BLOCK + 1);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(a.BlockCount(), 2u);
  // The whole request is usable.
  static_cast<char*>(big)[TByteArena::BLOCK] = 1;
  a.Clear();
  EXPECT_EQ(a.BlockCount(), 0u);
}

TEST(ChunkStore, DestroysInReverseAndCounts) {
  std::vector<int> order;
  struct TNoted {
    std::vector<int>* Order;
    int N;
    ~TNoted() { Order->push_back(N); }
  };
  {
    TChunkStore<TNoted, 4> s;
    for (int i = 0; i < 9; ++i) s.Emplace(&order, i);
    EXPECT_EQ(s.Count(), 9u);
  }
  EXPECT_EQ(order, (std::vector<int>{8, 7, 6, 5, 4, 3, 2, 1, 0}));
}

// What a catalogue costs per entry on 64-bit builds: growing these records
// shows on every volume of millions of files.
static_assert(sizeof(void*) != 8 || sizeof(TFileInfo) <= 88);
