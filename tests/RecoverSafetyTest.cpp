// What a recovery leaves in its destination when things go wrong: a stop, a
// full or read-only disk, a folder that cannot be made, symbolic links planted
// in the destination, a destination on the scanned image itself. Only whole
// files stand under their own names, and the report says what happened.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "Engine.h"
#include "NtfsTestImage.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/RecoveryManager.h"
#include "engine/RecoveryJob.h"

using namespace mirel;
using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

struct TReportLine {
  std::string Path, Status, Reason;
  std::optional<std::string> Dest, Sha256, Address;
  int64_t Size = -1, Written = -1;
  std::vector<std::pair<int64_t, int64_t>> Missing;
  // Each named stream: name, where it went ("as"), and its place.
  std::vector<std::array<std::string, 3>> Streams;
  std::string Note;
};

// A strict reader of the report's flat objects; nullopt for anything else.
class TLineParser {
public:
  explicit TLineParser(const std::string& s) : S(s) {}

  std::optional<TReportLine> Parse() {
    TReportLine r;
    if (!Eat('{')) return std::nullopt;
    for (bool first = true; !Eat('}'); first = false) {
      if (!first && !Eat(',')) return std::nullopt;
      std::optional<std::string> key = String();
      if (!key || !Eat(':')) return std::nullopt;
      bool ok = true;
      if (*key == "path")
        ok = Into(r.Path);
      else if (*key == "status")
        ok = Into(r.Status);
      else if (*key == "reason")
        ok = Into(r.Reason);
      else if (*key == "dest")
        ok = Null() || (r.Dest = String()).has_value();
      else if (*key == "sha256")
        ok = Null() || (r.Sha256 = String()).has_value();
      else if (*key == "address")
        ok = Null() || (r.Address = String()).has_value();
      else if (*key == "size")
        ok = Number(r.Size);
      else if (*key == "written")
        ok = Number(r.Written);
      else if (*key == "missing")
        ok = Ranges(r.Missing);
      else if (*key == "streams")
        ok = Streams(r.Streams);
      else if (*key == "note")
        ok = Into(r.Note);
      else
        return std::nullopt;
      if (!ok) return std::nullopt;
    }
    return I == S.size() ? std::optional(r) : std::nullopt;
  }

private:
  bool Eat(char c) {
    if (I < S.size() && S[I] == c) return ++I, true;
    return false;
  }
  bool Null() {
    if (S.compare(I, 4, "null") != 0) return false;
    I += 4;
    return true;
  }
  bool Number(int64_t& v) {
    size_t used = 0;
    try {
      v = std::stoll(S.substr(I), &used);
    } catch (...) {
      return false;
    }
    I += used;
    return used > 0;
  }
  bool Into(std::string& out) {
    std::optional<std::string> s = String();
    if (s) out = *s;
    return s.has_value();
  }
  std::optional<std::string> String() {
    if (!Eat('"')) return std::nullopt;
    std::string out;
    while (I < S.size() && S[I] != '"') {
      const unsigned char c = static_cast<unsigned char>(S[I++]);
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (I >= S.size()) return std::nullopt;
      const char e = S[I++];
      if (e == 'u') {
        if (I + 4 > S.size()) return std::nullopt;
        out += "\\u" + S.substr(I, 4);  // kept escaped: only the shape matters here
        I += 4;
      } else if (std::string("\"\\/bfnrt").find(e) != std::string::npos) {
        out += e == '"' || e == '\\' || e == '/' ? e : '?';
      } else {
        return std::nullopt;
      }
    }
    if (!Eat('"')) return std::nullopt;
    return out;
  }
  bool Streams(std::vector<std::array<std::string, 3>>& out) {
    if (!Eat('[')) return false;
    for (bool first = true; !Eat(']'); first = false) {
      std::array<std::string, 3> s;
      if ((!first && !Eat(',')) || !Eat('{')) return false;
      static const char* const kKeys[] = {"name", "as", "dest"};
      for (size_t k = 0; k < 3; ++k) {
        std::optional<std::string> key = String();
        if (!key || *key != kKeys[k] || !Eat(':')) return false;
        if (!(k == 2 && Null()) && !Into(s[k])) return false;
        if (k < 2 && !Eat(',')) return false;
      }
      if (!Eat('}')) return false;
      out.push_back(s);
    }
    return true;
  }
  bool Ranges(std::vector<std::pair<int64_t, int64_t>>& out) {
    if (!Eat('[')) return false;
    for (bool first = true; !Eat(']'); first = false) {
      int64_t a = 0, b = 0;
      if ((!first && !Eat(',')) || !Eat('[') || !Number(a) || !Eat(',') || !Number(b) || !Eat(']')) return false;
      out.emplace_back(a, b);
    }
    return true;
  }

