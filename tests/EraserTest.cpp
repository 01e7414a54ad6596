// The eraser on volumes mounted in temporary folders: NTFS images through
// ntfs-3g, and a small tmpfs standing in for a FAT mount; skipped where such
// mounts cannot be made.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/FileSystems.h"
#include "core/StateDir.h"
#include "core/UpdateView.h"
#include "erase/EraseJournal.h"
#include "erase/TempFileRegistry.h"
#include "fat/FatEraser.h"
#include "ntfs/NtfsEraser.h"
#include "engine/EraseJob.h"
#include "workers/EraseTarget.h"

namespace fs = std::filesystem;
using namespace mirel;
using namespace mirel::test;

namespace {

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

void Put(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

bool RunShell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Whether any 64-byte piece of data, taken every 4 KiB, is still in the image.
bool ImageHoldsPieceOf(const fs::path& image, const std::string& data) {
  std::string raw = ReadWholeFile(image);
  for (size_t i = 0; i + 64 <= data.size(); i += 4096)
    if (raw.find(data.substr(i, 64)) != std::string::npos) return true;
  return false;
}

std::vector<std::string> TempNamesUnder(const fs::path& root) {
  std::vector<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string name = e.path().filename().string();
    if (IsEraserTempName(name) || name.rfind(".fuse_hidden", 0) == 0) left.push_back(e.path().string());
  }
  return left;
}

// A FUSE mount of an image in the foreground daemon's own process, so that
// unmounting can wait until every byte has reached the image.
class TFuseMount {
public:
  TFuseMount(const std::string& command, const fs::path& image, const fs::path& dir) : Dir(dir) {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
      Why = "FUSE mounts need root and /dev/fuse";
      return;
    }
    fs::create_directories(dir);
    fs::path pidFile = dir.string() + ".pid";
    std::string cmd = command + " '" + image.string() + "' '" + dir.string() + "' >/dev/null 2>&1 & echo $! >'" +
                      pidFile.string() + "'";
    if (std::system(cmd.c_str()) != 0) return;
    Pid = std::atoi(ReadWholeFile(pidFile).c_str());
    for (int i = 0; i < 200 && !Mounted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Mounted()) Why = "cannot mount with: " + command;
  }
  ~TFuseMount() { Unmount(); }
  bool Ok() const { return Why.empty() && Mounted(); }
  const std::string& WhyNot() const { return Why; }
  bool Mounted() const {
    for (const TMountEntry& m : ReadMountTable())
      if (m.MountPoint == fs::weakly_canonical(Dir).string()) return true;
    return false;
  }
  void Unmount() {
    if (Mounted()) RunShell("fusermount -u '" + Dir.string() + "'");
    for (int i = 0; Pid > 0 && i < 500 && ::kill(Pid, 0) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Pid = 0;
  }

private:
  fs::path Dir;
  int Pid = 0;
  std::string Why;
};

bool HaveTool(const std::string& tool) { return RunShell("command -v " + tool); }

// A small tmpfs of our own standing in for a mounted FAT volume: the FUSE FAT
// driver at hand hangs or overruns a full FAT16 root folder, and kernel vfat
// mounts are not available. Its inode limit plays the full folder.
struct TStandInVolume {
  TTempDir Tmp;
  fs::path Mount = Tmp / "mnt";
  std::string Live = RandomBytes(150000, 1);
  bool Mounted = false;

  std::string Make(const std::string& size = "2m") {
    if (::geteuid() != 0) return "mounting a tmpfs needs root";
    fs::create_directories(Mount);
    if (!RunShell("mount -t tmpfs -o size=" + size + ",nr_inodes=64 tmpfs '" + Mount.string() + "'"))
      return "cannot mount a tmpfs";
    Mounted = true;
    fs::create_directories(Mount / "docs" / "deep");
    Put(Mount / "live.bin", Live);
    Put(Mount / "docs" / "kept.txt", "kept");
    return {};
  }
  ~TStandInVolume() {
    if (Mounted) RunShell("umount '" + Mount.string() + "'");
  }
};

// Points the state folder, where the eraser keeps its records, at a
// temporary one while it lives.
class TStateHome {
public:
  TStateHome() {
    if (const char* old = std::getenv("XDG_STATE_HOME")) Saved = old;
    ::setenv("XDG_STATE_HOME", Dir.Path().c_str(), 1);
  }
  ~TStateHome() {
    if (Saved)
      ::setenv("XDG_STATE_HOME", Saved->c_str(), 1);
    else
      ::unsetenv("XDG_STATE_HOME");
  }
  std::string Folder() const { return StateDir(); }
  // The records in the state folder, each as its NUL-separated paths.
  std::vector<std::string> Records() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(Folder()))
      if (e.path().filename().string().rfind("erase-", 0) == 0) found.push_back(ReadWholeFile(e.path()));
    std::sort(found.begin(), found.end());
    return found;
  }

