#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/RecoveryManager.h"
#include "engine/RecoveryJob.h"

namespace fs = std::filesystem;
using namespace mirel;
using namespace mirel::test;

namespace {

// Notes the recovery's events in their order; answers an existing file with
// Answer, and asks the job to stop at the file named StopAt.
struct TRecorder : TJobEvents {
  TRecoveryJob* Job = nullptr;
  std::string StopAt;
  TOnExists Answer = TOnExists::Skip;
  std::vector<std::string> Events;
  std::vector<TRecoveredFile> Results;
  TJobResult Result;

  void FileStarted(const std::string&, TFileInfo* e) override {
    Events.push_back("start " + e->Name);
    if (e->Name == StopAt) Job->RequestStop();
  }
  TExistsAnswer FileExists(const std::string& path) override {
    Events.push_back("exists " + fs::path(path).filename().string());
    return {Answer};
  }
  void FileRecovered(const TRecoveredFile& r) override {
    Events.push_back("done " + r.Entry->Name);
    Results.push_back(r);
  }
  void JobDone(const TJobResult& r) override {
    Events.push_back("end");
    Result = r;
  }
};

class RecoveryJob : public ::testing::Test {
protected:
  void SetUp() override {
    StartEngine();
    Manager = std::make_unique<TRecoveryManager>(std::vector<std::string>{Fixture("fat16.img").string()}, false);
    Disk = Manager->DiskList[0];
    ASSERT_TRUE(ScanVolume(*Disk));
  }
  TFileInfo* Entry(const std::string& path) const {
    for (const TDiskItems* list : {&Disk->Files, &Disk->Folders})
      for (TFileInfo* e : *list)
        if (GetRelativePath(*e) == path) return e;
    return nullptr;
  }
  TDiskItems Items(const std::vector<std::string>& paths) const {
    TDiskItems items;
    for (const std::string& p : paths)
      if (TFileInfo* e = Entry(p)) items.Add(e);
    return items;
  }
  std::unique_ptr<TRecoveryManager> Manager;
  TDiskObject* Disk = nullptr;
  TTempDir Dest;
};

}  // namespace

TEST_F(RecoveryJob, EachFileIsStartedThenReportedAndTheEndComesOnceLast) {
  TRecorder events;
  TRecoveryJob job(Items({"deleted-root.bin", "$ocs"}), {.DestDir = Dest.Path().string()}, events);
  ASSERT_EQ(job.Worker().Items.Count(), 2);
  job.Start();
  EXPECT_EQ(job.Wait().End, TJobEnd::Completed);
  EXPECT_EQ(events.Result.End, TJobEnd::Completed);
  // The folder's three files follow the single one, each started before it is reported.
  ASSERT_EQ(events.Events.size(), 9u);
  for (size_t i = 0; i + 1 < events.Events.size(); i += 2) {
    ASSERT_EQ(events.Events[i].rfind("start ", 0), 0u) << events.Events[i];
    EXPECT_EQ(events.Events[i + 1], "done " + events.Events[i].substr(6));
  }
  EXPECT_EQ(events.Events.back(), "end");
  for (const TRecoveredFile& r : events.Results) {
    EXPECT_EQ(r.Status, TRecoveryStatus::Complete) << r.VolumePath << ": " << r.Reason;
    EXPECT_FALSE(r.Sha256.empty()) << r.VolumePath;
  }
  EXPECT_EQ(ReadWholeFile(Dest / "deleted-root.bin").size(), 4100u);
  EXPECT_TRUE(fs::exists(Dest / "$ocs" / "$ub" / "$nner.txt"));
  EXPECT_EQ(job.Worker().FilesDone, 4);
  EXPECT_EQ(job.Worker().TotalPercent, 100);
}

TEST_F(RecoveryJob, ExistingFilesAreAskedAboutThroughTheEvents) {
  WriteFile(Dest / "deleted-root.bin", {'o', 'l', 'd'});
  TRecorder events;
  events.Answer = TOnExists::Rename;
  TRecoveryJob job(Items({"deleted-root.bin"}), {.DestDir = Dest.Path().string(), .Hash = false}, events);
  EXPECT_EQ(job.Run({}).End, TJobEnd::Completed);
  EXPECT_EQ(events.Events, (std::vector<std::string>{"start deleted-root.bin", "exists deleted-root.bin",
                                                     "done deleted-root.bin", "end"}));
  ASSERT_EQ(events.Results.size(), 1u);
  EXPECT_EQ(events.Results[0].Status, TRecoveryStatus::Complete);
  EXPECT_TRUE(events.Results[0].Sha256.empty());  // not asked for
  EXPECT_EQ(fs::path(events.Results[0].Dest).filename(), "deleted-root (2).bin");
  EXPECT_EQ(ReadWholeFile(Dest / "deleted-root.bin"), "old");
}

TEST_F(RecoveryJob, StopFromAnEventEndsTheRunAsCancelled) {
  TRecorder events;
  TRecoveryJob job(Items({"deleted-root.bin", "$ocs/$otes.txt", "photos/$mall.txt"}), {.DestDir = Dest.Path().string()},
                   events);
  events.Job = &job;
  events.StopAt = "$otes.txt";
  job.Start();
  EXPECT_EQ(job.Wait().End, TJobEnd::Cancelled);
  EXPECT_EQ(events.Result.End, TJobEnd::Cancelled);
  // The first file came back whole; the run ended at the second, before its data.
  ASSERT_GE(events.Events.size(), 3u);
  EXPECT_EQ(events.Events[0], "start deleted-root.bin");
  EXPECT_EQ(events.Events[1], "done deleted-root.bin");
  EXPECT_EQ(events.Events[2], "start $otes.txt");
  EXPECT_EQ(events.Events.back(), "end");
  EXPECT_EQ(std::count(events.Events.begin(), events.Events.end(), "end"), 1);
  EXPECT_EQ(std::count(events.Events.begin(), events.Events.end(), "start $mall.txt"), 0);
  EXPECT_FALSE(fs::exists(Dest / "$otes.txt"));
  EXPECT_FALSE(fs::exists(Dest / "$mall.txt"));
}