  const std::string& S;
  size_t I = 0;
};

std::vector<TReportLine> ReadReport(const fs::path& p) {
  std::vector<TReportLine> lines;
  std::istringstream in(ReadWholeFile(p));
  for (std::string line; std::getline(in, line);) {
    std::optional<TReportLine> r = TLineParser(line).Parse();
    EXPECT_TRUE(r.has_value()) << "does not parse: " << line;
    if (r) lines.push_back(*r);
  }
  return lines;
}

const TReportLine* Line(std::vector<TReportLine>&&, const std::string&) = delete;
const TReportLine* Line(const std::vector<TReportLine>& report, const std::string& path) {
  for (const TReportLine& r : report)
    if (r.Path == path) return &r;
  return nullptr;
}

std::string Sha256Sum(const fs::path& p) {
  std::string cmd = "sha256sum '" + p.string() + "'";
  FILE* f = ::popen(cmd.c_str(), "r");
  char buf[65] = {};
  const size_t n = f ? std::fread(buf, 1, 64, f) : 0;
  if (f) ::pclose(f);
  return std::string(buf, n);
}

// Temporary files of the writer anywhere below dir.
std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  // Files come and go while a run writes beside this walk.
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().find(".mirel-") != std::string::npos) found.push_back(it->path().string());
  return found;
}

bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

struct TUnmount {
  std::string Dir;
  ~TUnmount() { Sh("umount '" + Dir + "' 2>/dev/null"); }
};

// A FAT32 volume holding three deleted files: 10,000 bytes, 48 MiB and
// 3,000 bytes, recovered as "$mall-a.bin", "$arge.bin" and "$mall-b.bin";
// made once with mtools, originals kept beside it.
struct TLargeImage {
  TTempDir Dir;
  fs::path Image, Small1, Large, Small2;
  TLargeImage()
      : Image(Dir / "large.img"), Small1(Dir / "small-a.bin"), Large(Dir / "large.bin"), Small2(Dir / "small-b.bin") {
    const std::string d = Dir.Path().string();
    const bool made = Sh("cd '" + d +
                         "' && export MTOOLS_SKIP_CHECK=1 && truncate -s 96M large.img && "
                         "mkfs.fat -F 32 -s 1 large.img >/dev/null && head -c 10000 /dev/urandom >small-a.bin && "
                         "head -c 48M /dev/urandom >large.bin && head -c 3000 /dev/urandom >small-b.bin && "
                         "mcopy -i large.img small-a.bin large.bin small-b.bin :: && "
                         "mdel -i large.img ::small-a.bin ::large.bin ::small-b.bin");
    if (!made) throw std::runtime_error("cannot make " + Image.string());
  }
  // The recovered name of an original, its first letter lost.
  static std::string Recovered(const fs::path& original) { return "$" + original.filename().string().substr(1); }
};

const TLargeImage& LargeImage() {
  static TLargeImage image;
  return image;
}

