#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "engine/ScanJob.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// Checks the order of a scan's events as they come: every entry's folder
// before it, progress never going back, the job's end once and last.
struct TOrderChecker : TJobEvents {
  TDiskObject* Disk = nullptr;
  std::set<TFileInfo*> Folders;
  int Files = 0, OrphanEntries = 0, ForeignEvents = 0, ProgressBack = 0, ScanEnds = 0, JobEnds = 0, AfterEnd = 0;
  int64_t LastPercent = -1;
  TJobResult Result;

  void Saw(TDiskObject* disk) {
    if (disk != Disk) ++ForeignEvents;
    if (JobEnds > 0) ++AfterEnd;
  }
  void FolderFound(TDiskObject* disk, TFileInfo* e) override {
    Saw(disk);
    if (e->Parent && !Folders.count(e->Parent)) ++OrphanEntries;
    Folders.insert(e);
  }
  void FileFound(TDiskObject* disk, TFileInfo* e) override {
    Saw(disk);
    ++Files;
    if (e->Parent && !Folders.count(e->Parent)) ++OrphanEntries;
  }
  void ScanProgress(TDiskObject* disk, int64_t done, int64_t total) override {
    Saw(disk);
    const int percent = ProgressPercent(done, total);
    if (percent < LastPercent) ++ProgressBack;
    LastPercent = percent;
  }
  void ScanDone(TDiskObject* disk) override {
    Saw(disk);
    ++ScanEnds;
  }
  void JobDone(const TJobResult& result) override {
    ++JobEnds;
    Result = result;
  }
};

std::vector<std::string> Listing(const TDiskObject& disk) {
  std::vector<std::string> out;
  for (TFileInfo* f : disk.Files) out.push_back(GetRelativePath(*f));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(ScanJob, EventsComeInOrderOnEveryFileSystem) {
  StartEngine();
  for (const char* image : {"fat12.img", "fat16.img", "fat32c8.img", "ntfs.img"}) {
    TRecoveryManager manager({Fixture(image).string()}, false);
    TDiskObject* disk = manager.DiskList[0];
    ASSERT_NE(disk, nullptr) << image;
    for (bool quick : {true, false}) {
      TOrderChecker events;
      events.Disk = disk;
      TScanJob job(*disk, {.Quick = quick, .LostFolders = !quick}, events);
      job.Start();
      EXPECT_EQ(job.Wait().End, TJobEnd::Completed) << image;
      EXPECT_TRUE(job.Finished());
      EXPECT_EQ(events.Result.End, TJobEnd::Completed) << image;
      EXPECT_EQ(events.JobEnds, 1) << image;
      EXPECT_EQ(events.ScanEnds, 1) << image;
      EXPECT_EQ(events.AfterEnd, 0) << image;
      EXPECT_EQ(events.ForeignEvents, 0) << image;
      EXPECT_EQ(events.OrphanEntries, 0) << image;
      EXPECT_EQ(events.ProgressBack, 0) << image;
      // Every catalogued file was told, once.
      EXPECT_GT(events.Files, 0) << image;
      EXPECT_EQ(events.Files, disk->Files.Count()) << image;
    }
  }
}

TEST(ScanJob, ModeDecidesWhatIsListedAndARescanStartsAfresh) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat16.img").string()}, false);
  TDiskObject& disk = *manager.DiskList[0];
  TJobEvents nobody;
  ASSERT_EQ(TScanJob(disk, {.Quick = true}, nobody).Run({}).End, TJobEnd::Completed);
  const std::vector<std::string> quick = Listing(disk);
  EXPECT_EQ(std::count(quick.begin(), quick.end(), "keep/live.txt"), 0);
  ASSERT_EQ(TScanJob(disk, {.Quick = false}, nobody).Run({}).End, TJobEnd::Completed);
  const std::vector<std::string> full = Listing(disk);
  EXPECT_EQ(std::count(full.begin(), full.end(), "keep/live.txt"), 1);
  EXPECT_GT(full.size(), quick.size());
  ASSERT_EQ(TScanJob(disk, {.Quick = true}, nobody).Run({}).End, TJobEnd::Completed);
  EXPECT_EQ(Listing(disk), quick);
}

