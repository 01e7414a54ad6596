#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/Arena.h"
#include "core/Catalogue.h"
#include "core/EntryName.h"

using namespace mirel;

TEST(EntryName, KeepsEveryLengthWholeAndTerminated) {
  // Around the inside limit, and names far past it.
  for (size_t len : {0, 1, 14, 15, 16, 17, 255, 70000}) {
    std::string s(len, 'x');
    for (size_t i = 0; i < len; ++i) s[i] = static_cast<char>('a' + i % 26);
    const TEntryName n(s);
    EXPECT_EQ(n.size(), len);
    EXPECT_EQ(n.empty(), len == 0);
    EXPECT_EQ(n.View(), s);
    EXPECT_EQ(std::strlen(n.c_str()), len) << len;
    EXPECT_EQ(std::string(n), s);
  }
  // Multi-byte UTF-8 and embedded separators pass through untouched.
  const TEntryName u("Fotografía – año 2024.jpeg");
  EXPECT_EQ(u, "Fotografía – año 2024.jpeg");
  EXPECT_EQ(u.find_last_of('.'), u.size() - 5);
  EXPECT_EQ(u.substr(u.size() - 4), "jpeg");
  EXPECT_EQ(u + "/x", "Fotografía – año 2024.jpeg/x");
  EXPECT_EQ("C: " + TEntryName("a"), "C: a");
  std::ostringstream os;
  os << TEntryName("short") << '|' << TEntryName(std::string(20, 'L'));
  EXPECT_EQ(os.str(), "short|" + std::string(20, 'L'));
}

TEST(EntryName, AssignmentsCopiesAndMovesKeepTheirOwnCharacters) {
  TEntryName a("a name that is far too long to fit inside");
  // Assigning a part of itself: the new name is made before the old goes.
  a = a.View().substr(2, 20);
  EXPECT_EQ(a, "name that is far too");
  a = a.View().substr(5);
  EXPECT_EQ(a, "that is far too");

  TEntryName b = a;
  b += " and longer still";
  EXPECT_EQ(a, "that is far too");
  EXPECT_EQ(b, "that is far too and longer still");

  TEntryName c(std::move(b));
  EXPECT_EQ(c, "that is far too and longer still");
  EXPECT_TRUE(b.empty());  // NOLINT(bugprone-use-after-move): a moved-from name is empty
  c = std::move(a);
  EXPECT_EQ(c, "that is far too");
  c = c;  // NOLINT(misc-redundant-expression)
  EXPECT_EQ(c, "that is far too");
  EXPECT_LT(TEntryName("abc"), TEntryName("abd"));
  EXPECT_LT(TEntryName("abc"), TEntryName(std::string(40, 'b')));
}

TEST(EntryName, LongNamesLiveInTheCatalogueAndCopiesOutliveIt) {
  std::vector<TEntryName> copies;
  {
    TCatalogue c;
    std::vector<TFileInfo*> made;
    // Enough long names to fill several storage blocks.
    for (int i = 0; i < 6000; ++i) {
      TFileInfo t;
      t.Name = (i % 2 ? "Photo from the trip " : "f") + std::to_string(i);
      made.push_back(c.Add(std::move(t)));
      EXPECT_TRUE(t.Name.empty());  // NOLINT(bugprone-use-after-move): the template gave its name away
    }
    for (int i = 0; i < 6000; ++i) {
      const TEntryName& n = made[static_cast<size_t>(i)]->Name;
      ASSERT_EQ(n, (i % 2 ? "Photo from the trip " : "f") + std::to_string(i));
      EXPECT_EQ(n.StorageBytes(), 0U);  // already in the catalogue: nothing left to move
    }
    copies.push_back(made[1]->Name);
    TEntryName moved = std::move(made[3]->Name);
    copies.push_back(moved);
    c.Discard(made[5]);
    EXPECT_TRUE(made[5]->Name.empty());
  }
  // The catalogue's storage is gone; copies made from it own their characters.
  EXPECT_EQ(copies[0], "Photo from the trip 1");
  EXPECT_EQ(copies[1], "Photo from the trip 3");
}

TEST(EntryName, ArenaKeepsRecordsAlignedBetweenUnalignedNames) {
  TByteArena arena;
  for (int i = 0; i < 20000; ++i) {
    const size_t chars = 17 + static_cast<size_t>(i % 13);
    void* name = arena.Allocate(chars, 1);
    std::memset(name, 'n', chars);
    void* rec = arena.Allocate(40);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(rec) % TByteArena::ALIGN, 0U) << i;
    std::memset(rec, 'r', 40);
    // The name written before is not overlapped by the record.
    EXPECT_EQ(static_cast<const char*>(name)[chars - 1], 'n');
  }
  EXPECT_GT(arena.BlockCount(), 1U);
}
