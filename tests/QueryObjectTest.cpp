#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "Engine.h"
#include "core/DiskObject.h"
#include "query/QueryObject.h"

using namespace mirel;

namespace {

// A FILETIME for a local wall-clock time.
TFileTime LocalFileTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return UnixToFileTime(std::mktime(&tm));
}

// A volume with a hand-made catalogue: folders "docs" (top) and "docs/old",
// files at the top and inside.
struct TTestCatalogue {
  TDiskObject Disk{"vol", "/nonexistent/query-test", 7};
  std::vector<std::unique_ptr<TFileInfo>> Entries;

  TFileInfo* Add(const std::string& name, TFileInfo* parent, bool folder = false, int64_t size = 0) {
    Entries.push_back(std::make_unique<TFileInfo>());
    TFileInfo* e = Entries.back().get();
    e->Name = name;
    e->Parent = parent;
    e->IsFolder = folder;
    e->Size = size;
    e->Disk = &Disk;
    e->Condition = 100;
    (folder ? Disk.Folders : Disk.Files).Add(e);
    return e;
  }
  TFileInfo* Docs = Add("docs", nullptr, true);
  TFileInfo* Old = Add("old", Docs, true);
  TFileInfo* Readme = Add("README", nullptr);
  TFileInfo* Photo = Add("photo.jpg", nullptr);
  TFileInfo* Letter = Add("letter.doc", Docs);
  TFileInfo* Draft = Add("draft.doc", Old);
};

std::vector<std::string> ResultNames(const TQueryObject& q) {
  std::vector<std::string> names;
  for (int i = 0; i < q.ResultCount(); ++i) names.push_back(q.GetResult(i)->Name);
  return names;
}

using TNames = std::vector<std::string>;

TFilter Only(uint32_t flags) {
  TFilter f;
  f.Flags = flags;
  return f;
}

}  // namespace

TEST(QueryObject, NoCriteriaListsFoldersThenFilesInCatalogueOrder) {
  TTestCatalogue c;
  TQueryObject q;
  q.AddDisk(nullptr);
  q.AddDisk(&c.Disk);
  EXPECT_EQ(ResultNames(q), (TNames{"docs", "old", "README", "photo.jpg", "letter.doc", "draft.doc"}));
  EXPECT_EQ(q.GetResult(-1), nullptr);
  EXPECT_EQ(q.GetResult(6), nullptr);
}

TEST(QueryObject, FolderCriterion) {
  TTestCatalogue c;
  TQueryObject q;
  q.AddDisk(&c.Disk);
  TFilter f = Only(qfFolder);
  q.SetFilter(f);  // a null folder is the top of the volume
  EXPECT_EQ(ResultNames(q), (TNames{"docs", "README", "photo.jpg"}));
  f.Folder = c.Docs;
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"old", "letter.doc"}));
}

TEST(QueryObject, SizeInWholeKilobytesAndBounds) {
  TTestCatalogue c;
  std::vector<int64_t> sizes = {0, 1023, 1024, 2047, 2048, 1025, 5LL << 32};
  std::vector<TFileInfo*> entries;
  for (int64_t s : sizes) entries.push_back(c.Add(std::to_string(s), nullptr, false, s));
  TQueryObject q;
  auto sizesPassing = [&](uint32_t flags, int64_t bound) {
    TFilter f = Only(qfSize | flags);
    f.Size = bound;
    q.SetFilter(f);
    std::vector<int64_t> out;
    for (TFileInfo* e : entries)
      if (q.Accepts(*e)) out.push_back(e->Size);
    return out;
  };
  EXPECT_EQ(sizesPassing(qfSizeEqual, 1024), (std::vector<int64_t>{1024, 2047, 1025}));
  EXPECT_EQ(sizesPassing(qfSizeEqual, 0), (std::vector<int64_t>{0, 1023}));
  EXPECT_EQ(sizesPassing(qfSizeGreater, 1024), (std::vector<int64_t>{2047, 2048, 1025, 5LL << 32}));
  EXPECT_EQ(sizesPassing(qfSizeSmaller, 1024), (std::vector<int64_t>{0, 1023}));
  EXPECT_EQ(sizesPassing(0, 1024), sizes);  // no comparison chosen: every size passes
  // Equal takes precedence over the other two comparisons.
  EXPECT_EQ(sizesPassing(qfSizeEqual | qfSizeSmaller, 2048), (std::vector<int64_t>{2048}));
}

