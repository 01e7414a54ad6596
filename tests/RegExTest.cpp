#include <gtest/gtest.h>

#include "query/LatinCase.h"
#include "query/QueryObject.h"
#include "query/RecoveryRegEx.h"

using namespace mirel;

namespace {

// Whether the user's wildcard mask accepts the name, as a filter would try it.
bool MaskMatches(const std::string& mask, const std::string& name) {
  TRegExCalc m;
  m.IgnoreCase = true;
  m.Terms = SplitMaskTerms(WildcardToPattern(mask));
  return m.MatchList(name);
}

bool PatternMatches(const std::string& pattern, const std::string& name, bool ignoreCase = false) {
  TRegExCalc m;
  m.IgnoreCase = ignoreCase;
  return m.Compile(pattern) && m.Match(name);
}

struct TCase {
  const char* Mask;
  const char* Name;
  bool Matches;
};

std::string SetText(const TCharSet& s) {
  std::string out;
  for (int c = 0; c < 256; ++c)
    if (s.test(static_cast<size_t>(c))) out += static_cast<char>(c);
  return out;
}

}  // namespace

TEST(WildcardToPattern, RewritesMasksIntoTheDialect) {
  EXPECT_EQ(WildcardToPattern(" \t\r\n"), ".*[.].*");
  EXPECT_EQ(WildcardToPattern("*.jpg"), ".*[.]jpg");
  EXPECT_EQ(WildcardToPattern("a?c"), "a.?c");
  EXPECT_EQ(WildcardToPattern("report;budget"), ".*report;budget.*");
  EXPECT_EQ(WildcardToPattern("my *.jpg"), "my\\s.*[.]jpg");
  EXPECT_EQ(WildcardToPattern("*.*;*.txt"), ".*[.].*;.*[.]txt");
  // Blanks after ";" stay for the term split to trim.
  EXPECT_EQ(WildcardToPattern("mygraphic; *.jpg; myanimation.*"), "mygraphic; .*[.]jpg; myanimation[.].*");
  EXPECT_EQ(WildcardToPattern("name."), ".*name[.].*");
}

TEST(MaskMatching, TheDialectsQuirksHold) {
  const TCase cases[] = {
      // "*.*" needs a dot; the empty name never matches.
      {"*.*", "a.txt", true},
      {"*.*", ".profile", true},
      {"*.*", "README", false},
      {"*.*", "", false},
      // Only the start is anchored, and the run of "*" stops at the first "."
      // after its first character.
      {"*.jpg", "photo.jpg", true},
      {"*.jpg", "PHOTO.JPG", true},
      {"*.jpg", ".jpg", true},
      {"*.jpg", "photo.jpg.bak", true},
      {"*.jpg", "x.jpgx", true},
      {"*.jpg", "my.photo.jpg", false},
      {"*.jpg", "ajpg", false},
      {"*.jpg", "photo.png", false},
      // "?" is zero or one character.
      {"a?c", "ac", true},
      {"a?c", "abc", true},
      {"a?c", "abbc", false},
      {"file?.txt", "file.txt", true},
      // Keywords, and a keyword holding ";": "contains report" or "begins with budget".
      {"report", "old_report.doc", true},
      {"report", "REPORT", true},
      {"report", "repo", false},
      {"report;budget", "my_report", true},
      {"report;budget", "budget.xls", true},
      {"report;budget", "old_budget.xls", false},
      {"mygraphic; *.jpg; myanimation.*", "mygraphic.png", true},
      {"mygraphic; *.jpg; myanimation.*", "holiday.jpg", true},
      {"mygraphic; *.jpg; myanimation.*", "myanimation", false},
      {"*.jpg;*.png", "a.png", true},
      {"*.jpg;*.png", "a.gif", false},
      // A space is matched by the space set.
      {"my file*", "my file.txt", true},
      {"my file*", "myfile.txt", false},
      // Latin letters fold case in UTF-8: été* ~ ÉTÉ.doc, škola* ~ ŠKOLA.
      {"*.jpg", "\xC3\xA9t\xC3\xA9.JPG", true},
      {"\xC3\xA9t\xC3\xA9*", "\xC3\x89T\xC3\x89.doc", true},
      {"\xC5\xA1kola*", "\xC5\xA0KOLA", true},
  };
  for (const TCase& c : cases) EXPECT_EQ(MaskMatches(c.Mask, c.Name), c.Matches) << c.Mask << " on " << c.Name;
  EXPECT_EQ(Utf8Upper("\xC3\xBF\xC3\x9F\xC3\xB7"), "\xC5\xB8\xC3\x9F\xC3\xB7");  // ÿß÷: ß and ÷ have no other case
  EXPECT_EQ(Utf8Lower("\xC4\xB0\xC4\xB9"), "\xC4\xB0\xC4\xBA");                  // İ would change length
}

