#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "Engine.h"
#include "NtfsTestImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "core/UpdateView.h"
#include "ntfs/NtfsTypes.h"

using namespace mirel;
using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

std::set<std::string> Paths(const TDiskItems& items) {
  std::set<std::string> out;
  for (TFileInfo* e : items) out.insert(GetRelativePath(*e));
  return out;
}

// Every original file of a fixture, by path (named streams left out).
std::vector<std::string> Originals(const std::string& image) {
  std::vector<std::string> out;
  fs::path root = Fixture(image + ".files");
  for (const auto& f : fs::recursive_directory_iterator(root))
    if (f.is_regular_file() && f.path().filename().string().find(':') == std::string::npos)
      out.push_back(fs::relative(f.path(), root).string());
  return out;
}

}  // namespace

TEST(NtfsScan, QuickScanRebuildsTheFolderChains) {
  TScannedImage s(Fixture("ntfs.img"));
  EXPECT_EQ(
      Paths(s.Disk->Files),
      (std::set<std::string>{"$folder_88/orphan.txt", "bigstream.txt", "deleted-root.bin", "docs/Report 2024.docx",
                             "docs/notes.txt", "docs/sub/inner.txt", "frag-a.bin", "packed/compressible.txt",
                             "packed/small.txt", "photos/Holiday photo with a long name.jpg", "photos/camera.jpg",
                             "photos/tiny.txt", "sparse.bin", "streams.txt", "victim.bin", "Ünïcödé name.txt"}));
  // Folders appear once each, only as parents, up to the root named after
  // the volume and its label.
  EXPECT_EQ(Paths(s.Disk->Folders),
            (std::set<std::string>{"ntfs.img: (NTFSVOL)", "$folder_88", "docs", "docs/sub", "packed", "photos"}));
  EXPECT_EQ(s.Disk->Folders.Count(), 6);
  for (TFileInfo* e : s.Disk->Files) EXPECT_TRUE(e->FsInfo->IsDeleted()) << e->Name;
  TFileInfo* docs = s.Folder("docs");
  ASSERT_TRUE(docs);
  EXPECT_TRUE(docs->FsInfo->IsDeleted());
  EXPECT_TRUE(IsVolumeRoot(*docs->Parent));
  EXPECT_FALSE(s.Folder("photos")->FsInfo->IsDeleted());
  // The parent record now holds a file: the folder is known by its number.
  TFileInfo* reused = s.Folder("$folder_88");
  ASSERT_TRUE(reused);
  EXPECT_EQ(reused->Parent, docs->Parent);
  // Folder sizes add up what was found below them.
  EXPECT_EQ(s.Folder("docs")->Size, 120000 + 300 + 25000);

  TFileInfo* report = s.File("docs/Report 2024.docx");
  EXPECT_EQ(report->Size, 120000);
  EXPECT_EQ(report->Attributes & faArchive, faArchive);
  EXPECT_EQ(FileTimeToIso(report->LastWriteTime), "2024-05-17T10:20:30Z");
  EXPECT_EQ(s.File("packed/compressible.txt")->Attributes & faCompressed, faCompressed);
}

TEST(NtfsScan, ConditionFollowsTheClusterBitmap) {
  TScannedImage s(Fixture("ntfs.img"));
  EXPECT_EQ(s.File("deleted-root.bin")->Condition, 100);
  EXPECT_EQ(s.File("photos/tiny.txt")->Condition, 100);  // resident
  EXPECT_EQ(s.File("sparse.bin")->Condition, 100);       // holes do not count
  EXPECT_EQ(s.File("packed/compressible.txt")->Condition, 100);
  // A live file grew over part of these after they were deleted.
  EXPECT_EQ(s.File("victim.bin")->Condition, 75);  // 4 of 16 clusters taken
  EXPECT_EQ(s.File("$folder_88/orphan.txt")->Condition, 0);
}

TEST(NtfsScan, LongModeListsLiveFilesToo) {
  TScannedImage s(Fixture("ntfs.img"), false);
  for (const char* live :
       {"README.TXT", "keep/live.txt", "keep/frag-b.bin", "packed/kept.txt", "reuser.txt", "$MFT", "$Secure"}) {
    TFileInfo* e = s.File(live);
    ASSERT_TRUE(e) << live;
    EXPECT_FALSE(e->FsInfo->IsDeleted()) << live;
    EXPECT_EQ(e->Condition, 100) << live;
  }
  EXPECT_TRUE(s.File("docs/sub/inner.txt"));
  EXPECT_TRUE(s.Folder("keep"));
  EXPECT_FALSE(s.File("keep"));  // folders are never listed as files
}

TEST(NtfsScan, IntactFilesReadBackByteExact) {
  for (const std::string image : {"ntfs", "ntfs-c512"}) {
    TScannedImage s(Fixture(image + ".img"), false);
    int checked = 0;
    for (const std::string& path : Originals(image)) {
      std::string want = ReadWholeFile(Fixture(image + ".files") / path);
      TFileInfo* e = s.File(path == "gone/orphan.txt" ? "$folder_88/orphan.txt" : path);
      ASSERT_TRUE(e) << image << ": " << path;
      if (e->Condition < 100) continue;
      EXPECT_EQ(s.ReadAll(e), want) << image << ": " << path;
      // Odd-sized reads cross cluster, unit and run boundaries anywhere.
      EXPECT_EQ(s.ReadAll(e, {}, 777), want) << image << ": " << path;
      ++checked;
    }
    EXPECT_GE(checked, 20) << image;
  }
}

