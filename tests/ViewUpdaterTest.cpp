#include <gtest/gtest.h>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "workers/ViewUpdater.h"

using namespace mirel;
using namespace mirel::test;

namespace {

struct TRecordingView : TUpdateView {
  std::vector<std::string> Folders;
  int Rows = -1, Found = -1, Percent = -1, Done = 0, Cleared = 0;
  void FolderAdded(TFileInfo* f) override { Folders.push_back(f->Name); }
  void RowCountChanged(int rows) override { Rows = rows; }
  void FoundCountChanged(int found) override { Found = found; }
  void ScanPercentChanged(int p) override { Percent = p; }
  void ScanDone() override { ++Done; }
  void ViewsCleared() override { ++Cleared; }
};

// Scans disk with its reports going to target.
void ScanInto(TDiskObject* disk, TUpdateTarget& target) {
  disk->Scaner->Sink = &target;
  disk->Scaner->ScanForFiles();
  disk->Scaner->Sink = nullptr;
}

}  // namespace

TEST(ViewUpdater, ScanOfTheShownVolumeReachesTheViewOthersDoNot) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat16.img").string(), Fixture("fat12.img").string()}, false);
  TDiskObject* shown = manager.DiskList[0];
  TDiskObject* other = manager.DiskList[1];
  TViewUpdater bridge;
  TRecordingView view;
  bridge.SetView(&view);
  bridge.SetDisk(shown);
  EXPECT_EQ(view.Cleared, 1);
  bridge.SetDisk(shown);  // the same volume again: nothing to clear
  EXPECT_EQ(view.Cleared, 1);
  TFilter all;
  all.Mask = WildcardToPattern("*.*");
  all.Flags = qfMask;
  bridge.Query.SetFilter(all);
  bridge.Query.AddDisk(shown);
  ScanInto(other, bridge);
  EXPECT_TRUE(view.Folders.empty());
  EXPECT_EQ(view.Done, 0);

  ScanInto(shown, bridge);
  ASSERT_FALSE(view.Folders.empty());
  EXPECT_EQ(view.Folders.front().find(':') != std::string::npos, true);  // the root comes first
  EXPECT_EQ(view.Found, shown->Files.Count());
  EXPECT_EQ(view.Rows, bridge.Query.ResultCount());
  EXPECT_GT(view.Rows, 0);
  EXPECT_EQ(view.Done, 1);
  EXPECT_EQ(view.Percent, 0);  // reset when the scan is done
}

TEST(ViewUpdater, RebuiltTreeHoldsOnlyFoldersLeadingToAcceptedFiles) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat16.img").string()}, false);
  TDiskObject* disk = manager.DiskList[0];
  TViewUpdater bridge;
  bridge.SetDisk(disk);
  ASSERT_TRUE(ScanVolume(*disk));
  TFilter f;
  f.Mask = WildcardToPattern("*.txt");
  f.Flags = qfMask;
  bridge.Query.SetFilter(f);
  std::vector<std::string> names;
  for (TFileInfo* p : bridge.FoldersToShow()) names.push_back(p->Name);
  ASSERT_GE(names.size(), 3u);
  EXPECT_NE(names[0].find(':'), std::string::npos);  // parents before children
  EXPECT_NE(std::find(names.begin(), names.end(), "$ub"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "wrap"), names.end());  // holds no .txt

  f.Mask = "nothing-matches-this";
  bridge.Query.SetFilter(f);
  EXPECT_TRUE(bridge.FoldersToShow().empty());
}
