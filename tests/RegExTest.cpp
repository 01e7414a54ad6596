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
  m.Compile(pattern);
  return m.Match(name);
}

std::string SetText(const TCharSet& s) {
  std::string out;
  for (int c = 0; c < 256; ++c)
    if (s.test(static_cast<size_t>(c))) out += static_cast<char>(c);
  return out;
}

}  // namespace

TEST(WildcardToPattern, RewritesMasksIntoTheDialect) {
  EXPECT_EQ(WildcardToPattern(""), ".*[.].*");
  EXPECT_EQ(WildcardToPattern(" \t*.*\r\n"), ".*[.].*");
  EXPECT_EQ(WildcardToPattern("*.jpg"), ".*[.]jpg");
  EXPECT_EQ(WildcardToPattern("a?c"), "a.?c");
  EXPECT_EQ(WildcardToPattern("report"), ".*report.*");
  EXPECT_EQ(WildcardToPattern("report;budget"), ".*report;budget.*");
  EXPECT_EQ(WildcardToPattern("my file*"), "my\\sfile.*");
  EXPECT_EQ(WildcardToPattern("my *.jpg"), "my\\s.*[.]jpg");
  EXPECT_EQ(WildcardToPattern("*.*;*.txt"), ".*[.].*;.*[.]txt");
  EXPECT_EQ(WildcardToPattern("mygraphic; *.jpg; myanimation.*"), "mygraphic; .*[.]jpg; myanimation[.].*");
  EXPECT_EQ(WildcardToPattern("a;  b*"), "a;  b.*");  // blanks after ";" stay for the term split
  EXPECT_EQ(WildcardToPattern("name."), ".*name[.].*");  // keyword with an empty extension
  EXPECT_EQ(WildcardToPattern("[ab]*"), "[ab].*");         // class syntax passes through
}

TEST(MaskMatching, StarDotStarNeedsADot) {
  EXPECT_TRUE(MaskMatches("*.*", "a.txt"));
  EXPECT_TRUE(MaskMatches("*.*", ".profile"));
  EXPECT_FALSE(MaskMatches("*.*", "README"));
  EXPECT_FALSE(MaskMatches("*.*", ""));
}

TEST(MaskMatching, ExtensionMaskKeepsItsQuirks) {
  EXPECT_TRUE(MaskMatches("*.jpg", "photo.jpg"));
  EXPECT_TRUE(MaskMatches("*.jpg", "PHOTO.JPG"));
  EXPECT_TRUE(MaskMatches("*.jpg", ".jpg"));
  // Only the start of the name is anchored.
  EXPECT_TRUE(MaskMatches("*.jpg", "photo.jpg.bak"));
  EXPECT_TRUE(MaskMatches("*.jpg", "x.jpgx"));
  // The run of "*" stops at the first "." after its first character.
  EXPECT_FALSE(MaskMatches("*.jpg", "my.photo.jpg"));
  EXPECT_FALSE(MaskMatches("*.jpg", "ajpg"));
  EXPECT_FALSE(MaskMatches("*.jpg", "photo.png"));
}

TEST(MaskMatching, QuestionMarkIsZeroOrOne) {
  EXPECT_TRUE(MaskMatches("a?c", "ac"));
  EXPECT_TRUE(MaskMatches("a?c", "abc"));
  EXPECT_FALSE(MaskMatches("a?c", "abbc"));
  EXPECT_TRUE(MaskMatches("file?.txt", "file.txt"));
  EXPECT_TRUE(MaskMatches("file?.txt", "file1.txt"));
}

TEST(MaskMatching, KeywordsAndLists) {
  EXPECT_TRUE(MaskMatches("report", "old_report.doc"));
  EXPECT_TRUE(MaskMatches("report", "report"));
  EXPECT_TRUE(MaskMatches("report", "REPORT.txt"));
  EXPECT_FALSE(MaskMatches("report", "repo"));
  // Without a wildcard the whole text is one keyword: the first term holds
  // "report" anywhere, the second begins with "budget".
  EXPECT_TRUE(MaskMatches("report;budget", "my_report"));
  EXPECT_TRUE(MaskMatches("report;budget", "budget2024.xls"));
  EXPECT_FALSE(MaskMatches("report;budget", "old_budget.xls"));
  EXPECT_TRUE(MaskMatches("mygraphic; *.jpg; myanimation.*", "mygraphic.png"));
  EXPECT_TRUE(MaskMatches("mygraphic; *.jpg; myanimation.*", "holiday.jpg"));
  EXPECT_TRUE(MaskMatches("mygraphic; *.jpg; myanimation.*", "myanimation.gif"));
  EXPECT_FALSE(MaskMatches("mygraphic; *.jpg; myanimation.*", "myanimation"));
  EXPECT_TRUE(MaskMatches("*.jpg;*.png", "a.png"));
  EXPECT_FALSE(MaskMatches("*.jpg;*.png", "a.gif"));
}

