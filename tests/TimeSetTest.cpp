#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Catalogue.h"
#include "core/TimeSet.h"
#include "ntfs/NtfsTypes.h"

using namespace mirel;

namespace {

std::array<TFileTime, TTimeSet::SLOTS> All(const TTimeSet& s) {
  std::array<TFileTime, TTimeSet::SLOTS> a{};
  for (int i = 0; i < TTimeSet::SLOTS; ++i) a[i] = s.Get(i);
  return a;
}

}  // namespace

TEST(TimeSet, KeepsEachSlotThroughRepeatsZerosAndChanges) {
  TTimeSet s;
  EXPECT_EQ(s.StorageBytes(), 0U);
  EXPECT_EQ(s.Get(-1), 0U);
  EXPECT_EQ(s.Get(TTimeSet::SLOTS), 0U);

  const TFileTime a = 0x01DA123456789ABCULL, b = 0x01D9FFFFFFFFFFFFULL, c = 1;
  s.Set(0, a);
  s.Set(1, b);
  s.Set(2, a);
  s.Set(3, a);
  s.Set(5, c);
  EXPECT_EQ(All(s), (std::array<TFileTime, 6>{a, b, a, a, 0, c}));
  // Three distinct values and the map word.
  EXPECT_EQ(s.StorageBytes(), 4 * sizeof(uint64_t));

  // Overwriting the only holder of a value drops it; the others keep theirs.
  s.Set(1, a);
  s.Set(5, 0);
  EXPECT_EQ(All(s), (std::array<TFileTime, 6>{a, a, a, a, 0, 0}));
  EXPECT_EQ(s.StorageBytes(), 2 * sizeof(uint64_t));

  // Six different values, the most a set holds.
  for (int i = 0; i < TTimeSet::SLOTS; ++i) s.Set(i, 1000 + static_cast<TFileTime>(i));
  for (int i = 0; i < TTimeSet::SLOTS; ++i) EXPECT_EQ(s.Get(i), 1000U + static_cast<unsigned>(i));
  EXPECT_EQ(s.StorageBytes(), 7 * sizeof(uint64_t));

  // Several slots at once: slots out of range are passed over, the last
  // value given for a slot holds.
  s.Set({{0, b}, {TTimeSet::SLOTS, 5}, {-1, 5}, {2, c}, {2, b}});
  EXPECT_EQ(All(s), (std::array<TFileTime, 6>{b, 1001, b, 1003, 1004, 1005}));
  EXPECT_EQ(s.StorageBytes(), 6 * sizeof(uint64_t));

  s.Set(TTimeSet::SLOTS, 5);
  for (int i = 0; i < TTimeSet::SLOTS; ++i) s.Set(i, 0);
  EXPECT_EQ(s.StorageBytes(), 0U);
  EXPECT_EQ(All(s), (std::array<TFileTime, 6>{}));
}

TEST(TimeSet, MovedIntoForeignStorageReadsThereAndLeavesItAlone) {
  TTimeSet s;
  s.Set(1, 7);
  s.Set(4, 9);
  std::vector<uint64_t> place(s.StorageBytes() / sizeof(uint64_t));
  s.MoveInto(place.data());
  EXPECT_EQ(s.Get(1), 7U);
  EXPECT_EQ(s.Get(4), 9U);
  const std::vector<uint64_t> stored = place;

  // A change after the move makes a block of its own; the foreign storage,
  // freed by its owner, is neither written nor freed.
  TTimeSet moved(std::move(s));
  moved.Set(0, 3);
  EXPECT_EQ(All(moved), (std::array<TFileTime, 6>{3, 7, 0, 0, 9, 0}));
  EXPECT_EQ(place, stored);
  EXPECT_EQ(s.StorageBytes(), 0U);  // NOLINT(bugprone-use-after-move): a moved-from set is empty
}

TEST(TimeSet, NtfsRecordKeepsItsTimesAndNumbersInTheCatalogue) {
  TCatalogue c;
  std::vector<TFileInfo*> made;
  // Enough records to span several storage blocks, with and without times.
  for (int i = 0; i < 3000; ++i) {
    auto rec = std::make_unique<TNtfsFileInfo>();
    rec->RecordNumber = 100000 + i;
    rec->Sequence = static_cast<uint16_t>(i);
    rec->Deleted = true;
    rec->RecordData = std::make_shared<const std::vector<uint8_t>>(1024, uint8_t{0});
    rec->SetParentRecord(5);
    if (i % 3 != 0) {
      rec->SetSiTimes(2000 + static_cast<TFileTime>(i), 0);
      rec->SetFnTimes(TMacbTimes{3000, 3000, 3000, static_cast<TFileTime>(i % 3)});
      rec->HasFnTimes = true;
    }
    EXPECT_EQ(rec->ParentRecord(), 5);
    // What only the scan needs goes before the record is catalogued.
    rec->RecordData.reset();
    EXPECT_FALSE(rec->RecordData);
    EXPECT_EQ(rec->ParentRecord(), 0);
    TFileInfo t;
    t.FsInfo = std::move(rec);
    made.push_back(c.Add(std::move(t)));
  }
  for (int i = 0; i < 3000; ++i) {
    const auto* rec = dynamic_cast<const TNtfsFileInfo*>(made[static_cast<size_t>(i)]->FsInfo.get());
    ASSERT_NE(rec, nullptr);
    ASSERT_TRUE(rec->InCatalogue);
    EXPECT_EQ(rec->Address(), std::to_string(100000 + i) + "-" + std::to_string(i % 65536));
    EXPECT_TRUE(rec->IsDeleted());
    if (i % 3 == 0) {
      EXPECT_EQ(rec->ChangeTime(), 0U);
      EXPECT_FALSE(rec->FileNameTimes());
      continue;
    }
    EXPECT_EQ(rec->ChangeTime(), 2000U + static_cast<unsigned>(i));
    EXPECT_EQ(rec->AccessTime(), 0U);
    const std::optional<TMacbTimes> fn = rec->FileNameTimes();
    ASSERT_TRUE(fn);
    EXPECT_EQ(fn->Modified, 3000U);
    EXPECT_EQ(fn->Changed, 3000U);
    EXPECT_EQ(fn->Created, static_cast<TFileTime>(i % 3));
  }
}
