#include "query/RecoveryRegEx.h"

#include "query/LatinCase.h"

namespace mirel {

namespace {

TCharTables BuildTables() {
  TCharTables t;
  for (int c = 0; c < 256; ++c) {
    bool digit = c >= '0' && c <= '9';
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    // Bytes of multi-byte UTF-8 sequences belong to the letters of non-ASCII
    // names, so "\w" runs on across "é" as it does across "e".
    t.WordChars[static_cast<size_t>(c)] = digit || letter || c >= 0x80;
    t.DigitChars[static_cast<size_t>(c)] = digit;
  }
  t.NonWordChars = ~t.WordChars;
  t.NonDigitChars = ~t.DigitChars;
  t.NonSpaceChars.set();
  t.NonSpaceChars.reset(' ');
  return t;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the leading decimal digits of s from `at`; false when the number does
// not fit a signed 32-bit integer.
bool ReadNumber(std::string_view s, size_t& at, int32_t& value) {
  int64_t v = 0;
  bool fits = true;
  for (; at < s.size() && IsDigit(s[at]); ++at) {
    v = v * 10 + (s[at] - '0');
    if (v > std::numeric_limits<int32_t>::max()) {
      fits = false;
      v = 0;
    }
  }
  value = static_cast<int32_t>(v);
  return fits;
}

// "{n}", "{n,}", "{n,m}", "{n,-}" at the front of s.
struct TRepetition {
  bool WellFormed = false;
  bool Fits = true;
  int32_t Min = 0, Max = -1;
  size_t Length = 0;  // through the closing brace
};

TRepetition ParseRepetition(std::string_view s) {
  TRepetition r;
  size_t close = s.find('}');
  if (close == std::string_view::npos || s.size() < 2 || !IsDigit(s[1])) return r;
  r.WellFormed = true;
  r.Length = close + 1;
  std::string_view body = s.substr(1, close - 1);
  size_t at = 0;
  r.Fits = ReadNumber(body, at, r.Min);
  ++at;  // the separator, normally ","
  if (at < body.size() && IsDigit(body[at]))
    r.Fits = ReadNumber(body, at, r.Max) && r.Fits;
  else if (at < body.size() && body[at] == '-')
    r.Max = rcOneOrMore;
  return r;
}

void AddRange(TCharSet& set, int lo, int hi) {
  for (int c = lo; c <= hi; ++c) set.set(static_cast<size_t>(c));
}

std::string Escape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    switch (char c = s[i]) {
      case ' ': {
        // Blanks after a ";" separate terms; the term split trims them.
        size_t j = i;
        while (j > 0 && s[j - 1] == ' ') --j;
        out += j > 0 && s[j - 1] == ';' ? " " : "\\s";
        break;
      }
      case '*': out += ".*"; break;
      case '?': out += ".?"; break;
      case '.': out += "[.]"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

const TCharTables& CharTables() {
  static const TCharTables tables = BuildTables();
  return tables;
}

std::string TrimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string WildcardToPattern(std::string_view mask) {
  std::string m = TrimBlanks(mask);
  if (m.empty()) m = "*.*";
  if (m.find_first_of("*?") == std::string::npos) m = "*" + m + "*";
  size_t dot = m.rfind('.');
  if (dot == std::string::npos) return Escape(m);
  std::string before = m.substr(0, dot), after = m.substr(dot + 1);
  if (before.empty()) before = "*";
  if (after.empty()) after = "*";
  return Escape(before) + "[.]" + Escape(after);
}

TCharSet TRegExCalc::ParseClass(std::string_view body) const {
  const TCharTables& t = CharTables();
  std::string b(body);
  TCharSet set;
  for (size_t at; (at = b.find('\\')) != std::string::npos;) {
    if (at + 1 >= b.size()) {
      set.set('\\');
      b.erase(at, 1);
      continue;
    }
    switch (char x = b[at + 1]) {
      case 'w': set |= t.WordChars; break;
      case 'W': set |= t.NonWordChars; break;
      case 'd': set |= t.DigitChars; break;
      case 'D': set |= t.NonDigitChars; break;
      case 's': set.set(' '); break;
      case 'S': set |= t.NonSpaceChars; break;
      case '-': set.set('-'); break;
      default: set.set('\\'); set.set(static_cast<unsigned char>(x));
    }
    b.erase(at, 2);
  }
  for (size_t at; (at = b.find('-')) != std::string::npos;) {
    if (at == 0 || at + 1 == b.size()) {
      set.set('-');
      b.erase(at, 1);
      continue;
    }
    auto lo = static_cast<unsigned char>(b[at - 1]), hi = static_cast<unsigned char>(b[at + 1]);
    if (lo > hi) std::swap(lo, hi);
    if (!IgnoreCase) {
      AddRange(set, lo, hi);
    } else {
      // Each end is mapped on its own, so a range whose ends map out of
      // order ("Z-a") adds nothing in that case.
      AddRange(set, static_cast<unsigned char>(AsciiLower(static_cast<char>(lo))),
               static_cast<unsigned char>(AsciiLower(static_cast<char>(hi))));
      AddRange(set, static_cast<unsigned char>(AsciiUpper(static_cast<char>(lo))),
               static_cast<unsigned char>(AsciiUpper(static_cast<char>(hi))));
    }
    b.erase(at - 1, 3);
  }
  if (IgnoreCase) b = Utf8Lower(b) + Utf8Upper(b);
  for (char c : b) set.set(static_cast<unsigned char>(c));
  return set;
}

TCompiledPattern TRegExCalc::CompilePattern(std::string_view pattern) const {
  TCompiledPattern out;
  std::vector<TExp>& items = out.Items;
  auto appendText = [&](std::string text, int32_t minCount = rcOnce) {
    if (text.empty()) return;
    TExp e;
    e.Text = std::move(text);
    e.MinCount = minCount;
    items.push_back(std::move(e));
  };
  auto appendSet = [&](const TCharSet& chars, TExpTest test) {
    TExp e;
    e.Chars = chars;
    e.Test = test;
    items.push_back(std::move(e));
  };

  std::string r(pattern);
  size_t i = 0;
  while (i < r.size()) {
    switch (r[i]) {
      case '*':
      case '?':
        // Applies to the literal run before it, or to the element before it.
        appendText(r.substr(0, i));
        if (!items.empty()) items.back().MinCount = r[i] == '*' ? rcZeroOrMore : rcZeroOrOne;
        r.erase(0, i + 1);
        i = 0;
        break;
      case '+':
        // Applies to the one character before it.
        if (i == 0) {
          if (!items.empty()) items.back().MinCount = rcOneOrMore;
          r.erase(0, 1);
        } else {
          appendText(r.substr(0, i - 1));
          appendText(r.substr(i - 1, 1), rcOneOrMore);
          r.erase(0, i + 1);
          i = 0;
        }
        break;
      case '{': {
        TRepetition rep = ParseRepetition(std::string_view(r).substr(i));
        if (!rep.WellFormed) {
          ++i;  // an ordinary character
          break;
        }
        if (!rep.Fits) return {{}, false};
        if (i > 0) {
          appendText(r.substr(0, i - 1));
          appendText(r.substr(i - 1, 1));
        }
        if (!items.empty()) {
          items.back().MinCount = rep.Min;
          items.back().MaxCount = rep.Max;
        }
        r.erase(0, i + rep.Length);
        i = 0;
        break;
      }
      case '.':
        appendText(r.substr(0, i));
        appendSet(TCharSet().set(), TExpTest::InSet);
        r.erase(0, i + 1);
        i = 0;
        break;
      case '[': {
        appendText(r.substr(0, i));
        r.erase(0, i);
        size_t close = r.find(']');
        if (close == std::string::npos) {
          i = 1;  // no class can close: the "[" is an ordinary character
          break;
        }
        std::string_view body = std::string_view(r).substr(1, close - 1);
        bool negated = !body.empty() && body[0] == '^';
        appendSet(ParseClass(negated ? body.substr(1) : body), negated ? TExpTest::NotInSet : TExpTest::InSet);
        r.erase(0, close + 1);
        i = 0;
        break;
      }
      case '\\': {
        appendText(r.substr(0, i));
        if (i + 1 >= r.size()) {
          appendText("\\");
          return out;
        }
        const TCharTables& t = CharTables();
        TCharSet space;
        space.set(' ');
        switch (r[i + 1]) {
          case 'w': appendSet(t.WordChars, TExpTest::InSet); break;
          case 'W': appendSet(t.WordChars, TExpTest::NotInSet); break;
          case 'd': appendSet(t.DigitChars, TExpTest::InSet); break;
          case 'D': appendSet(t.DigitChars, TExpTest::NotInSet); break;
          case 's': appendSet(space, TExpTest::InSet); break;
          case 'S': appendSet(space, TExpTest::NotInSet); break;
          default: break;  // an escaped ordinary character is dropped
        }
        r.erase(0, i + 2);
        i = 0;
        break;
      }
      default: ++i;
    }
  }
  appendText(r);
  return out;
}

bool TRegExCalc::Compile(std::string_view pattern) {
  FExpression = pattern;
  Pattern = CompilePattern(pattern);
  return Pattern.Valid;
}

bool TRegExCalc::TestElement(const TExp& e) {
  if (Position < 1 || Position > static_cast<int64_t>(Subject.size())) return Matched = false;
  auto at = static_cast<size_t>(Position - 1);
  switch (e.Test) {
    case TExpTest::Text: {
      std::string_view slice = Subject.substr(at, e.Text.size());
      Matched = IgnoreCase ? SameTextIgnoringCase(slice, e.Text) : slice == e.Text;
      if (Matched) Position += static_cast<int64_t>(e.Text.size());
      return Matched;
    }
    case TExpTest::InSet:
    case TExpTest::NotInSet:
      Matched = e.Chars.test(static_cast<unsigned char>(Subject[at])) == (e.Test == TExpTest::InSet);
      if (Matched) ++Position;
      return Matched;
  }
  return Matched = false;
}

bool TRegExCalc::Run(const TCompiledPattern& pattern, std::string_view subject) {
  if (subject.empty() || !pattern.Valid || pattern.Items.empty()) return false;
  const std::vector<TExp>& items = pattern.Items;
  const size_t count = items.size();
  Subject = subject;
  Position = 1;
  Matched = true;
  size_t k = 0;
  // Every test that succeeds advances Position and every retry either
  // advances it or moves back towards 1, so each loop below ends.
  while (Matched && k < count) {
    const TExp& e = items[k];
    int64_t p = Position;
    TestElement(e);
    switch (e.MinCount) {
      case rcZeroOrMore: {
        // Lazy: after each character of the run, try the next element; once
        // it has matched, the run is never extended again.
        if (!Matched) {
          Position = p;
          Matched = true;
          ++k;
          break;
        }
        if (k + 1 == count) return true;
        int64_t q = Position;
        if (TestElement(items[k + 1])) {
          k += 2;
        } else {
          Position = q;
          Matched = true;
        }
        break;
      }
      case rcZeroOrOne:
        if (!Matched) {
          Position = p;
          Matched = true;
        }
        ++k;
        break;
      case rcOneOrMore:
        if (!Matched) return false;
        if (k + 1 == count) return true;
        for (;;) {
          int64_t q = Position;
          if (TestElement(items[k + 1])) {
            k += 2;
            break;
          }
          Position = q;
          if (!TestElement(e)) {
            Position = q;
            Matched = true;
            ++k;
            break;
          }
        }
        break;
      default:
        if (Matched) {
          int64_t n = 1;
          while (n < e.MinCount && TestElement(e)) ++n;
          if (Matched) {
            while (n < e.MaxCount && TestElement(e)) ++n;
            Matched = true;  // a failed optional repetition is no failure
          }
          ++k;
          break;
        }
        // The element before may have taken too much: give it back one
        // character at a time.
        if (k > 0 && (items[k - 1].MinCount < 1 || items[k - 1].MaxCount > items[k - 1].MinCount)) {
          Position = p - 1;
          if (Position < 1) return false;
          Matched = true;
        } else {
          return false;
        }
    }
  }
  return Matched;
}

bool TRegExCalc::Match(std::string_view subject) { return Run(Pattern, subject); }

bool TRegExCalc::MatchList(std::string_view subject) {
  if (Terms.empty()) return false;
  if (Terms != CachedTerms || IgnoreCase != CachedIgnoreCase) {
    CachedPatterns.clear();
    for (const std::string& term : Terms) CachedPatterns.push_back(CompilePattern(term));
    CachedTerms = Terms;
    CachedIgnoreCase = IgnoreCase;
  }
  for (const TCompiledPattern& pattern : CachedPatterns) {
    if (!pattern.Valid) return false;
    if (Run(pattern, subject)) return true;
  }
  return false;
}

}  // namespace mirel