TEST(MaskMatching, SpacesAreMatchedAsSpaces) {
  EXPECT_TRUE(MaskMatches("my file*", "my file.txt"));
  EXPECT_FALSE(MaskMatches("my file*", "myfile.txt"));
  EXPECT_TRUE(MaskMatches("my *.jpg", "my holiday.jpg"));
}

TEST(MaskMatching, LatinLettersFoldCase) {
  EXPECT_TRUE(MaskMatches("*.jpg", "\xC3\xA9t\xC3\xA9.JPG"));           // été.JPG
  EXPECT_TRUE(MaskMatches("\xC3\xA9t\xC3\xA9*", "\xC3\x89T\xC3\x89.doc"));  // été* ~ ÉTÉ.doc
  EXPECT_TRUE(MaskMatches("\xC5\xA1kola*", "\xC5\xA0KOLA"));              // škola* ~ ŠKOLA
  EXPECT_EQ(Utf8Upper("\xC3\xBF\xC3\x9F\xC3\xB7"), "\xC5\xB8\xC3\x9F\xC3\xB7");  // ÿß÷ -> Ÿß÷
  EXPECT_EQ(Utf8Lower("\xC4\xB0\xC4\xB9"), "\xC4\xB0\xC4\xBA");  // İ stays, Ĺ -> ĺ
}

TEST(RegExCompile, ElementsAndRepetitionCodes) {
  TRegExCalc m;
  m.Compile("ab+");
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Items()[0].Text, "a");
  EXPECT_EQ(m.Items()[0].MinCount, rcOnce);
  EXPECT_EQ(m.Items()[1].Text, "b");
  EXPECT_EQ(m.Items()[1].MinCount, rcOneOrMore);

  m.Compile("x{2,3}");
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.Items()[0].Text, "x");
  EXPECT_EQ(m.Items()[0].MinCount, 2);
  EXPECT_EQ(m.Items()[0].MaxCount, 3);

  m.Compile("ab{3}");  // one character before the brace, not the run
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Items()[1].MinCount, 3);
  EXPECT_EQ(m.Items()[1].MaxCount, -1);
  m.Compile("a{2,-}");
  EXPECT_EQ(m.Items()[0].MaxCount, rcOneOrMore);
  m.Compile("[ab]{2,4}");  // a brace first in what is left applies to the element before
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.Items()[0].MinCount, 2);
  EXPECT_EQ(m.Items()[0].MaxCount, 4);

  m.Compile("abc*");  // "*" applies to the whole literal run
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.Items()[0].Text, "abc");
  EXPECT_EQ(m.Items()[0].MinCount, rcZeroOrMore);
  EXPECT_EQ(m.Expression(), "abc*");

  m.Compile("a\\.b\\");  // escaped ordinary characters drop; a final "\" is literal
  ASSERT_EQ(m.Count(), 3);
  EXPECT_EQ(m.Items()[0].Text, "a");
  EXPECT_EQ(m.Items()[1].Text, "b");
  EXPECT_EQ(m.Items()[2].Text, "\\");
}