TEST(RegExMatch, ClassesEscapesAndRepetitions) {
  const TCase cases[] = {
      {"[^0-9]x", "ax", true},
      {"[^0-9]x", "5x", false},
      {"img\\d\\d", "img42.png", true},
      {"img\\d\\d", "img4a", false},
      {"\\w+[.]txt", "notes.txt", true},
      {"\\w+[.]txt", "caf\xC3\xA9.txt", true},
      {"\\w+[.]txt", "-a.txt", false},
      {"ab+c", "abbbc", true},
      {"ab+c", "ac", false},
      {"x{2,3}y", "xxy", true},
      {"x{2,3}y", "xxxy", true},
      {"x{2,3}y", "xy", false},
      {"x{3}y", "xxy", false},
      {"x{0}y", "y", true},
      {"[ab]{2,4}c", "abac", true},
      {"[ab]{2,4}c", "ac", false},
      {"a\\sb", "a b", true},
      {"a\\Sb", "a b", false},
      // A "{" that starts no repetition, and a "[" that no "]" closes, are
      // ordinary characters.
      {"a{b", "a{b", true},
      {"a{}", "a{}", true},
      {"a{3", "a{3", true},
      {"[abc", "[abc", true},
  };
  for (const TCase& c : cases) EXPECT_EQ(PatternMatches(c.Mask, c.Name), c.Matches) << c.Mask << " on " << c.Name;
  EXPECT_TRUE(PatternMatches("ABC", "abc", true));
  EXPECT_FALSE(PatternMatches("ABC", "abc", false));
}

TEST(RegExCompile, ElementsOfAPattern) {
  TRegExCalc m;
  ASSERT_TRUE(m.Compile("ab+"));
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Items()[0].Text, "a");
  EXPECT_EQ(m.Items()[1].Text, "b");
  EXPECT_EQ(m.Items()[1].MinCount, rcOneOrMore);
  ASSERT_TRUE(m.Compile("x{2,3}"));
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.Items()[0].MinCount, 2);
  EXPECT_EQ(m.Items()[0].MaxCount, 3);
  ASSERT_TRUE(m.Compile("a\\.b\\"));  // escaped ordinary characters drop; a final "\" is literal
  ASSERT_EQ(m.Count(), 3);
  EXPECT_EQ(m.Items()[2].Text, "\\");
  EXPECT_EQ(m.Expression(), "a\\.b\\");

  m.IgnoreCase = true;
  for (const char* cls : {"[a-c]", "[c-a]"}) {
    ASSERT_TRUE(m.Compile(cls));
    EXPECT_EQ(SetText(m.Items()[0].Chars), "ABCabc") << cls;
  }
  for (const char* cls : {"[-x]", "[x-]"}) {
    ASSERT_TRUE(m.Compile(cls));
    EXPECT_EQ(SetText(m.Items()[0].Chars), "-Xx") << cls;
  }
  ASSERT_TRUE(m.Compile("[Z-a]"));  // the ends fold out of order: the range adds nothing
  EXPECT_EQ(SetText(m.Items()[0].Chars), "");
  ASSERT_TRUE(m.Compile("[\\d\\-]"));
  EXPECT_EQ(SetText(m.Items()[0].Chars), "-0123456789");
  m.IgnoreCase = false;
  ASSERT_TRUE(m.Compile("[\\q]"));  // an unknown escape keeps both characters
  EXPECT_EQ(SetText(m.Items()[0].Chars), "\\q");
}

TEST(RegExMatch, UncountableRepetitionAndEmptyPatternMatchNothing) {
  TRegExCalc m;
  EXPECT_FALSE(m.Compile("a{99999999999}"));
  EXPECT_FALSE(m.Match("aaa"));
  EXPECT_FALSE(m.Compile("a{1,2147483648}"));
  EXPECT_TRUE(m.Compile("a{2147483647}"));  // fits, and is the one-or-more code
  EXPECT_TRUE(m.Match("aaa"));
  EXPECT_TRUE(m.Compile(""));
  EXPECT_FALSE(m.Match("anything"));
}

TEST(RegExMatchList, TermsInOrderAndCompiledPatternKept) {
  TRegExCalc m;
  EXPECT_FALSE(m.MatchList("a.txt"));  // no terms
  ASSERT_TRUE(m.Compile("zzz"));
  m.Terms = {"x.*", "a.*"};
  EXPECT_TRUE(m.MatchList("abc"));
  EXPECT_FALSE(m.MatchList("bcd"));
  EXPECT_TRUE(m.Match("zzz"));
  // A term that cannot compile ends the search: later terms are not tried.
  m.Terms = {"a.*", "b{99999999999}", "c.*"};
  EXPECT_TRUE(m.MatchList("apple"));
  EXPECT_FALSE(m.MatchList("cherry"));
  // An empty term (from "a; ;b") matches nothing; the others still do.
  m.Terms = {"a", "", "b"};
  EXPECT_FALSE(m.MatchList("c"));
  EXPECT_TRUE(m.MatchList("b"));
  // Changing the case rule recompiles the classes of the cached terms.
  m.Terms = {"[a-c]x"};
  EXPECT_FALSE(m.MatchList("Bx"));
  m.IgnoreCase = true;
  EXPECT_TRUE(m.MatchList("Bx"));
}