TEST(QueryObject, AttributesConditionAndMask) {
  TTestCatalogue c;
  c.Readme->Attributes = faReadOnly | faHidden | faArchive;
  c.Photo->Attributes = faReadOnly;
  c.Letter->Condition = 99;
  TQueryObject q;
  q.AddDisk(&c.Disk);

  TFilter f = Only(qfAttributes);
  f.Attributes = faReadOnly | faHidden;
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"README"}));
  f.Attributes = 0;  // an empty set passes everything
  q.SetFilter(f);
  EXPECT_EQ(q.ResultCount(), 6);

  f = Only(qfCondition);
  f.MinCondition = 100;
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"docs", "old", "README", "photo.jpg", "draft.doc"}));

  f = Only(qfMask);
  f.Mask = WildcardToPattern("*.*");  // hides names without a dot, folders too
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"photo.jpg", "letter.doc", "draft.doc"}));
  f.Mask = WildcardToPattern("*.doc; readme");
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"README", "letter.doc", "draft.doc"}));
  // A repetition too large for 32 bits rejects what reaches that term.
  f.Mask = ".*[.]jpg;x{99999999999};.*[.]doc";
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"photo.jpg"}));
}

TEST(QueryObject, DateRangeOnCreationOrLastWrite) {
  TTestCatalogue c;
  TQueryObject q;
  TFilter f = Only(qfDate);
  f.DateFrom = EncodeDateTime(2024, 3, 8);
  f.DateTo = EncodeDateTime(2024, 3, 15);
  q.SetFilter(f);
  auto accepts = [&](TFileTime created, TFileTime written) {
    c.Photo->CreationTime = created;
    c.Photo->LastWriteTime = written;
    return q.Accepts(*c.Photo);
  };
  TFileTime before = LocalFileTime(2024, 3, 1), inside = LocalFileTime(2024, 3, 10, 12),
            after = LocalFileTime(2024, 3, 15, 10);
  EXPECT_TRUE(accepts(inside, after));
  EXPECT_TRUE(accepts(before, inside));
  EXPECT_FALSE(accepts(before, after));
  EXPECT_TRUE(accepts(LocalFileTime(2024, 3, 8), 0));
  // The upper bound is inside, and so is anything within a millisecond of it.
  EXPECT_TRUE(accepts(LocalFileTime(2024, 3, 15) + 9999, 0));
  EXPECT_FALSE(accepts(LocalFileTime(2024, 3, 15) + 10000, 0));
  // An unrecorded time is in no range; one past the year 9999 counts as the
  // lower bound.
  EXPECT_FALSE(accepts(0, 0));
  EXPECT_TRUE(accepts(0, ~0ULL));
  f.DateFrom = f.DateTo + 1;  // a reversed range accepts nothing
  q.SetFilter(f);
  EXPECT_FALSE(accepts(inside, inside));
  EXPECT_FALSE(accepts(0, ~0ULL));
}

TEST(QueryObject, SameFilterTwiceKeepsTheResults) {
  TTestCatalogue c;
  TQueryObject q;
  q.AddDisk(&c.Disk);
  TFilter f = Only(qfMask);
  f.Mask = WildcardToPattern("*.doc");
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"letter.doc", "draft.doc"}));
  TFileInfo* late = c.Add("late.doc", nullptr);
  EXPECT_TRUE(q.AddIfAccepted(late));
  EXPECT_FALSE(q.AddIfAccepted(c.Add("late.txt", nullptr)));
  EXPECT_FALSE(q.AddIfAccepted(nullptr));
  c.Add("early.doc", nullptr);
  q.SetFilter(f);  // equal: nothing is rebuilt
  EXPECT_EQ(ResultNames(q), (TNames{"letter.doc", "draft.doc", "late.doc"}));
  // After ClearResults the criteria are off, so the same filter rebuilds.
  q.ClearResults();
  EXPECT_EQ(q.ResultCount(), 0);
  EXPECT_EQ(q.Filter().Flags, 0u);
  q.SetFilter(f);
  EXPECT_EQ(ResultNames(q), (TNames{"letter.doc", "draft.doc", "late.doc", "early.doc"}));
  // Even the empty filter, which equals what ClearResults leaves, lists again.
  q.SetFilter(TFilter{.Mask = f.Mask});
  q.ClearResults();
  q.SetFilter(TFilter{.Mask = f.Mask});
  EXPECT_EQ(q.ResultCount(), 9);
}