// Every file under dir is whole: the bytes of its original in originals.
void ExpectOnlyWholeFiles(const fs::path& dir, const std::vector<fs::path>& originals) {
  EXPECT_TRUE(Leftovers(dir).empty());
  for (const auto& e : fs::directory_iterator(dir)) {
    bool matched = false;
    for (const fs::path& o : originals)
      if (e.path().filename() == TLargeImage::Recovered(o)) {
        matched = true;
        EXPECT_EQ(Sha256Sum(e.path()), Sha256Sum(o)) << e.path();
      }
    EXPECT_TRUE(matched) << e.path();
  }
}

// A copy of the FAT16 fixture cut short: deleted-root.bin keeps its first
// 2,048 bytes, wrap/$ROUND.BIN lies wholly past the end.
fs::path CutImage(const TTempDir& tmp) {
  fs::path cut = tmp / "cut.img";
  fs::copy_file(Fixture("fat16.img"), cut);
  fs::resize_file(cut, 104448);
  return cut;
}

}  // namespace

TEST(RecoverSafety, ReportLinesParseHashesMatchAndGapsAreSaid) {
  TTempDir tmp;
  const fs::path cut = CutImage(tmp), dest = tmp / "out", report = tmp / "report.jsonl";
  TCliRun r = RunMirel({"recover", cut.string(), "--to", dest.string(), "--report", report.string()});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_NE(r.Err.find("9 files written"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("2 incomplete, 0 failed, 0 skipped"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("incomplete " + (dest / "deleted-root.bin").string() + ": 2052 of 4100 bytes could not be read"),
            std::string::npos)
      << r.Err;

  const std::vector<TReportLine> lines = ReadReport(report);
  ASSERT_EQ(lines.size(), 9u);
  for (const TReportLine& l : lines) {
    SCOPED_TRACE(l.Path);
    ASSERT_TRUE(l.Dest && l.Sha256);
    EXPECT_EQ(Sha256Sum(*l.Dest), *l.Sha256);
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(*l.Dest)), l.Size);
    EXPECT_EQ(l.Status, l.Missing.empty() ? "complete" : "incomplete");
  }
  const TReportLine* root = Line(lines, "deleted-root.bin");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Written, 2048);
  EXPECT_EQ(root->Missing, (std::vector<std::pair<int64_t, int64_t>>{{2048, 2052}}));
  // What was read is there; the gap is zeros.
  const std::string got = ReadWholeFile(*root->Dest), want = ReadWholeFile(Fixture("fat16.files/deleted-root.bin"));
  EXPECT_EQ(got.substr(0, 2048), want.substr(0, 2048));
  EXPECT_EQ(got.substr(2048), std::string(2052, '\0'));
  const TReportLine* empty = Line(lines, "$mpty.txt");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(*empty->Sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  // Twice into one folder: what exists is skipped, which is no failure.
  const std::string whole = Fixture("fat16.img").string(), again = (tmp / "again").string();
  EXPECT_EQ(RunMirel({"recover", whole, "--to", again}).Status, 0);
  r = RunMirel({"recover", whole, "--to", again, "--report", report.string()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const TReportLine& l : ReadReport(report)) {
    EXPECT_EQ(l.Status, "skipped");
    EXPECT_EQ(l.Reason, "a file of that name exists");
    EXPECT_FALSE(l.Dest || l.Sha256);
  }
  // A report that cannot be written is refused before anything is.
  r = RunMirel({"recover", cut.string(), "--to", (tmp / "other").string(), "--report", (tmp / "no/such/r").string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_FALSE(fs::exists(tmp / "other"));
}

TEST(RecoverSafety, WhatStandsInTheDestinationIsNeverWrittenThrough) {
  TTempDir tmp;
  const fs::path dest = tmp / "out", outside = tmp / "outside", report = tmp / "report.jsonl";
  fs::create_directories(dest);
  fs::create_directories(outside / "folder");
  WriteFile(outside / "file", {'k', 'e', 'e', 'p'});
  // A folder symlink, a file symlink at a file's name, and a plain file where
  // a folder goes.
  fs::create_directory_symlink(outside / "folder", dest / "photos");
  fs::create_symlink(outside / "file", dest / "deleted-root.bin");
  WriteFile(dest / "$ocs", {'x'});

  TCliRun r = RunMirel({"recover", Fixture("fat16.img").string(), "--to", dest.string(), "--on-exists", "overwrite",
                        "--report", report.string()});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(fs::is_empty(outside / "folder"));
  EXPECT_EQ(ReadWholeFile(outside / "file"), "keep");
  // The symlink at the file's name was replaced, not written through.
  EXPECT_FALSE(fs::is_symlink(dest / "deleted-root.bin"));
  EXPECT_EQ(ReadWholeFile(dest / "deleted-root.bin"), ReadWholeFile(Fixture("fat16.files/deleted-root.bin")));

  const std::vector<TReportLine> lines = ReadReport(report);
  int failed = 0;
  for (const TReportLine& l : lines) {
    if (l.Path.rfind("photos/", 0) == 0) {
      EXPECT_EQ(l.Status, "failed");
      EXPECT_EQ(l.Reason, "folder " + (dest / "photos").string() + " is a symbolic link, which is not followed");
    } else if (l.Path.rfind("$ocs/", 0) == 0) {
      EXPECT_EQ(l.Status, "failed");
      EXPECT_EQ(l.Reason, "folder " + (dest / "$ocs").string() + " cannot be created: a file of that name exists");
    } else {
      EXPECT_EQ(l.Status, "complete") << l.Path << ": " << l.Reason;
    }
    failed += l.Status == "failed";
  }
  EXPECT_EQ(failed, 5);  // two photos, three files of $ocs and its subfolder
  EXPECT_NE(r.Err.find("failed " + (dest / "$ocs/$ub/$nner.txt").string() + ": folder"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(", 0 incomplete, 5 failed, 0 skipped"), std::string::npos) << r.Err;
}

TEST(RecoverSafety, FileSwappedForASymlinkBeforeFinishingLeavesItsTargetAlone) {
  StartEngine();
  TRecoveryManager manager({Fixture("fat16.img").string()}, false);
  TDiskObject* disk = manager.DiskList[0];
  ASSERT_TRUE(ScanVolume(*disk));
  TFileInfo* file = nullptr;
  for (TFileInfo* f : disk->Files)
    if (f->Name == "deleted-root.bin") file = f;
  ASSERT_NE(file, nullptr);
  // Read-only: finishing would clear write bits, and it sets size and times.
  file->Attributes |= faReadOnly;

  TTempDir tmp;
  const fs::path dest = tmp / "out", victim = tmp / "victim";
  fs::create_directory(dest);
  WriteFile(victim, {'m', 'i', 'n', 'e'});
  ::chmod(victim.c_str(), 0644);
  struct stat before {};
  ::stat(victim.c_str(), &before);

  TDiskItems items;
  items.Add(file);
  TRecoveringThread thread(std::move(items));
  thread.DestDir = dest.string();
  thread.OnDataWritten = [&](int folderFd, const std::string& tempName) {
    ASSERT_EQ(::unlinkat(folderFd, tempName.c_str(), 0), 0);
    ASSERT_EQ(::symlinkat(victim.c_str(), folderFd, tempName.c_str()), 0);
  };
  std::vector<TRecoveredFile> results;
  thread.OnFileDone = [&](const TRecoveredFile& r) { results.push_back(r); };
  thread.Execute({});

  struct stat after {};
  ::stat(victim.c_str(), &after);
  EXPECT_EQ(ReadWholeFile(victim), "mine");
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Status, TRecoveryStatus::Failed);
  EXPECT_NE(results[0].Reason.find("was replaced while it was written"), std::string::npos) << results[0].Reason;
  EXPECT_TRUE(results[0].Dest.empty());
  EXPECT_TRUE(fs::is_empty(dest));  // neither the file nor the planted link stays
}

TEST(RecoverSafety, StopDuringALargeFileRemovesItAndARerunCompletes) {
  const TLargeImage& image = LargeImage();
  StartEngine();
  TRecoveryManager manager({image.Image.string()}, false);
  TDiskObject* disk = manager.DiskList[0];
  ASSERT_TRUE(ScanVolume(*disk));
  TDiskItems items;
  TFileInfo* large = nullptr;
  for (TFileInfo* f : disk->Files) {
    items.Add(f);
    if (f->Size > (1 << 20)) large = f;
  }
  ASSERT_NE(large, nullptr);
  ASSERT_EQ(items.Count(), 3);

  TTempDir tmp;
  struct TEvents : TJobEvents {
    TFileInfo* Large = nullptr;
    std::atomic<bool> Copying{false};
    std::vector<TRecoveredFile> Results;
    void FileStarted(const std::string&, TFileInfo* e) override { Copying = e == Large; }
    void FileRecovered(const TRecoveredFile& r) override { Results.push_back(r); }
  } events;
  events.Large = large;
  std::vector<TRecoveredFile>& results = events.Results;
  TRecoveryJob job(std::move(items), {.DestDir = tmp.Path().string()}, events);
  const TRecoveringThread& thread = job.Worker();
  // Stops as soon as the large file's first bytes are on their way.
  std::jthread stopper([&](const std::stop_token& stop) {
    while (!stop.stop_requested() && !(events.Copying && thread.FilePercent > 0 && thread.FilePercent < 100))
      std::this_thread::yield();
    job.RequestStop();
  });
  job.Start();
  EXPECT_EQ(job.Wait().End, TJobEnd::Cancelled);
  stopper.request_stop();
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.back().Entry, large);
  EXPECT_EQ(results.back().Status, TRecoveryStatus::Failed);
  EXPECT_EQ(results.back().Reason, "stopped by the user");
  EXPECT_FALSE(fs::exists(tmp / TLargeImage::Recovered(image.Large)));
  ExpectOnlyWholeFiles(tmp.Path(), {image.Small1, image.Small2});

  // Ctrl+C on the command line during the large file: the run ends after
  // its summary with 130, the large file gone; a second run completes it.
  TTempDir out;
  const std::string largeTemp = "." + TLargeImage::Recovered(image.Large) + ".mirel-";
  std::jthread interrupter([&](const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      for (const std::string& temp : Leftovers(out.Path()))
        if (temp.find(largeTemp) != std::string::npos) {
          ::kill(::getpid(), SIGINT);
          return;
        }
      std::this_thread::yield();
    }
  });
  // A signal that came too late must not end the test program.
  struct sigaction quiet {
  }, old{};
  quiet.sa_handler = [](int) {};
  sigaction(SIGINT, &quiet, &old);
  TCliRun r = RunMirel({"recover", image.Image.string(), "--to", out.Path().string()});
  interrupter.request_stop();
  interrupter.join();
  sigaction(SIGINT, &old, nullptr);
  EXPECT_EQ(r.Status, 130) << r.Err;
  EXPECT_NE(r.Err.find("; stopped by the user"), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(out / TLargeImage::Recovered(image.Large)));
  ExpectOnlyWholeFiles(out.Path(), {image.Small1, image.Small2});
  r = RunMirel({"recover", image.Image.string(), "--to", out.Path().string()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  ExpectOnlyWholeFiles(out.Path(), {image.Small1, image.Large, image.Small2});
  EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 3);
}

TEST(RecoverSafety, FullThenReadOnlyDestination) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const TLargeImage& image = LargeImage();
  TTempDir tmp;
  const std::string mnt = (tmp / "small").string(), report = (tmp / "report.jsonl").string();
  fs::create_directory(mnt);
  if (!Sh("mount -t tmpfs -o size=16m tmpfs '" + mnt + "'")) GTEST_SKIP() << "cannot mount a tmpfs here";
  TUnmount unmount{mnt};

  TCliRun r = RunMirel({"recover", image.Image.string(), "--to", mnt, "--report", report});
  EXPECT_EQ(r.Status, 3) << r.Err;
  const std::string large = TLargeImage::Recovered(image.Large);
  EXPECT_NE(r.Err.find("failed " + mnt + "/" + large + ": write failed: No space left on device"), std::string::npos)
      << r.Err;
  std::vector<TReportLine> lines = ReadReport(report);
  ASSERT_EQ(lines.size(), 3u);
  const TReportLine* l = Line(lines, large);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->Status, "failed");
  EXPECT_FALSE(l->Dest || l->Sha256);
  ExpectOnlyWholeFiles(mnt, {image.Small1, image.Small2});

  // With room, a rerun writes what is missing and skips what is there.
  ASSERT_TRUE(Sh("mount -o remount,size=80m '" + mnt + "'"));
  r = RunMirel({"recover", image.Image.string(), "--to", mnt, "--report", report});
  EXPECT_EQ(r.Status, 0) << r.Err;
  lines = ReadReport(report);
  l = Line(lines, large);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->Status, "complete");
  ExpectOnlyWholeFiles(mnt, {image.Small1, image.Large, image.Small2});

  // Read-only: every file fails, nothing existing is touched.
  ASSERT_TRUE(Sh("mount -o remount,ro '" + mnt + "'"));
  r = RunMirel({"recover", image.Image.string(), "--to", mnt, "--on-exists", "overwrite", "--report", report});
  EXPECT_EQ(r.Status, 3) << r.Err;
  for (const TReportLine& line : ReadReport(report)) {
    EXPECT_EQ(line.Status, "failed");
    EXPECT_NE(line.Reason.find("Read-only file system"), std::string::npos) << line.Reason;
  }
  ExpectOnlyWholeFiles(mnt, {image.Small1, image.Large, image.Small2});
}

