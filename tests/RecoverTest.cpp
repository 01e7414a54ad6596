#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

#include "Engine.h"
#include "FatImage.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryManager.h"
#include "engine/RecoveryJob.h"
#include "platform/FileTime.h"

using namespace mirel;
using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

struct TScanned {
  std::string Path;
  bool Folder = false, Deleted = false;
  int64_t Size = 0;
  int Condition = 0;
  std::string Created, Modified;
};

// The entries `mirel scan --format json` lists.
std::vector<TScanned> ScanJson(const std::string& image, bool all = false) {
  std::vector<std::string> args{"scan", image, "--format", "json"};
  if (all) args.push_back("--all");
  TCliRun r = RunMirel(args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<TScanned> out;
  std::regex re(
      R"re(\{"path":"((?:[^"\\]|\\.)*)".*"folder":(true|false),"deleted":(true|false),"size":(-?\d+),"condition":(\d+).*"created":"([^"]*)","modified":"([^"]*)")re");
  std::istringstream in(r.Out);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, re))
      out.push_back({m[1], m[2] == "true", m[3] == "true", std::stoll(m[4]), std::stoi(m[5]), m[6], m[7]});
  }
  return out;
}

// The original of a recovered FAT path: a deleted short name lost its first
// character ("$"), so that one character is matched loosely.
fs::path Original(const fs::path& originals, const std::string& path) {
  fs::path here = originals;
  std::istringstream parts(path);
  for (std::string part; std::getline(parts, part, '/');) {
    fs::path exact = here / part;
    if (fs::exists(exact)) {
      here = exact;
      continue;
    }
    bool found = false;
    if (!part.empty() && part[0] == '$' && fs::is_directory(here)) {
      for (const auto& e : fs::directory_iterator(here)) {
        std::string n = e.path().filename().string();
        if (n.size() == part.size() && strcasecmp(n.c_str() + 1, part.c_str() + 1) == 0) {
          here = e.path();
          found = true;
          break;
        }
      }
    }
    if (!found) return {};
  }
  return here;
}

int64_t MtimeOf(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mtim.tv_sec;
}

int64_t IsoToUnix(const std::string& iso) {
  std::tm tm{};
  strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return timegm(&tm);
}

// Recovers the whole image and checks every intact deleted file: bytes,
// size, modification time, place in the tree.
void RecoverAndCompare(const std::string& image) {
  SCOPED_TRACE(image);
  TTempDir dest;
  TCliRun r = RunMirel({"recover", Fixture(image).string(), "--to", dest.Path().string()});
  EXPECT_NE(r.Err.find("0 skipped"), std::string::npos) << r.Err;
  fs::path originals = Fixture(image.substr(0, image.size() - 4) + ".files");
  int compared = 0;
  for (const TScanned& e : ScanJson(Fixture(image).string())) {
    if (e.Folder || e.Condition != 100) continue;
    fs::path got = dest.Path() / e.Path;
    ASSERT_TRUE(fs::exists(got)) << e.Path;
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(got)), e.Size) << e.Path;
    EXPECT_EQ(MtimeOf(got), IsoToUnix(e.Modified)) << e.Path;
    fs::path orig = Original(originals, e.Path);
    if (orig.empty()) continue;  // made by hand in the image, no original kept
    EXPECT_EQ(ReadWholeFile(got), ReadWholeFile(orig)) << e.Path;
    ++compared;
  }
  EXPECT_GE(compared, 5);
}

}  // namespace

TEST(Recover, FatImagesComeBackByteExactInTheirTree) {
  for (const char* image : {"fat12.img", "fat16.img", "fat32.img", "fat32c8.img"}) RecoverAndCompare(image);
}

TEST(Recover, NtfsImagesComeBackByteExactInTheirTree) {
  for (const char* image : {"ntfs.img", "ntfs-c512.img"}) RecoverAndCompare(image);
}

TEST(Recover, PartitionsAndBackupBootSectorsRecoverLikeTheirVolumes) {
  for (const char* image : {"disk-mbr.img#1", "disk-mbr.img#2", "disk-gpt-nohdr.img#2", "fat32-noboot.img"}) {
    SCOPED_TRACE(image);
    TTempDir a;
    RunMirel({"recover", Fixture("").string() + image, "--to", a.Path().string()});
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(a.Path())) files.push_back(fs::relative(e.path(), a.Path()));
    EXPECT_GE(files.size(), 5u);
  }
  // The same listing as the stand-alone volume.
  auto part = ScanJson(Fixture("disk-mbr.img").string() + "#5");
  auto whole = ScanJson(Fixture("fat12.img").string());
  ASSERT_EQ(part.size(), whole.size());
  for (size_t i = 0; i < part.size(); ++i) EXPECT_EQ(part[i].Path, whole[i].Path);
}

TEST(Recover, FoldersWithoutMatchingFilesAreNotCreated) {
  TTempDir dest;
  TCliRun r = RunMirel({"recover", Fixture("fat16.img").string(), "--to", dest.Path().string(), "--mask", "*.jpg"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<std::string> got;
  for (const auto& e : fs::recursive_directory_iterator(dest.Path()))
    got.push_back(fs::relative(e.path(), dest.Path()).string());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"photos", "photos/Holiday photo with a long name.jpg"}));
}

