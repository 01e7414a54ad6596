#pragma once
// The name-mask matcher: a small pattern dialect of our own, tried on found
// entries' names. Users never type the dialect; WildcardToPattern turns their
// "*.jpg; report" masks into it. Matching is anchored at the start of the name
// and stops as soon as every element has matched, so whatever follows the
// matched part is never looked at ("*.jpg" accepts "photo.jpg.bak").
//
// Names are UTF-8 and the matcher works on bytes: "." and "?" stand for one
// byte. Case is ignored for ASCII letters and for the Latin letters of
// LatinCase.h.
#include <bitset>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace mirel {

using TCharSet = std::bitset<256>;

// The five class tables, built once and read-only afterwards.
struct TCharTables {
  TCharSet WordChars, NonWordChars, DigitChars, NonDigitChars, NonSpaceChars;
};
const TCharTables& CharTables();

enum class TExpTest : uint8_t { Text, InSet, NotInSet };

// Repetition codes held in MinCount.
constexpr int32_t rcZeroOrMore = -1;
constexpr int32_t rcZeroOrOne = 0;
constexpr int32_t rcOnce = 1;
constexpr int32_t rcOneOrMore = std::numeric_limits<int32_t>::max();

// One compiled element: a literal text or a set of bytes.
struct TExp {
  std::string Text;
  TCharSet Chars;
  TExpTest Test = TExpTest::Text;
  int32_t MinCount = rcOnce;
  // Upper bound from "{n,m}": 0 without braces, -1 when no m was given,
  // rcOneOrMore for "-".
  int32_t MaxCount = 0;
};

// A compiled pattern. Invalid when a repetition count did not fit 32 bits;
// an invalid pattern matches nothing.
struct TCompiledPattern {
  std::vector<TExp> Items;
  bool Valid = true;
};

class TRegExCalc {
public:
  // Replaces the compiled elements; false when a repetition count in the
  // pattern does not fit 32 bits (the pattern then matches nothing).
  [[nodiscard]] bool Compile(std::string_view pattern);
  bool Match(std::string_view subject);
  // True when a term of Terms matches, trying them in order. A term that
  // cannot be compiled ends the search with false, as if no later term could
  // match. The matcher's own compiled pattern is left as it was.
  bool MatchList(std::string_view subject);

  const std::vector<TExp>& Items() const { return Pattern.Items; }
  int Count() const { return static_cast<int>(Pattern.Items.size()); }
  const std::string& Expression() const { return FExpression; }

  bool IgnoreCase = false;
  // The terms of one mask; filled by the owner.
  std::vector<std::string> Terms;

private:
  TCompiledPattern CompilePattern(std::string_view pattern) const;
  TCharSet ParseClass(std::string_view body) const;
  bool Run(const TCompiledPattern& pattern, std::string_view subject);
  bool TestElement(const TExp& e);

  TCompiledPattern Pattern;
  std::string FExpression;
  // Working state of the running match.
  std::string_view Subject;
  int64_t Position = 1;
  bool Matched = false;
  // Compiled Terms, kept while Terms and IgnoreCase stay the same.
  std::vector<std::string> CachedTerms;
  bool CachedIgnoreCase = false;
  std::vector<TCompiledPattern> CachedPatterns;
};

// The user's wildcard mask ("*.jpg; report") in matcher dialect.
std::string WildcardToPattern(std::string_view mask);

// Without leading and trailing blanks and control characters.
std::string TrimBlanks(std::string_view s);

}  // namespace mirel