TEST(QueryObject, FolderFilesIgnoreTheFolderCriterion) {
  TTestCatalogue c;
  c.Add("notes.txt", c.Docs);
  TQueryObject q;
  TFilter f = Only(qfFolder | qfMask);
  f.Mask = WildcardToPattern("*.doc");
  q.SetFilter(f);
  EXPECT_EQ(q.GetFolderFiles(c.Docs).Count(), 0);  // volume not under query
  q.AddDisk(&c.Disk);
  TDiskItems files = q.GetFolderFiles(c.Docs);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files[0], c.Letter);
  EXPECT_EQ(q.Filter().Flags, qfFolder | qfMask);
  EXPECT_EQ(q.GetFolderFiles(nullptr).Count(), 0);
}

TEST(QueryObject, RowTexts) {
  // Times are shown for entries of file systems the engine knows.
  StartEngine();
  TTestCatalogue c;
  TQueryObject q;
  TFileRow row;
  row.Caption = "untouched";
  EXPECT_FALSE(q.FillRow(row, nullptr));
  EXPECT_EQ(row.Caption, "untouched");

  c.Photo->Name = "Urlaub.tar.gz\xC3\xA9";
  c.Photo->Size = 5LL << 32;
  c.Photo->Condition = 42;
  c.Photo->LastWriteTime = LocalFileTime(2024, 5, 1, 12, 30, 5);
  c.Photo->CreationTime = LocalFileTime(2024, 4, 30);
  ASSERT_TRUE(q.FillRow(row, c.Photo));
  // No recognised file system on the volume: no date texts.
  EXPECT_EQ(row.Columns, (std::array<std::string, 5>{".GZ\xC3\x89", "21474836480", "42%", "", ""}));
  c.Disk.FileSystem = fsFat16;
  ASSERT_TRUE(q.FillRow(row, c.Photo));
  EXPECT_EQ(row.Caption, "Urlaub.tar.gz\xC3\xA9");
  EXPECT_EQ(row.Entry, c.Photo);
  EXPECT_EQ(row.Columns[3], "2024-05-01 12:30:05");
  EXPECT_EQ(row.Columns[4], "2024-04-30");  // midnight: the date alone

  c.Docs->Name = "my.folder";
  c.Docs->Size = 7;
  ASSERT_TRUE(q.FillRow(row, c.Docs));
  EXPECT_EQ(row.Columns[0], ".FOLDER");
  EXPECT_EQ(row.Columns[2], "");  // folders have no status
  c.Readme->Name = "a.b\\c";
  ASSERT_TRUE(q.FillRow(row, c.Readme));
  EXPECT_EQ(row.Columns[0], "");  // the dot lies before the last "\\"
  EXPECT_EQ(row.Columns[3], "");  // zero time: nothing recorded
}

TEST(QueryObject, ScanningThreadAddsWhileTheFrontEndReads) {
  TTestCatalogue c;
  std::vector<TFileInfo*> files;
  for (int i = 0; i < 20000; ++i) files.push_back(c.Add("f" + std::to_string(i) + (i % 2 ? ".jpg" : ".txt"), nullptr));
  TQueryObject q;
  TFilter f = Only(qfMask);
  f.Mask = WildcardToPattern("*.jpg");
  q.SetFilter(f);
  std::atomic<bool> done{false};
  std::thread scanner([&] {
    for (TFileInfo* e : files) q.AddIfAccepted(e);
    done = true;
  });
  for (int seen = 0; !done;) {
    int n = q.ResultCount();
    for (int i = seen; i < n; ++i) EXPECT_NE(q.GetResult(i), nullptr);
    seen = n;
  }
  scanner.join();
  EXPECT_EQ(q.ResultCount(), 10000);
  EXPECT_EQ(q.GetResult(0)->Name, "f1.jpg");
  EXPECT_EQ(q.GetResult(9999)->Name, "f19999.jpg");
}