TEST(Recover, NamedEntriesAndExistingFilePolicies) {
  TTempDir dest;
  const std::string img = Fixture("fat16.img").string();
  const std::string to = dest.Path().string();
  TCliRun r = RunMirel({"recover", img, "--to", to, "deleted-root.bin", "$ocs"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(fs::exists(dest / "deleted-root.bin"));
  EXPECT_TRUE(fs::exists(dest.Path() / "$ocs" / "$ub" / "$nner.txt"));

  WriteFile(dest / "deleted-root.bin", {'m', 'i', 'n', 'e'});
  r = RunMirel({"recover", img, "--to", to, "deleted-root.bin"});  // no terminal: skip
  EXPECT_NE(r.Err.find("skipped " + to + "/deleted-root.bin: a file of that name exists"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadWholeFile(dest / "deleted-root.bin"), "mine");

  r = RunMirel({"recover", img, "--to", to, "--on-exists", "rename", "deleted-root.bin"});
  EXPECT_EQ(fs::file_size(dest / "deleted-root (2).bin"), 4100u);
  EXPECT_EQ(ReadWholeFile(dest / "deleted-root.bin"), "mine");

  r = RunMirel({"recover", img, "--to", to, "--on-exists", "overwrite", "deleted-root.bin"});
  EXPECT_EQ(fs::file_size(dest / "deleted-root.bin"), 4100u);

  r = RunMirel({"recover", img, "--to", to, "no/such/file"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("no entry found at no/such/file"), std::string::npos) << r.Err;
  EXPECT_EQ(RunMirel({"recover", img}).Status, 1);
  EXPECT_EQ(RunMirel({"recover", img, "--to", to, "--on-exists", "clobber"}).Status, 1);
}

TEST(Recover, StopRequestAndMissingDestinationStillEndTheRun) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat32c8.img").string()}, false);
  TDiskObject* disk = manager.DiskList[0];
  ASSERT_NE(disk, nullptr);
  ASSERT_TRUE(ScanVolume(*disk));
  TFileInfo* big = nullptr;
  for (TFileInfo* f : disk->Files)
    if (!big || f->Size > big->Size) big = f;
  ASSERT_NE(big, nullptr);
  TDiskItems items;
  items.Add(big);
  items.Add(big);  // never reached: the stop comes first
  TTempDir dest;
  struct TEvents : TJobEvents {
    std::stop_source Stop;
    int Done = 0;
    std::vector<TRecoveredFile> Results;
    void FileStarted(const std::string&, TFileInfo*) override { Stop.request_stop(); }
    void FileRecovered(const TRecoveredFile& r) override { Results.push_back(r); }
    void JobDone(const TJobResult&) override { ++Done; }
  } events;
  std::vector<TRecoveredFile>& results = events.Results;
  TRecoveryJob job(std::move(items), {.DestDir = dest.Path().string()}, events);
  EXPECT_EQ(job.Run(events.Stop.get_token()).End, TJobEnd::Cancelled);
  EXPECT_EQ(events.Done, 1);
  EXPECT_TRUE(results.empty());  // stopped before its file was even created
  EXPECT_TRUE(fs::is_empty(dest.Path()));

  // A destination that is not a folder: nothing written, each file failed
  // with the reason, the end still told.
  TDiskItems one;
  one.Add(big);
  TRecoveryJob nowhere(std::move(one), {.DestDir = (dest / "missing").string()}, events);
  EXPECT_EQ(nowhere.Run({}).End, TJobEnd::Completed);
  EXPECT_EQ(events.Done, 2);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TRecoveryStatus::Failed);
  EXPECT_EQ(results[0].Reason, "destination folder " + (dest / "missing").string() + ": No such file or directory");
  EXPECT_FALSE(fs::exists(dest / "missing"));
}

TEST(Recover, ReadOnlyEntryLosesWriteBitsAndKeepsTimes) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat16.img").string()}, false);
  TDiskObject* disk = manager.DiskList[0];
  ASSERT_TRUE(ScanVolume(*disk));
  TFileInfo* file = nullptr;
  for (TFileInfo* f : disk->Files)
    if (f->Name == "deleted-root.bin") file = f;
  ASSERT_NE(file, nullptr);
  file->Attributes |= faReadOnly;
  TDiskItems items;
  items.Add(file);
  TTempDir dest;
  TJobEvents events;
  TRecoveryJob job(std::move(items), {.DestDir = dest.Path().string()}, events);
  job.Start();
  EXPECT_EQ(job.Wait().End, TJobEnd::Completed);
  struct stat st {};
  ASSERT_EQ(::stat((dest / "deleted-root.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(st.st_mtim.tv_sec, FileTimeToUnix(file->LastWriteTime));
  EXPECT_EQ(job.Worker().TotalPercent, 100);
}

TEST(Recover, NamedStreamsReachAnNtfsDestinationAsStreams) {
  if (geteuid() != 0 || !fs::exists("/dev/fuse")) GTEST_SKIP() << "needs root and /dev/fuse for an ntfs-3g mount";
  TTempDir tmp;
  std::string img = (tmp / "dest.img").string(), mnt = (tmp / "mnt").string();
  fs::create_directory(mnt);
  std::string make = "truncate -s 8M '" + img + "' && mkntfs -q -F -f '" + img + "' >/dev/null 2>&1 && ntfs-3g '" +
                     img + "' '" + mnt + "'";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "cannot mount a new NTFS volume with ntfs-3g here";
  struct TUnmount {
    std::string Dir;
    ~TUnmount() {
      if (std::system(("umount '" + Dir + "' 2>/dev/null").c_str()) != 0)
        std::fprintf(stderr, "cannot unmount %s; it is left mounted\n", Dir.c_str());
    }
  } unmount{mnt};

  TCliRun r = RunMirel({"recover", Fixture("ntfs.img").string(), "--to", mnt, "streams.txt"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  char value[256];
  ssize_t n = ::getxattr((mnt + "/streams.txt").c_str(), "user.extra", value, sizeof value);
  ASSERT_GT(n, 0) << std::strerror(errno);
  EXPECT_EQ(std::string(value, static_cast<size_t>(n)), ReadWholeFile(Fixture("ntfs.files") / "streams.txt:extra"));
  // Creation time and the archive bit go where an NTFS destination keeps them.
  uint64_t crtime = 0;
  ASSERT_EQ(::getxattr((mnt + "/streams.txt").c_str(), "system.ntfs_crtime", &crtime, sizeof crtime), 8);
  std::string created;
  for (const TScanned& e : ScanJson(Fixture("ntfs.img").string()))
    if (e.Path == "streams.txt") created = e.Created;
  EXPECT_EQ(FileTimeToIso(crtime), created);
  uint32_t attrib = 0;
  ASSERT_EQ(::getxattr((mnt + "/streams.txt").c_str(), "system.ntfs_attrib_be", &attrib, sizeof attrib), 4);
  EXPECT_EQ(__builtin_bswap32(attrib), static_cast<uint32_t>(faArchive));

  // There the stream is a stream: nothing to say of it.
  EXPECT_EQ(r.Err.find("stream extra"), std::string::npos) << r.Err;
}

TEST(Recover, EntriesOfOneNameInOneFolderAllComeBackAndAreReported) {
  // A file deleted twice, and two deleted folders of one name.
  TTempDir tmp;
  TFatImage img(12, 100);
  img.PutAll(img.RootPos(), {ShortEntry("\xE5"
                                        "EPORT  TXT",
                                        0x20, 5, 5),
                             ShortEntry("\xE5"
                                        "EPORT  TXT",
                                        0x20, 6, 6),
                             ShortEntry("\xE5"
                                        "OCS       ",
                                        0x10, 7, 0),
                             ShortEntry("\xE5"
                                        "OCS       ",
                                        0x10, 8, 0)});
  img.Fill(img.ClusterPos(5), {'f', 'i', 'r', 's', 't'});
  img.Fill(img.ClusterPos(6), {'s', 'e', 'c', 'o', 'n', 'd'});
  img.Put(img.ClusterPos(7), ShortEntry("\xE5"
                                        "       TXT",
                                        0x20, 9, 1));
  img.Put(img.ClusterPos(8), ShortEntry("\xE5"
                                        "       TXT",
                                        0x20, 10, 2));
  img.Fill(img.ClusterPos(9), {'a'});
  img.Fill(img.ClusterPos(10), {'b', 'b'});
  img.Save(tmp / "dup.img");
  TTempDir dest;
  TCliRun r = RunMirel({"recover", (tmp / "dup.img").string(), "--to", dest.Path().string(), "--report",
                        (tmp / "report.jsonl").string()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadWholeFile(dest / "$EPORT.TXT"), "first");
  EXPECT_EQ(ReadWholeFile(dest / "$EPORT (2).TXT"), "second");
  EXPECT_EQ(ReadWholeFile(dest / "$OCS/$.TXT"), "a");
  EXPECT_EQ(ReadWholeFile(dest / "$OCS (2)/$.TXT"), "bb");
  EXPECT_NE(r.Err.find("$EPORT (2).TXT: saved as $EPORT (2).TXT: another entry in its folder has the same name"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("4 files written"), std::string::npos) << r.Err;
  const std::string report = ReadWholeFile(tmp / "report.jsonl");
  EXPECT_NE(report.find("\"path\":\"$EPORT.TXT\",\"dest\":\"" + (dest / "$EPORT.TXT").string() + "\""),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("\"path\":\"$EPORT.TXT\",\"dest\":\"" + (dest / "$EPORT (2).TXT").string() + "\""),
            std::string::npos)
      << report;

  // A second run into the same folder meets the same names, and the policy
  // for existing files decides for each.
  r = RunMirel({"recover", (tmp / "dup.img").string(), "--to", dest.Path().string(), "--on-exists", "skip"});
  EXPECT_NE(r.Err.find("0 files written"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("4 skipped"), std::string::npos) << r.Err;
}
