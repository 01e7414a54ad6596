// The tree the mount serves: every file it serves can be looked up by the
// name it lists, whatever the catalogue holds (duplicate names, names no
// file system takes, names too long to look up, folders in a loop).
#include <gtest/gtest.h>

#include <set>

#include "mount/MountTree.h"

using namespace mirel;

namespace {

// An NTFS-like record that says its data is encrypted.
struct TEncrypted : TFsInfo {
  bool IsDeleted() const override { return true; }
  bool IsEncrypted() const override { return true; }
};

// Hand-made catalogue entries, owned here.
class TTestCatalogue {
public:
  TFileInfo* Folder(const std::string& name, TFileInfo* parent) { return Add(name, parent, true, Folders); }
  TFileInfo* File(const std::string& name, TFileInfo* parent, int64_t size = 10) {
    TFileInfo* f = Add(name, parent, false, Files);
    f->Size = size;
    return f;
  }
  TDiskItems Folders, Files;

private:
  TFileInfo* Add(const std::string& name, TFileInfo* parent, bool folder, TDiskItems& list) {
    auto e = std::make_unique<TFileInfo>();
    e->Name = name;
    e->Parent = parent;
    e->IsFolder = folder;
    list.Add(e.get());
    Owned.push_back(std::move(e));
    return Owned.back().get();
  }
  std::vector<std::unique_ptr<TFileInfo>> Owned;
};

// "path" for every node, "path/" for folders.
std::set<std::string> Paths(const TMountTree& tree) {
  std::set<std::string> out;
  for (uint32_t n = 1; n < tree.Count(); ++n) out.insert(tree.PathOf(n) + (tree[n].IsFolder ? "/" : ""));
  return out;
}

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

TEST(MountTree, NamesAreSafeNumberedAndShortEnoughToLookUp) {
  EXPECT_EQ(ServedName("a/b.txt"), "a_b.txt");
  EXPECT_EQ(ServedName(".."), "_..");
  EXPECT_EQ(ServedName("photo.jpg", 2), "photo (2).jpg");
  EXPECT_EQ(ServedName(".profile", 3), ".profile (3)");

  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "\xC3\xA9";  // 400 bytes of "é"
  for (int n : {1, 2, 12}) {
    const std::string name = ServedName(longName + ".jpeg", n);
    SCOPED_TRACE(n);
    EXPECT_LE(name.size(), MOUNT_NAME_MAX);
    EXPECT_GT(name.size(), MOUNT_NAME_MAX - 4);
    EXPECT_TRUE(ValidUtf8(name));
    EXPECT_EQ(name.substr(name.size() - 5), ".jpeg");
    if (n > 1) {
      EXPECT_NE(name.find(" (" + std::to_string(n) + ").jpeg"), std::string::npos);
    }
  }
  // An "extension" that long is part of the name and is cut with it.
  const std::string dotted = ServedName("x." + std::string(300, 'e'));
  EXPECT_EQ(dotted.size(), MOUNT_NAME_MAX);
}

TEST(MountTree, DuplicateNamesInAFolderAreToldApart) {
  TTestCatalogue c;
  TFileInfo* root = c.Folder("vol.img:", nullptr);
  TFileInfo* docs = c.Folder("docs", root);
  c.File("a.txt", docs);
  c.File("a.txt", docs);
  c.File("a (2).txt", docs);  // a name the numbering would give
  c.File("x/y", docs);
  c.File("x_y", docs);
  // A folder of a file's name: the file keeps the name, as recovery writes files first.
  TFileInfo* sub = c.Folder("a.txt", docs);
  c.File("inner", sub);
  TFileInfo* secret = c.File("secret.doc", root);
  secret->FsInfo = std::make_unique<TEncrypted>();

  const TMountTree tree(c.Folders, c.Files, {});
  EXPECT_EQ(Paths(tree), (std::set<std::string>{"/docs/", "/docs/a.txt", "/docs/a (2).txt", "/docs/a (2) (2).txt",
                                                "/docs/a (3).txt/", "/docs/a (3).txt/inner", "/docs/x_y",
                                                "/docs/x_y (2)", "/secret.doc.efs"}));
  EXPECT_EQ(tree.FileCount(), 7u);
  // The first of equal names keeps it; each path finds its own entry.
  EXPECT_EQ(tree[*tree.Find("/docs/a.txt")].Entry, c.Files[0]);
  EXPECT_EQ(tree[*tree.Find("/docs/a (2).txt")].Entry, c.Files[1]);
  EXPECT_EQ(tree[*tree.Find("docs//a (3).txt/")].Entry, sub);
  for (uint32_t n = 0; n < tree.Count(); ++n) {
    EXPECT_EQ(tree.Find(tree.PathOf(n)), n) << tree.PathOf(n);
    if (tree[n].Entry) {
      EXPECT_EQ(tree.NodeOf(tree[n].Entry), n);
    }
  }
  EXPECT_EQ(tree.Find("/"), TMountTree::TOP);
  EXPECT_EQ(tree[TMountTree::TOP].Entry, root);
  EXPECT_FALSE(tree.Find("/docs/nothing"));
  EXPECT_FALSE(tree.Find("/docs/x_y/below"));
}

TEST(MountTree, OnlyAcceptedFilesAndTheFoldersAboveThemAreServed) {
  TTestCatalogue c;
  TFileInfo* root = c.Folder("vol.img:", nullptr);
  TFileInfo* a = c.Folder("a", root);
  TFileInfo* b = c.Folder("b", a);
  TFileInfo* empty = c.Folder("empty", root);
  c.File("live.txt", empty);
  c.File("deep.txt", c.Folder("c", b));
  // A folder the volume no longer links anywhere, and one whose chain loops.
  TFileInfo* lost = c.Folder("lost", nullptr);
  c.File("found.txt", lost);
  TFileInfo* loop1 = c.Folder("loop1", nullptr);
  TFileInfo* loop2 = c.Folder("loop2", loop1);
  loop1->Parent = loop2;
  c.File("in-loop.txt", loop1);

  const TMountTree tree(c.Folders, c.Files, [](const TFileInfo& e) { return e.Name != "live.txt"; });
  EXPECT_EQ(Paths(tree), (std::set<std::string>{"/a/", "/a/b/", "/a/b/c/", "/a/b/c/deep.txt", "/lost/",
                                                "/lost/found.txt", "/loop1/", "/loop1/in-loop.txt", "/loop1/loop2/"}));
  EXPECT_EQ(tree.TotalBytes(), 30);
  EXPECT_FALSE(tree.NodeOf(empty));
}
