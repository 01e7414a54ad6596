#include <gtest/gtest.h>

#include <regex>

#include "TestSupport.h"
#include "core/DebugLog.h"

using namespace mirel;
using namespace mirel::test;

namespace {

struct TLogTo {
  explicit TLogTo(const std::filesystem::path& p) : Old(DebugLogPath()) { SetDebugLogPath(p.string()); }
  ~TLogTo() { SetDebugLogPath(Old); }
  std::string Old;
};

}  // namespace

TEST(DebugLog, LineFormatAndAppending) {
  TTempDir tmp;
  TLogTo to(tmp / "debug.log");
  WriteDebugLog("%s: unable to read FAT sector; Sector Number : %d; Offset : %d", "FatScaner.GetNextCluster", 7, 3584);
  MIREL_ASSERT(1 + 1 == 3);
  std::string text = ReadWholeFile(tmp / "debug.log");
  std::regex line1(
      R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] FatScaner\.GetNextCluster: unable to read FAT sector; Sector Number : 7; Offset : 3584\n)");
  EXPECT_TRUE(std::regex_search(text, line1)) << text;
  EXPECT_NE(text.find("] --- Assert Error --- Message: \"1 + 1 == 3\", ErrorAddr: "), std::string::npos) << text;
}

TEST(DebugLog, StartRemovesTheLogOfAnEarlierRunAndUnwritableFolderIsSilent) {
  TTempDir tmp;
  auto path = tmp / "debug.log";
  WriteFile(path, {'o', 'l', 'd'});
  setenv("MIREL_DEBUG_LOG", path.c_str(), 1);
  std::string old = DebugLogPath();
  InitDebugLog();
  unsetenv("MIREL_DEBUG_LOG");
  EXPECT_FALSE(std::filesystem::exists(path));
  SetDebugLogPath((tmp / "no-such-dir" / "debug.log").string());
  WriteDebugLog("%s: dropped", "Test.Line");  // must not throw or create anything
  EXPECT_FALSE(std::filesystem::exists(tmp / "no-such-dir"));
  SetDebugLogPath(old);
}
