#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/UpdateView.h"
#include "engine/ScanJob.h"

using namespace mirel;
using namespace mirel::test;

namespace {

struct TRecorder : TUpdateTarget {
  std::vector<std::string> Events;
  void FolderFound(TDiskObject*, TFileInfo* e) override { Events.push_back("folder " + e->Name); }
  void FileFound(TDiskObject*, TFileInfo* e) override { Events.push_back("file " + e->Name); }
  void ScanProgress(TDiskObject*, int64_t done, int64_t total) override {
    Events.push_back("progress " + std::to_string(ProgressPercent(done, total)));
  }
  void ScanDone(TDiskObject*) override { Events.push_back("done"); }
};

// A scanner that publishes a fixed tree, or walks until told to stop.
class TTreeScaner : public TDiskScaner {
public:
  using TDiskScaner::TDiskScaner;
  bool Endless = false;
  void ScanForFiles() override {
    TDiskScaner::ScanForFiles();
    if (!Init()) return;
    TFileInfo* root = Disk->Catalogue.Add(TFileInfo{.Name = "root:"});
    Disk->Folders.Add(root);
    PublishFolder(root);
    TFileInfo* file = Disk->Catalogue.Add(TFileInfo{.Name = "f.txt", .Size = 10, .Parent = root});
    Disk->Files.Add(file);
    PublishFile(file);
    while (Endless && !IsStopped()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ReportProgress(1, 1);
    ReportDone();
  }
};

class ScannerBase : public ::testing::Test {
protected:
  TTempDir Tmp;
  std::unique_ptr<TDiskObject> Disk;
  TTreeScaner* Scaner = nullptr;
  void SetUp() override {
    WriteFile(Tmp / "vol.img", std::vector<uint8_t>(4096, 0));
    Disk = std::make_unique<TDiskObject>("vol.img", (Tmp / "vol.img").string(), 7);
    auto s = std::make_unique<TTreeScaner>(Disk.get());
    Scaner = s.get();
    Disk->Scaner = std::move(s);
  }
};

}  // namespace

TEST_F(ScannerBase, PublishesIntoCatalogueAndTarget) {
  TRecorder rec;
  Scaner->Sink = &rec;
  Scaner->ScanForFiles();
  EXPECT_EQ((std::vector<std::string>{"folder root:", "file f.txt", "progress 100", "done"}), rec.Events);
  ASSERT_EQ(Disk->Files.Count(), 1);
  EXPECT_EQ(Disk->Files[0]->Disk, Disk.get());
  EXPECT_FALSE(Disk->Files[0]->IsFolder);
  EXPECT_TRUE(Disk->Folders[0]->IsFolder);
  EXPECT_EQ(Disk->Folders[0]->Size, 10);
  EXPECT_EQ(GetEntryPath(*Disk->Files[0]), "vol.img:/");

  Disk->ClearCatalogue();
  EXPECT_EQ(Disk->Files.Count(), 0);
  EXPECT_EQ(Disk->Folders.Count(), 0);
  Disk->ClearCatalogue();  // an empty catalogue: nothing to do
}

TEST_F(ScannerBase, StopOfOneScanDoesNotReachTheNext) {
  TJobEvents events;
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_EQ(TScanJob(*Disk, {}, events).Run(stopped.get_token()).End, TJobEnd::Cancelled);
  EXPECT_FALSE(Scaner->IsStopped());
  EXPECT_EQ(TScanJob(*Disk, {}, events).Run({}).End, TJobEnd::Completed);
  EXPECT_EQ(Disk->Files.Count(), 1);
}

TEST_F(ScannerBase, StopRequestEndsARunningScan) {
  Scaner->Endless = true;
  TJobEvents events;
  TScanJob job(*Disk, {}, events);
  job.Start();
  while (Disk->Files.Count() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  job.RequestStop();
  EXPECT_EQ(job.Wait().End, TJobEnd::Cancelled);
  EXPECT_EQ(Disk->Files.Count(), 1);  // what was found stays
}

TEST_F(ScannerBase, InitFailsOnMissingSource) {
  TDiskObject gone("gone", (Tmp / "missing.img").string(), 7);
  EXPECT_FALSE(gone.OpenError.empty());
  EXPECT_EQ(gone.FileSystem, fsNone);
  EXPECT_EQ(gone.Scaner, nullptr);
  TTreeScaner s(&gone);
  EXPECT_FALSE(s.Init());
}

TEST(ProgressPercent, TotalsAndEdges) {
  EXPECT_EQ(ProgressPercent(0, 0), 100);
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(INT64_MAX / 2, INT64_MAX), 49);
}
