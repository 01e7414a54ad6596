// Checksums on request: scan reads every listed file, recover reads back
// what it wrote; both must agree with the standard tools on the originals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "workers/Digests.h"

using namespace mirel;
using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

// The digest a coreutils tool gives for a file.
std::string ToolDigest(const std::string& tool, const fs::path& file) {
  TTempDir dir;
  const std::string cmd = tool + " '" + file.string() + "' > '" + (dir / "out").string() + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  const std::string out = ReadWholeFile(dir / "out");
  return out.substr(0, out.find(' '));
}

std::string JsonField(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const size_t at = line.find(key);
  if (at == std::string::npos) return {};
  const size_t from = at + key.size();
  return line.substr(from, line.find('"', from) - from);
}

}  // namespace

TEST(Hash, NamesAreCheckedAndKeptInOrder) {
  EXPECT_EQ(ParseHashNames("sha256,md5"), (std::vector<std::string>{"sha256", "md5"}));
  EXPECT_FALSE(ParseHashNames("md5,md5"));
  EXPECT_FALSE(ParseHashNames("crc32"));
  EXPECT_FALSE(ParseHashNames("md5,"));
  EXPECT_EQ(RunMirel({"scan", Fixture("fat16.img").string(), "--hash", "sha512"}).Status, 1);
  EXPECT_EQ(RunMirel({"recover", Fixture("fat16.img").string(), "--to", "/nonexistent", "--hash", "md5,md5"}).Status,
            1);
}

TEST(Hash, ScanAndRecoverAgreeWithTheToolsOnTheOriginals) {
  const fs::path originals = Fixture("fat16.files");
  const TCliRun scan =
      RunMirel({"scan", Fixture("fat16.img").string(), "--all", "--format", "json", "--hash", "md5,sha1,sha256"});
  ASSERT_EQ(scan.Status, 0) << scan.Err;
  std::istringstream in(scan.Out);
  int compared = 0;
  for (std::string line; std::getline(in, line);) {
    const std::string path = JsonField(line, "path");
    // Deleted names lose their first letter on FAT: only live files compare.
    if (line.find("\"folder\":false") == std::string::npos || line.find("\"deleted\":false") == std::string::npos ||
        !fs::is_regular_file(originals / path))
      continue;
    EXPECT_EQ(JsonField(line, "md5"), ToolDigest("md5sum", originals / path)) << path;
    EXPECT_EQ(JsonField(line, "sha1"), ToolDigest("sha1sum", originals / path)) << path;
    EXPECT_EQ(JsonField(line, "sha256"), ToolDigest("sha256sum", originals / path)) << path;
    ++compared;
  }
  EXPECT_GE(compared, 2);

  TTempDir dest;
  const TCliRun recover = RunMirel({"recover", Fixture("fat16.img").string(), "--to", (dest / "out").string(), "--all",
                                    "--hash", "sha256,md5", "--report", (dest / "report.json").string()});
  ASSERT_EQ(recover.Status, 0) << recover.Err;
  // The tagged lines on standard output check out with the tools themselves.
  WriteFile(dest / "sums", std::vector<uint8_t>(recover.Out.begin(), recover.Out.end()));
  EXPECT_EQ(std::system(("sha256sum -c --quiet '" + (dest / "sums").string() + "' >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(std::system(("md5sum -c --quiet '" + (dest / "sums").string() + "' >/dev/null 2>&1").c_str()), 0);
  std::istringstream report(ReadWholeFile(dest / "report.json"));
  int lines = 0;
  for (std::string line; std::getline(report, line); ++lines) {
    const std::string file = JsonField(line, "dest");
    ASSERT_FALSE(file.empty()) << line;
    EXPECT_EQ(JsonField(line, "md5"), ToolDigest("md5sum", file)) << line;
    EXPECT_EQ(JsonField(line, "sha256"), ToolDigest("sha256sum", file)) << line;
    EXPECT_FALSE(JsonField(line, "address").empty()) << line;
  }
  EXPECT_GT(lines, 5);
}