namespace {

// Asks its job to stop at the first file found, and notes when.
struct TStopAtFirstFile : TJobEvents {
  TScanJob* Job = nullptr;
  std::chrono::steady_clock::time_point Asked;
  int Files = 0, JobEnds = 0;
  void FileFound(TDiskObject*, TFileInfo*) override {
    if (++Files == 1) {
      Asked = std::chrono::steady_clock::now();
      Job->RequestStop();
    }
  }
  void JobDone(const TJobResult&) override { ++JobEnds; }
};

}  // namespace

TEST(ScanJob, StopEndsTheScanPromptlyAndKeepsWhatWasFound) {
  StartEngine();
  for (const char* image : {"fat32c8.img", "ntfs.img"}) {
    TRecoveryManager manager({Fixture(image).string()}, false);
    TDiskObject& disk = *manager.DiskList[0];
    ASSERT_TRUE(ScanVolume(disk, {.Quick = false}));
    const int all = disk.Files.Count();

    TStopAtFirstFile events;
    TScanJob job(disk, {.Quick = false}, events);
    events.Job = &job;
    job.Start();
    const TJobResult& result = job.Wait();
    const auto took = std::chrono::steady_clock::now() - events.Asked;
    EXPECT_EQ(result.End, TJobEnd::Cancelled) << image;
    EXPECT_EQ(events.JobEnds, 1) << image;
    EXPECT_LT(took, std::chrono::seconds(1)) << image;
    EXPECT_GE(disk.Files.Count(), 1) << image;
    EXPECT_LT(disk.Files.Count(), all) << image;
    EXPECT_EQ(disk.Files.Count(), events.Files) << image;
  }
}

TEST(ScanJob, TwoVolumesScannedAtOnceKeepTheirOwnModesAndEvents) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat16.img").string(), Fixture("ntfs.img").string()}, false);
  TDiskObject& fat = *manager.DiskList[0];
  TDiskObject& ntfs = *manager.DiskList[1];
  // What each gives alone: the FAT volume Long, the NTFS one Quick.
  ASSERT_TRUE(ScanVolume(fat, {.Quick = false}));
  const std::vector<std::string> fatAlone = Listing(fat);
  ASSERT_TRUE(ScanVolume(ntfs, {.Quick = true}));
  const std::vector<std::string> ntfsAlone = Listing(ntfs);

  for (int round = 0; round < 3; ++round) {
    TOrderChecker fatEvents, ntfsEvents;
    fatEvents.Disk = &fat;
    ntfsEvents.Disk = &ntfs;
    TScanJob fatJob(fat, {.Quick = false}, fatEvents);
    TScanJob ntfsJob(ntfs, {.Quick = true}, ntfsEvents);
    fatJob.Start();
    ntfsJob.Start();
    EXPECT_EQ(fatJob.Wait().End, TJobEnd::Completed);
    EXPECT_EQ(ntfsJob.Wait().End, TJobEnd::Completed);
    EXPECT_EQ(Listing(fat), fatAlone);
    EXPECT_EQ(Listing(ntfs), ntfsAlone);
    for (const TOrderChecker* e : {&fatEvents, &ntfsEvents}) {
      EXPECT_EQ(e->ForeignEvents, 0);
      EXPECT_EQ(e->JobEnds, 1);
      EXPECT_EQ(e->OrphanEntries, 0);
    }
    EXPECT_EQ(fatEvents.Files, fat.Files.Count());
    EXPECT_EQ(ntfsEvents.Files, ntfs.Files.Count());
  }
}

TEST(ScanJob, AVolumeWithoutAFileSystemFailsWithTheReason) {
  StartEngine();
  TTempDir tmp;
  WriteFile(tmp / "blank.img", std::vector<uint8_t>(size_t{64} * 1024, 0));
  TDiskObject blank("blank.img", (tmp / "blank.img").string(), 7);
  ASSERT_EQ(blank.Scaner, nullptr);
  TOrderChecker events;
  events.Disk = &blank;
  const TJobResult result = TScanJob(blank, {}, events).Run({});
  EXPECT_EQ(result.End, TJobEnd::Failed);
  EXPECT_EQ(result.Failure, "no FAT, exFAT or NTFS file system found");
  EXPECT_EQ(events.JobEnds, 1);
  EXPECT_EQ(events.Result.End, TJobEnd::Failed);
}