TEST(RecoverSafety, DestinationOnAFuseMountOfTheImageIsRefused) {
  if (geteuid() != 0 || !fs::exists("/dev/fuse")) GTEST_SKIP() << "needs root and /dev/fuse for an ntfs-3g mount";
  TTempDir tmp;
  const fs::path img = tmp / "copy.img", mnt = tmp / "mnt";
  fs::copy_file(Fixture("ntfs.img"), img);
  fs::create_directory(mnt);
  if (!Sh("ntfs-3g '" + img.string() + "' '" + mnt.string() + "'")) GTEST_SKIP() << "cannot mount with ntfs-3g here";
  TUnmount unmount{mnt.string()};
  const std::string before = RunMirel({"scan", img.string(), "--format", "json"}).Out;
  ASSERT_FALSE(before.empty());

  TCliRun r = RunMirel({"recover", img.string(), "--to", (mnt / "rescued/deep").string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("lies on a file system mounted from " + img.string()), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(mnt / "rescued"));
  // The report is held to the same rule.
  TTempDir elsewhere;
  r = RunMirel({"recover", img.string(), "--to", elsewhere.Path().string(), "--report", (mnt / "r.jsonl").string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
  EXPECT_FALSE(fs::exists(mnt / "r.jsonl"));
  EXPECT_EQ(RunMirel({"scan", img.string(), "--format", "json"}).Out, before);
}

TEST(RecoverSafety, NamesReachTheTerminalWithoutControlCharacters) {
  // NTFS names may hold any character but "/" and NUL.
  TNtfsImageCopy img;
  img.WriteRecord(40,
                  TRecordBuilder().StdInfo(0x20).FileName(5, "esc\x1b[31m.txt").Resident(0x80, "", {'h', 'i'}).Build());
  TTempDir tmp;
  WriteFile(tmp / "esc\x1b[31m.txt", {'x'});
  TCliRun r = RunMirel({"recover", img.Path().string(), "--to", tmp.Path().string(), "--all", "esc\x1b[31m.txt"});
  EXPECT_NE(r.Err.find("skipped " + tmp.Path().string() + "/esc?[31m.txt: a file of that name exists"),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(r.Err.find('\x1b'), std::string::npos);
}
