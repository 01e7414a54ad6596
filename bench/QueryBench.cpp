// Cost of installing filters over a large catalogue, and what caching the
// compiled mask terms saves over compiling them again for every name.
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/DiskObject.h"
#include "query/QueryObject.h"

using namespace mirel;
using TClock = std::chrono::steady_clock;

namespace {

double MsSince(TClock::time_point start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

}  // namespace

int main() {
  constexpr int kFiles = 200000, kFolders = 2000;
  TDiskObject disk("bench", "/nonexistent/query-bench", 7);
  std::vector<std::unique_ptr<TFileInfo>> entries;
  const char* names[] = {"IMG_%05d.JPG", "Holiday photo %d.jpeg", "report_%d.docx", "notes%d.txt", "archive.%d.tar.gz",
                         "README%d",     "screenshot %d.png",     "data-%d.csv"};
  for (int i = 0; i < kFolders; ++i) {
    entries.push_back(std::make_unique<TFileInfo>());
    entries.back()->Name = "folder" + std::to_string(i);
    entries.back()->IsFolder = true;
    disk.Folders.Add(entries.back().get());
  }
  for (int i = 0; i < kFiles; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, names[i % 8], i);
    entries.push_back(std::make_unique<TFileInfo>());
    TFileInfo& e = *entries.back();
    e.Name = name;
    e.Size = (i * 7919LL) % 5000000;
    e.Condition = i % 3 ? 100 : 40;
    e.Parent = disk.Folders[i % kFolders];
    e.LastWriteTime = UnixToFileTime(1600000000 + i * 60LL);
    disk.Files.Add(&e);
  }

  TQueryObject query;
  query.AddDisk(&disk);
  std::printf("catalogue: %d folders, %d files\n", kFolders, kFiles);

  struct {
    const char* label;
    TFilter filter;
  } cases[] = {
      {"no criteria", {}},
      {"mask *.jpg;*.png;report", {.Mask = WildcardToPattern("*.jpg;*.png;report"), .Flags = qfMask}},
      {"mask *.* and good", {.Mask = WildcardToPattern("*.*"), .MinCondition = 100, .Flags = qfMask | qfCondition}},
      {"size > 1000 KB", {.Size = 1024000, .Flags = qfSize | qfSizeGreater}},
      {"date range (one year)",
       {.DateFrom = EncodeDateTime(2021, 1, 1), .DateTo = EncodeDateTime(2021, 12, 31), .Flags = qfDate}},
      {"folder criterion", {.Flags = qfFolder, .Folder = disk.Folders[7]}},
  };
  for (auto& c : cases) {
    query.ClearResults();
    auto start = TClock::now();
    query.SetFilter(c.filter);
    double ms = MsSince(start);
    start = TClock::now();
    query.SetFilter(c.filter);
    double again = MsSince(start);
    std::printf("%-28s install %8.2f ms  (%6.1f ns/entry, %6d results)  same filter again %.4f ms\n", c.label, ms,
                ms * 1e6 / (kFiles + kFolders), query.ResultCount(), again);
  }

  // The matcher alone: cached terms against compiling every term per name.
  TRegExCalc matcher;
  matcher.IgnoreCase = true;
  matcher.Terms = SplitMaskTerms(WildcardToPattern("*.jpg;*.png;report"));
  int hits = 0;
  auto start = TClock::now();
  for (TFileInfo* e : disk.Files) hits += matcher.MatchList(e->Name);
  double cached = MsSince(start);
  int hitsCompiled = 0;
  start = TClock::now();
  for (TFileInfo* e : disk.Files) {
    for (const std::string& term : matcher.Terms) {
      if (matcher.Compile(term) && matcher.Match(e->Name)) {
        ++hitsCompiled;
        break;
      }
    }
  }
  double compiled = MsSince(start);
  std::printf("matcher, 3 terms: cached %.1f ns/name, compiled per name %.1f ns/name (%d = %d matches)\n",
              cached * 1e6 / kFiles, compiled * 1e6 / kFiles, hits, hitsCompiled);
  return hits == hitsCompiled ? 0 : 1;
}