private:
  TTempDir Dir;
  std::optional<std::string> Saved;
};

// A record like the one a killed run leaves: its files were never removed.
void LeaveRecordOfKilledRun(const std::vector<std::string>& paths) {
  TEraseJournal killed(StateDir());
  for (const std::string& p : paths) killed.Record(p, false);
}

class TCountingTarget : public TUpdateTarget {
public:
  void EraseProgress(TDiskObject*, int64_t, int64_t) override {
    ++Reports;
    if (Stop.stop_requested()) ++AfterCancel;
    if (Reports == CancelAt) Stop.request_stop();
  }
  void EraseDone(TDiskObject*) override { ++Done; }
  // Hands the reports and the stop request to eraser.
  void Watch(TDiskEraser& eraser) {
    eraser.Sink = this;
    eraser.Stop = Stop.get_token();
  }
  std::stop_source Stop;
  int CancelAt = 0;
  std::atomic<int> Reports{0}, AfterCancel{0}, Done{0};
};

}  // namespace

TEST(EraserNames, TemporaryNamesAndTheirRecognition) {
  EXPECT_EQ(EraserTempName(0), "_E100000.BAK");
  EXPECT_EQ(EraserTempName(10), "_E10000a.BAK");
  EXPECT_EQ(EraserTempName(0xFFFFF), "_E1fffff.BAK");
  EXPECT_TRUE(IsEraserTempName("_E10000a.BAK"));
  EXPECT_TRUE(IsEraserTempName("_e10000a.bak"));  // as a vfat mount may show a short name
  EXPECT_FALSE(IsEraserTempName("_E10000g.BAK"));
  EXPECT_FALSE(IsEraserTempName("_E1000000.BAK"));
  EXPECT_FALSE(IsEraserTempName("xE100000.BAK"));
  EXPECT_FALSE(IsEraserTempName("_E100000.BAT"));
}

TEST(EraserFactory, EachFileSystemGetsItsOwnEraserAndAnUnknownOneNone) {
  StartEngine();
  TStateHome state;
  TDiskObject disk("card", "", 2);
  for (uint8_t code : {fsFat12, fsFat16, fsFat32}) {
    disk.FileSystem = code;
    std::unique_ptr<TDiskEraser> e = CreateEraser(&disk, "/mnt/card");
    EXPECT_NE(dynamic_cast<TFatEraser*>(e.get()), nullptr) << int(code);
  }
  disk.FileSystem = fsNtfs;
  std::unique_ptr<TDiskEraser> ntfs = CreateEraser(&disk, "/mnt/card");
  ASSERT_NE(dynamic_cast<TNtfsEraser*>(ntfs.get()), nullptr);
  EXPECT_EQ(ntfs->Root, "/mnt/card/");
  disk.FileSystem = fsNone;
  EXPECT_EQ(CreateEraser(&disk, "/mnt/card"), nullptr);
  EXPECT_EQ(CreateEraser(nullptr, "/mnt/card"), nullptr);
}