TEST(RegExCompile, CharacterClasses) {
  TRegExCalc m;
  m.IgnoreCase = true;
  m.Compile("[a-c]");
  EXPECT_EQ(SetText(m.Items()[0].Chars), "ABCabc");
  m.Compile("[c-a]");
  EXPECT_EQ(SetText(m.Items()[0].Chars), "ABCabc");
  m.Compile("[-x]");
  EXPECT_EQ(SetText(m.Items()[0].Chars), "-Xx");
  m.Compile("[x-]");
  EXPECT_EQ(SetText(m.Items()[0].Chars), "-Xx");
  m.Compile("[Z-a]");  // ends fold out of order: nothing from the range
  EXPECT_EQ(SetText(m.Items()[0].Chars), "");
  m.Compile("[\\d\\-]");
  EXPECT_EQ(SetText(m.Items()[0].Chars), "-0123456789");
  m.Compile("[^0-9]");
  EXPECT_EQ(m.Items()[0].Test, TExpTest::NotInSet);

  m.IgnoreCase = false;
  m.Compile("[a-c]");
  EXPECT_EQ(SetText(m.Items()[0].Chars), "abc");
  m.Compile("[\\q]");  // an unknown escape keeps both characters
  EXPECT_EQ(SetText(m.Items()[0].Chars), "\\q");
  m.Compile("[\\");  // no "]" anywhere: the "[" is literal
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Items()[0].Text, "[");
  EXPECT_EQ(m.Items()[1].Text, "\\");
}

TEST(RegExMatch, ClassesEscapesAndRepetitions) {
  EXPECT_TRUE(PatternMatches("[^0-9]x", "ax"));
  EXPECT_FALSE(PatternMatches("[^0-9]x", "5x"));
  EXPECT_TRUE(PatternMatches("img\\d\\d", "img42.png"));
  EXPECT_FALSE(PatternMatches("img\\d\\d", "img4a.png"));
  EXPECT_TRUE(PatternMatches("\\w+[.]txt", "notes.txt"));
  EXPECT_TRUE(PatternMatches("\\w+[.]txt", "caf\xC3\xA9.txt"));
  EXPECT_FALSE(PatternMatches("\\w+[.]txt", "-notes.txt"));
  EXPECT_TRUE(PatternMatches("ab+c", "abbbc"));
  EXPECT_FALSE(PatternMatches("ab+c", "ac"));
  EXPECT_TRUE(PatternMatches("x{2,3}y", "xxy"));
  EXPECT_TRUE(PatternMatches("x{2,3}y", "xxxy"));
  EXPECT_FALSE(PatternMatches("x{2,3}y", "xy"));
  EXPECT_FALSE(PatternMatches("x{3}y", "xxy"));
  EXPECT_TRUE(PatternMatches("x{0}y", "y"));  // n = 0 is the zero-or-one code
  EXPECT_TRUE(PatternMatches("ABC", "abc", true));
  EXPECT_FALSE(PatternMatches("ABC", "abc", false));
  EXPECT_TRUE(PatternMatches("a\\sb", "a b"));
  EXPECT_FALSE(PatternMatches("a\\Sb", "a b"));
}

TEST(RegExMatch, MalformedPatternsEndAndMatchAsDocumented) {
  // A "{" that starts no repetition is an ordinary character.
  EXPECT_TRUE(PatternMatches("a{b", "a{b"));
  EXPECT_TRUE(PatternMatches("a{}", "a{}"));
  EXPECT_TRUE(PatternMatches("{x}", "{x}"));
  EXPECT_TRUE(PatternMatches("a{3", "a{3"));
  EXPECT_TRUE(PatternMatches("[abc", "[abc"));
  // A count beyond 32 bits fails the compile and matches nothing.
  TRegExCalc m;
  EXPECT_FALSE(m.Compile("a{99999999999}"));
  EXPECT_FALSE(m.Match("aaa"));
  EXPECT_FALSE(m.Compile("a{1,2147483648}"));
  EXPECT_TRUE(m.Compile("a{2147483647}"));  // fits, and is the one-or-more code
  EXPECT_TRUE(m.Match("aaa"));
  // An empty pattern never matches, whatever was matched before.
  EXPECT_TRUE(m.Compile(""));
  EXPECT_FALSE(m.Match("anything"));
}

TEST(RegExMatchList, TermsInOrderAndCompiledPatternKept) {
  TRegExCalc m;
  EXPECT_FALSE(m.MatchList("a.txt"));  // no terms
  m.Compile("zzz");
  m.Terms = {"x.*", "a.*"};
  EXPECT_TRUE(m.MatchList("abc"));
  EXPECT_FALSE(m.MatchList("bcd"));
  EXPECT_EQ(m.Expression(), "zzz");
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