TEST(NtfsScan, NamedStreamsCarryTheirOwnSizes) {
  TCliRun scan = RunMirel({"scan", Fixture("ntfs.img").string(), "--format", "json"});
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  EXPECT_NE(scan.Out.find("\"path\":\"streams.txt\""), std::string::npos);
  EXPECT_NE(scan.Out.find("\"streams\":[{\"name\":\"extra\",\"size\":18}]"), std::string::npos) << scan.Out;
  EXPECT_NE(scan.Out.find("\"streams\":[{\"name\":\"big\",\"size\":3000}]"), std::string::npos) << scan.Out;

  // Longer than the main data (100 bytes) and shorter (500): each read whole.
  TCliRun big = RunMirel({"cat", Fixture("ntfs.img").string(), "bigstream.txt", "--stream", "big"});
  EXPECT_EQ(big.Status, 0) << big.Err;
  EXPECT_EQ(big.Out, ReadWholeFile(Fixture("ntfs.files") / "bigstream.txt:big"));
  TCliRun extra = RunMirel({"cat", Fixture("ntfs.img").string(), "streams.txt", "--stream", "EXTRA"});
  EXPECT_EQ(extra.Status, 0) << extra.Err;
  EXPECT_EQ(extra.Out, ReadWholeFile(Fixture("ntfs.files") / "streams.txt:extra"));
  TCliRun none = RunMirel({"cat", Fixture("ntfs.img").string(), "streams.txt", "--stream", "nothing"});
  EXPECT_EQ(none.Status, 2);
  EXPECT_NE(none.Err.find("streams.txt: no stream nothing"), std::string::npos) << none.Err;
  EXPECT_EQ(none.Out, "");
}

TEST(NtfsScan, VolumeLabelAndFreeSpace) {
  StartEngine();
  for (auto [image, label, cluster] : {std::tuple{"ntfs.img", "NTFSVOL", 4096}, {"ntfs-c512.img", "SMALLCL", 512}}) {
    TDiskObject d(image, Fixture(image).string(), 0);
    EXPECT_EQ(d.FileSystem, fsNtfs);
    EXPECT_EQ(d.VolumeLabel, label);
    EXPECT_GT(d.FreeSize, d.TotalSize / 2) << image;  // the fixtures are mostly empty
    EXPECT_LT(d.FreeSize, d.TotalSize) << image;
    EXPECT_EQ(d.FreeSize % cluster, 0) << image;
  }
}

namespace {

struct TReports : TUpdateTarget {
  void ScanProgress(TDiskObject* disk, int64_t done, int64_t total) override {
    ++Progress;
    Done = done;
    Total = total;
    if (StopAt && Progress == StopAt) Stop.request_stop();
  }
  void ScanDone(TDiskObject*) override { ++Ended; }
  int StopAt = 0, Progress = 0, Ended = 0;
  int64_t Done = 0, Total = 0;
  std::stop_source Stop;
};

// Runs the volume's scanner with its reports and stop request going through r.
void ScanWith(TDiskObject& disk, TReports& r) {
  disk.Scaner->Sink = &r;
  disk.Scaner->Stop = r.Stop.get_token();
  disk.Scaner->ScanForFiles();
  disk.Scaner->Sink = nullptr;
}

}  // namespace

TEST(NtfsScan, ProgressStopAndEndReports) {
  StartEngine();
  TDiskObject whole("ntfs.img", Fixture("ntfs.img").string(), 0);
  TReports all;
  ScanWith(whole, all);
  EXPECT_EQ(all.Ended, 1);
  EXPECT_EQ(all.Done, all.Total);
  EXPECT_GE(all.Progress, 1);
  const int found = whole.Files.Count();
  EXPECT_GT(found, 10);

  // Stopped at the first report: nothing is reported after it, and what was
  // catalogued until then stays whole.
  TReports stopped;
  stopped.StopAt = 1;
  ScanWith(whole, stopped);
  EXPECT_EQ(stopped.Ended, 1);
  EXPECT_EQ(stopped.Progress, 1);
  EXPECT_LE(whole.Files.Count(), found);
  for (TFileInfo* e : whole.Files) EXPECT_FALSE(e->Name.empty());

  TReports early;
  early.Stop.request_stop();
  ScanWith(whole, early);
  EXPECT_EQ(early.Ended, 1);
  EXPECT_EQ(early.Progress, 0);
  EXPECT_EQ(whole.Files.Count(), 0);

  TTempDir tmp;
  fs::copy_file(Fixture("ntfs.img"), tmp / "gone.img");
  TDiskObject gone("gone.img", (tmp / "gone.img").string(), 0);
  fs::remove(tmp / "gone.img");
  TReports none;
  ScanWith(gone, none);
  EXPECT_EQ(none.Ended, 0);
  EXPECT_EQ(none.Progress, 0);
}