TEST(EraseTarget, FindsTheMountOfAnImageOrAMountPointAndRefusesTheRest) {
  TTempDir tmp;
  fs::path image = tmp / "card.img", mnt = tmp / "mnt";
  Put(image, "x");
  fs::create_directories(mnt / "sub");
  const std::string img = fs::canonical(image).string(), mp = fs::canonical(mnt).string();
  fs::path table = tmp / "mountinfo";
  auto write = [&](const std::string& opts) {
    Put(table, "36 25 0:40 / " + mp + " " + opts + ",relatime - fuse " + img + " rw,user_id=0\n");
  };
  write("rw");
  TEraseTarget t;
  std::string why;
  ASSERT_TRUE(FindEraseTarget(image.string(), ReadMountTable(table.string()), t, why)) << why;
  EXPECT_EQ(t.MountPoint, mp);
  ASSERT_TRUE(FindEraseTarget(mnt.string(), ReadMountTable(table.string()), t, why)) << why;
  EXPECT_EQ(t.Source, img);

  EXPECT_FALSE(FindEraseTarget((mnt / "sub").string(), ReadMountTable(table.string()), t, why));
  EXPECT_NE(why.find("not the mount point"), std::string::npos) << why;

  write("ro");
  EXPECT_FALSE(FindEraseTarget(image.string(), ReadMountTable(table.string()), t, why));
  EXPECT_NE(why.find("read-only"), std::string::npos) << why;

  Put(table, "");
  EXPECT_FALSE(FindEraseTarget(image.string(), ReadMountTable(table.string()), t, why));
  EXPECT_NE(why.find("is not mounted"), std::string::npos) << why;
  EXPECT_FALSE(FindEraseTarget((tmp / "missing").string(), ReadMountTable(table.string()), t, why));

  // A mount tells no FAT width: the driver's first code stands for all.
  StartEngine();
  EXPECT_EQ(FileSystemOfMountType("fuse.fusefat"), fsFat12);
  EXPECT_EQ(FileSystemOfMountType("ntfs3"), fsNtfs);
  EXPECT_EQ(FileSystemOfMountType("ext4"), fsNone);
}

TEST(TempFileRegistry, SignalPathUnlinksOnlyFilesNotYetRemoved) {
  TTempDir tmp;
  Put(tmp / "a", "a");
  Put(tmp / "b", "b");
  TTempFileSlot* a = RegisterTempFile((tmp / "a").string());
  TTempFileSlot* b = RegisterTempFile((tmp / "b").string());
  ForgetTempFile(b);
  UnlinkRegisteredTempFiles();
  EXPECT_FALSE(fs::exists(tmp / "a"));
  EXPECT_TRUE(fs::exists(tmp / "b"));
  // A file recreated under a name already unlinked is not the handler's.
  Put(tmp / "a", "again");
  UnlinkRegisteredTempFiles();
  EXPECT_TRUE(fs::exists(tmp / "a"));
  ForgetTempFile(a);
  CompactTempFileRegistry();
}

TEST(EraseJournal, ARecordLeftByAKilledRunRemovesExactlyItsFilesUnderTheRoot) {
  TStateHome state;
  TTempDir volume;
  const std::string root = volume.Path().string() + "/";
  fs::create_directories(volume / "docs");
  Put(volume / "_E100000.BAK", "left by a killed run");
  Put(volume / "docs" / "_E100001.BAK", "left too");
  Put(volume / "_E123456.BAK", "the user's own");
  Put(volume / "notes.txt", "recorded, but no name the eraser gives");
  fs::create_directories(volume / "_E100002.BAK");
  LeaveRecordOfKilledRun({root + "_E100000.BAK", root + "docs/_E100001.BAK", root + "_E100002.BAK", root + "notes.txt",
                          root + "_E100009.BAK", "/elsewhere/_E100000.BAK"});
  // A run still going: its record is locked and its file stays.
  TEraseJournal live(state.Folder());
  Put(volume / "_E100003.BAK", "a live run's");
  live.Record(root + "_E100003.BAK", true);

  TEraseJournal::RemoveLeftovers(state.Folder(), root);
  EXPECT_FALSE(fs::exists(volume / "_E100000.BAK"));
  EXPECT_FALSE(fs::exists(volume / "docs" / "_E100001.BAK"));
  EXPECT_EQ(ReadWholeFile(volume / "_E123456.BAK"), "the user's own");
  EXPECT_EQ(ReadWholeFile(volume / "notes.txt"), "recorded, but no name the eraser gives");
  EXPECT_TRUE(fs::is_directory(volume / "_E100002.BAK"));
  EXPECT_EQ(ReadWholeFile(volume / "_E100003.BAK"), "a live run's");
  // The killed run's record keeps only what lies under another root.
  using namespace std::string_literals;
  EXPECT_EQ(state.Records(), (std::vector<std::string>{"/elsewhere/_E100000.BAK\0"s, root + "_E100003.BAK\0"s}));

  live.Clear();
  TEraseJournal::RemoveLeftovers(state.Folder(), "/elsewhere/");
  EXPECT_TRUE(state.Records().empty());
}

