// The command line as a user meets it: every malformed call is a usage error
// that names the option and shows the command's usage before anything is
// opened; help, version; names printed on standard error; the debug-log line.
#include <gtest/gtest.h>

#include <regex>

#include "TestSupport.h"
#include "cli/Cli.h"

using namespace mirel::test;
using mirel::cli::PrintableName;

namespace {

// A source that does not exist: a call that got as far as opening it would
// end with 2, not 1.
const std::string kNoImage = "/nonexistent/card.img";

}  // namespace

TEST(CliStrict, EachMalformedCallNamesTheOptionAndShowsTheCommandsUsage) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Said;
  };
  const std::vector<TCase> cases = {
      {{"scan", kNoImage, "--bogus"}, "--bogus"},
      {{"list", "--format", "csv"}, "--format"},
      {{"scan", kNoImage, "--all", "--all"}, "--all is given more than once"},
      {{"recover", kNoImage, "--to", "/tmp/a", "--to", "/tmp/b"}, "--to is given more than once"},
      {{"scan", kNoImage, "--mask", "*.jpg", "--mask=*.png"}, "--mask is given more than once"},
      {{"scan", kNoImage, "--all=no"}, "--all takes no value"},
      {{"erase", kNoImage, "--yes=1"}, "--yes takes no value"},
      {{"scan", kNoImage, "--format"}, "--format needs a value"},
      {{"scan", kNoImage, "--format="}, "--format needs a value"},
      // Not a destination called "--all".
      {{"recover", kNoImage, "--to", "--all"}, "--to needs a value"},
      {{"cat", kNoImage}, "PATH is required"},
      {{"cat", kNoImage, "a.txt", "b.txt"}, "b.txt"},
  };
  for (const TCase& c : cases) {
    TCliRun r = RunMirel(c.Args);
    const std::string call = c.Args[0] + " " + c.Args.back();
    EXPECT_EQ(r.Status, 1) << call << "\n" << r.Err;
    EXPECT_NE(r.Err.find("mirel: "), std::string::npos) << call;
    EXPECT_NE(r.Err.find(c.Said), std::string::npos) << call << "\n" << r.Err;
    EXPECT_NE(r.Err.find("usage: mirel " + c.Args[0]), std::string::npos) << call << "\n" << r.Err;
    EXPECT_EQ(r.Out, "") << call;
  }
  // The two names of scan's upper date bound are one option.
  TCliRun r = RunMirel({"scan", kNoImage, "--to", "2024-01-01", "--until", "2024-02-01"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("--to and --until"), std::string::npos) << r.Err;
}

TEST(CliStrict, HelpOfEachCommandAndVersion) {
  for (const char* command : {"list", "scan", "recover", "cat", "erase"}) {
    for (const char* flag : {"--help", "-h"}) {
      TCliRun r = RunMirel({command, flag});
      EXPECT_EQ(r.Status, 0) << command << " " << flag << "\n" << r.Err;
      EXPECT_NE(r.Out.find(std::string("usage: mirel ") + command), std::string::npos) << r.Out;
      EXPECT_NE(r.Out.find("130 stopped by the user"), std::string::npos) << r.Out;
      EXPECT_EQ(r.Err, "");
    }
  }
  TCliRun r = RunMirel({"recover", kNoImage, "--to", "/tmp/x", "--help"});
  EXPECT_EQ(r.Status, 0) << r.Err;  // help before anything is opened
  for (const char* option : {"--report FILE", "--force", "--on-exists", "--until DATE", "PATH"})
    EXPECT_NE(r.Out.find(option), std::string::npos) << option << "\n" << r.Out;

  r = RunMirel({"--help"});
  EXPECT_EQ(r.Status, 0);
  for (const char* line : {"mirel list", "mirel scan", "mirel recover", "mirel cat", "mirel erase", "Exit status"})
    EXPECT_NE(r.Out.find(line), std::string::npos) << line << "\n" << r.Out;

  r = RunMirel({"--version"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(std::regex_match(r.Out, std::regex(R"(mirel \d+\.\d+(\.\d+)*\n)"))) << r.Out;

  r = RunMirel({"frobnicate"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("unknown command 'frobnicate'"), std::string::npos) << r.Err;
  EXPECT_EQ(RunMirel({}).Status, 1);
}

TEST(CliStrict, OptionsAndPathsReachTheCommand) {
  const std::string img = Fixture("fat12.img").string();
  // Options between and after positionals; "--" lets a path begin with a dash.
  TCliRun r = RunMirel({"scan", "--format", "csv", img, "--mask", "report"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("$ocs/Report 2024.docx"), std::string::npos) << r.Out;
  r = RunMirel({"list", img, Fixture("fat16.img").string(), Fixture("ntfs.img").string()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("ntfs.img "), std::string::npos) << r.Out;
  r = RunMirel({"cat", img, "--", "-README.TXT"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("no file found at -README.TXT"), std::string::npos) << r.Err;
}

TEST(CliNames, ControlCharactersReachStandardErrorAsQuestionMarks) {
  EXPECT_EQ(PrintableName("a\x1b[31mb\n\x7f"), "a?[31mb??");
  EXPECT_EQ(PrintableName("x|y\t", "|"), "x?y?");
  EXPECT_EQ(PrintableName("Ünïcödé.txt"), "Ünïcödé.txt");

  TCliRun r = RunMirel({"cat", Fixture("fat12.img").string(), "evil\x1b]0;title\x07.txt"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("no file found at evil?]0;title?.txt"), std::string::npos) << r.Err;
  r = RunMirel({"scan", "/nonexistent/\x1b[2Jcard.img"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("/nonexistent/?[2Jcard.img: "), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find('\x1b'), std::string::npos) << r.Err;
}
