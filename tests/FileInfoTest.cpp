#include <gtest/gtest.h>

#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileInfo.h"

using namespace mirel;

namespace {

struct TTree {
  TFileInfo Root, A, B, C;
  TTree() {
    Root.Name = "vol: (LABEL)";
    A.Name = "a";
    A.Parent = &Root;
    B.Name = "b";
    B.Parent = &A;
    C.Name = "c";
    C.Parent = &B;
    for (TFileInfo* f : {&Root, &A, &B, &C}) f->IsFolder = true;
  }
};

}  // namespace

TEST(FolderSizes, FileAddsToEveryAncestorIn64Bits) {
  TTree t;
  t.A.Size = 7;  // a folder keeps its own starting size
  TFileInfo file;
  file.Parent = &t.C;
  file.Size = 5LL * 1024 * 1024 * 1024;  // above 4 GiB
  AddSizeToAncestors(file);
  AddSizeToAncestors(file);
  EXPECT_EQ(t.C.Size, 10LL * 1024 * 1024 * 1024);
  EXPECT_EQ(t.B.Size, 10LL * 1024 * 1024 * 1024);
  EXPECT_EQ(t.A.Size, 7 + 10LL * 1024 * 1024 * 1024);
  EXPECT_EQ(t.Root.Size, 10LL * 1024 * 1024 * 1024);

  TFileInfo orphan;
  orphan.Size = 99;
  AddSizeToAncestors(orphan);  // no parent: nothing to change, nothing to crash
  EXPECT_EQ(t.Root.Size, 10LL * 1024 * 1024 * 1024);
}

TEST(FolderSizes, CyclicParentChainIsBounded) {
  TFileInfo a, b, file;
  a.Parent = &b;
  b.Parent = &a;
  file.Parent = &a;
  file.Size = 1;
  AddSizeToAncestors(file);  // must return
  EXPECT_EQ(a.Size + b.Size, MAX_FOLDER_DEPTH);
}

TEST(ListChildren, FiltersByParentAndPredicateInCatalogueOrder) {
  TDiskObject disk("vol", "/nonexistent/for-test", 7);
  TTree t;
  TFileInfo f1, f2, f3;
  f1.Name = "one";
  f1.Parent = &t.A;
  f2.Name = "two";
  f2.Parent = &t.B;
  f3.Name = "three";
  f3.Parent = &t.A;
  for (TFileInfo* f : {&f1, &f2, &f3}) {
    f->Disk = &disk;
    disk.Files.Add(f);
  }
  t.A.Disk = &disk;
  t.B.Disk = &disk;
  t.C.Disk = &disk;
  disk.Folders.Add(&t.B);

  TDiskItems all = ListChildren(t.A, {});
  ASSERT_EQ(all.Count(), 2);
  EXPECT_EQ(all[0], &f1);
  EXPECT_EQ(all[1], &f3);
  TDiskItems some = ListChildren(t.A, [](const TFileInfo& e) { return e.Name == "three"; });
  ASSERT_EQ(some.Count(), 1);
  EXPECT_EQ(some[0], &f3);
  EXPECT_EQ(ListChildren(t.C, {}).Count(), 0);
  TDiskItems sub = ListChildren(t.A, {}, true);
  ASSERT_EQ(sub.Count(), 1);
  EXPECT_EQ(sub[0], &t.B);

  // The entries belong to the test, not to the catalogue.
  disk.Files.Clear();
  disk.Folders.Clear();
}

TEST(EntryPath, LinuxFormOfTheFolderChain) {
  TDiskObject disk("card.img", "/nonexistent/for-test", 7);
  TTree t;
  TFileInfo inRoot, deep;
  inRoot.Parent = &t.Root;
  deep.Parent = &t.B;
  inRoot.Disk = deep.Disk = &disk;
  EXPECT_EQ(GetEntryPath(inRoot), "card.img:/");
  EXPECT_EQ(GetEntryPath(deep), "card.img:/a/b/");
  // A topmost folder without ":" (an NTFS chain) is part of the path.
  TFileInfo top, file;
  top.Name = "$folder_42";
  file.Parent = &top;
  file.Disk = &disk;
  EXPECT_EQ(GetEntryPath(file), "card.img:/$folder_42/");
  TFileInfo loose;
  loose.Disk = &disk;
  EXPECT_EQ(GetEntryPath(loose), "card.img:/");
}

TEST(DiskItems, TypedAccessOutsideRangeGivesNull) {
  TDiskItems items;
  TFileInfo a;
  EXPECT_EQ(items[0], nullptr);
  items.Add(&a);
  EXPECT_EQ(items.IndexOf(&a), 0);
  EXPECT_EQ(items[1], nullptr);
  EXPECT_EQ(items[-1], nullptr);
  items.Delete(0);
  EXPECT_EQ(items.Count(), 0);
}