TEST(EraseCommand, RefusesWithoutConfirmationAndExplainsAnUnmountedImage) {
  TCliRun r = RunMirel({"erase", Fixture("fat12.img").string(), "--yes"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("is not mounted"), std::string::npos) << r.Err;
  TTempDir tmp;
  r = RunMirel({"erase", tmp.Path().string(), "--yes"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("not the mount point"), std::string::npos) << r.Err;
  r = RunMirel({"erase"});
  EXPECT_EQ(r.Status, 1);

  TStandInVolume v;
  if (std::string why = v.Make(); !why.empty()) GTEST_SKIP() << why;
  r = RunMirel({"erase", v.Mount.string(), "--yes"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("not a FAT, exFAT or NTFS volume"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadWholeFile(v.Mount / "live.bin"), v.Live);
}

TEST(FatEraser, FillsFreeSpaceAndEveryFolderKeepsLiveFilesAndLeavesNoTemporaryFile) {
  TStateHome state;
  TStandInVolume v;
  if (std::string why = v.Make(); !why.empty()) GTEST_SKIP() << why;
  // Left by a run that was killed, in a folder; and the user's own files
  // that merely bear such names.
  Put(v.Mount / "docs" / "deep" / "_E100007.BAK", "left");
  LeaveRecordOfKilledRun({v.Mount.string() + "/docs/deep/_E100007.BAK"});
  Put(v.Mount / "_E123456.BAK", "mine");
  Put(v.Mount / "docs" / "_E1abcde.BAK", "mine too");
  TDiskObject disk("card", "", 2);
  disk.FileSystem = fsFat16;
  TFatEraser eraser(&disk, v.Mount.string());
  TCountingTarget target;
  target.Watch(eraser);
  EXPECT_TRUE(eraser.Erase());

  EXPECT_EQ(target.Done, 1);
  EXPECT_GT(target.Reports, 0);
  // The whole free space went into the fill; the inode limit then ended the
  // folder-entry pass, which reached the nested folders.
  EXPECT_GE(eraser.BytesWritten, 2 * 1024 * 1024 - 150000 - 64 * 1024);
  EXPECT_GT(eraser.FilesCreated, 10);
  EXPECT_EQ(TempNamesUnder(v.Mount).size(), 2u);
  EXPECT_EQ(ReadWholeFile(v.Mount / "_E123456.BAK"), "mine");
  EXPECT_EQ(ReadWholeFile(v.Mount / "docs" / "_E1abcde.BAK"), "mine too");
  EXPECT_TRUE(state.Records().empty());
  EXPECT_EQ(ReadWholeFile(v.Mount / "live.bin"), v.Live);
  EXPECT_EQ(ReadWholeFile(v.Mount / "docs" / "kept.txt"), "kept");
  // Everything was given back.
  EXPECT_TRUE(RunShell("test $(df --output=used -B1 '" + v.Mount.string() + "' | tail -1) -lt 300000"));
}

TEST(FatEraser, CancelDuringTheFillStopsAtOnceAndRemovesEveryFile) {
  TStateHome state;
  TStandInVolume v;
  if (std::string why = v.Make("8m"); !why.empty()) GTEST_SKIP() << why;
  TDiskObject disk("card", "", 2);
  disk.FileSystem = fsFat16;
  TFatEraser eraser(&disk, v.Mount.string());
  eraser.ChunkClusters = 4;
  TCountingTarget target;
  target.Watch(eraser);
  target.CancelAt = 3;
  EXPECT_TRUE(eraser.Erase());

  EXPECT_EQ(target.Reports, 3);
  EXPECT_EQ(target.AfterCancel, 0);
  EXPECT_EQ(target.Done, 1);
  EXPECT_EQ(eraser.BytesWritten, 4 * 4 * 4096);
  EXPECT_EQ(eraser.FilesCreated, 1);  // no folder-entry file after the cancel
  EXPECT_TRUE(TempNamesUnder(v.Mount).empty());
  EXPECT_TRUE(state.Records().empty());
}

namespace {

// Asks its job to stop at the StopAt-th progress report.
struct TEraseEvents : TJobEvents {
  TEraseJob* Job = nullptr;
  int StopAt = 0;
  int Reports = 0, EraseEnds = 0, JobEnds = 0, AfterEnd = 0;
  TJobResult Result;
  void EraseProgress(TDiskObject*, int64_t, int64_t) override {
    if (JobEnds) ++AfterEnd;
    if (++Reports == StopAt) Job->RequestStop();
  }
  void EraseDone(TDiskObject*) override { ++EraseEnds; }
  void JobDone(const TJobResult& r) override {
    ++JobEnds;
    Result = r;
  }
};

}  // namespace

TEST(EraseJob, StopEndsTheFillAsCancelledAndLeavesNoTemporaryFile) {
  StartEngine();
  TStateHome state;
  TStandInVolume v;
  if (std::string why = v.Make("8m"); !why.empty()) GTEST_SKIP() << why;
  TDiskObject disk("card", "", 2);
  disk.FileSystem = fsFat16;
  TEraseEvents events;
  TEraseJob job(disk, v.Mount.string(), events);
  events.Job = &job;
  events.StopAt = 3;
  job.Start();
  EXPECT_EQ(job.Wait().End, TJobEnd::Cancelled);
  EXPECT_EQ(events.Result.End, TJobEnd::Cancelled);
  EXPECT_EQ(events.JobEnds, 1);
  EXPECT_EQ(events.EraseEnds, 1);
  EXPECT_EQ(events.AfterEnd, 0);
  EXPECT_EQ(events.Reports, 3);
  EXPECT_TRUE(job.Worker().Ran);
  EXPECT_GT(job.Worker().BytesWritten, 0);
  EXPECT_TRUE(TempNamesUnder(v.Mount).empty());
  EXPECT_TRUE(state.Records().empty());
  EXPECT_EQ(ReadWholeFile(v.Mount / "live.bin"), v.Live);
}

TEST(EraseJob, AVolumeMountedNowhereFailsAndItsCatalogueIsEmptied) {
  StartEngine();
  TDiskObject disk("fat16.img", Fixture("fat16.img").string(), 7);
  ASSERT_TRUE(ScanVolume(disk));
  ASSERT_GT(disk.Files.Count(), 0);
  TEraseEvents events;
  TEraseJob job(disk, "", events);
  const TJobResult result = job.Run({});
  EXPECT_EQ(result.End, TJobEnd::Failed);
  EXPECT_FALSE(result.Failure.empty());
  EXPECT_EQ(events.JobEnds, 1);
  EXPECT_EQ(events.EraseEnds, 0);
  EXPECT_FALSE(job.Worker().Ran);
  EXPECT_EQ(disk.Files.Count(), 0);
  EXPECT_EQ(disk.Folders.Count(), 0);
}

TEST(NtfsEraser, WipesDeletedDataAndRecordsOfAnImageMountedByNtfs3g) {
  StartEngine();
  TStateHome state;
  if (!HaveTool("ntfs-3g") || !HaveTool("mkntfs")) GTEST_SKIP() << "ntfs-3g is not installed";
  TTempDir tmp;
  fs::path image = tmp / "stick.img", mnt = tmp / "mnt";
  { std::ofstream(image).close(); }
  fs::resize_file(image, 8 << 20);
  ASSERT_TRUE(RunShell("mkntfs -F -q -f -L STICK '" + image.string() + "'"));
  TFuseMount fuse("ntfs-3g -o no_detach", image, mnt);
  if (!fuse.Ok()) GTEST_SKIP() << fuse.WhyNot();
  std::string live = RandomBytes(200000, 4), gone = RandomBytes(300000, 5), resident = RandomBytes(400, 6);
  fs::create_directories(mnt / "photos");
  Put(mnt / "live.bin", live);
  Put(mnt / "photos" / "gone.bin", gone);
  Put(mnt / "photos" / "note.txt", resident);
  fs::remove(mnt / "photos" / "gone.bin");
  fs::remove(mnt / "photos" / "note.txt");
  Put(mnt / "_E100003.BAK", "left by a killed run");
  LeaveRecordOfKilledRun({fs::canonical(mnt).string() + "/_E100003.BAK"});
  Put(mnt / "_E123456.BAK", "the user's own");

  // Without a terminal nothing is erased unless --yes says so.
  TCliRun r = RunMirel({"erase", image.string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("--yes"), std::string::npos) << r.Err;
  EXPECT_TRUE(fs::exists(mnt / "_E100003.BAK"));

  // The image named by a path relative to the working folder.
  const fs::path cwd = fs::current_path();
  fs::current_path(tmp.Path());
  r = RunMirel({"erase", "stick.img", "--yes"});
  fs::current_path(cwd);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("bytes written"), std::string::npos) << r.Err;
  EXPECT_EQ(TempNamesUnder(mnt), (std::vector<std::string>{(mnt / "_E123456.BAK").string()}));
  EXPECT_EQ(ReadWholeFile(mnt / "_E123456.BAK"), "the user's own");
  EXPECT_EQ(ReadWholeFile(mnt / "live.bin"), live);
  fuse.Unmount();

  EXPECT_FALSE(ImageHoldsPieceOf(image, gone));
  EXPECT_FALSE(ImageHoldsPieceOf(image, resident));
  // Nothing the scan still finds deleted gives back the old bytes.
  r = RunMirel({"scan", image.string(), "--format", "csv"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  for (const char* name : {"photos/gone.bin", "photos/note.txt"}) {
    if (r.Out.find(name) == std::string::npos) continue;
    TCliRun cat = RunMirel({"cat", image.string(), name});
    EXPECT_NE(cat.Out, name == std::string("photos/gone.bin") ? gone : resident);
  }
}

TEST(ExfatEraser, WipesDeletedDataAndEntrySetsOfAVolumeMountedByExfatFuse) {
  StartEngine();
  TStateHome state;
  if (!HaveTool("mkfs.exfat") || !HaveTool("mount.exfat-fuse") || !HaveTool("losetup"))
    GTEST_SKIP() << "exfatprogs, exfat-fuse or losetup is not installed";
  TTempDir tmp;
  fs::path image = tmp / "card.img", mnt = tmp / "mnt", loopFile = tmp / "loop";
  { std::ofstream(image).close(); }
  fs::resize_file(image, 8 << 20);
  ASSERT_TRUE(RunShell("mkfs.exfat -c 4K -L CARD '" + image.string() + "'"));
  // exfat-fuse run by root wants a block device.
  if (!RunShell("{ losetup -f --show '" + image.string() + "' >'" + loopFile.string() + "'; }"))
    GTEST_SKIP() << "no loop device";
  const std::string loop = ReadWholeFile(loopFile).substr(0, ReadWholeFile(loopFile).find('\n'));
  std::string live = RandomBytes(200000, 7), gone = RandomBytes(300000, 8);
  {
    TFuseMount fuse("mount.exfat-fuse -d", loop, mnt);
    if (!fuse.Ok()) {
      RunShell("losetup -d " + loop);
      GTEST_SKIP() << fuse.WhyNot();
    }
    fs::create_directories(mnt / "DCIM");
    Put(mnt / "live.bin", live);
    Put(mnt / "DCIM" / "gone photo with a long name.jpg", gone);
    fs::remove(mnt / "DCIM" / "gone photo with a long name.jpg");
    const TCliRun r = RunMirel({"erase", mnt.string(), "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find("exFAT"), std::string::npos) << r.Err;
    EXPECT_TRUE(TempNamesUnder(mnt).empty());
    EXPECT_EQ(ReadWholeFile(mnt / "live.bin"), live);
    fuse.Unmount();
  }
  RunShell("losetup -d " + loop);
  EXPECT_FALSE(ImageHoldsPieceOf(image, gone));
  // The deleted file's entry set was taken by the eraser's own files.
  const TCliRun scan = RunMirel({"scan", image.string(), "--format", "csv"});
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  EXPECT_EQ(scan.Out.find("gone photo"), std::string::npos) << scan.Out;
}
