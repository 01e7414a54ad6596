#include "cli/FilterOptions.h"

#include <cstring>
#include <limits>
#include <ostream>

#include "core/FileInfo.h"

namespace mirel::cli {

namespace {

bool AllDigits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

// Kilobytes with an optional comparison in front; equal when none is given.
bool ParseSize(const std::string& text, TFilter& f, std::string& error) {
  std::string digits = text;
  uint32_t compare = qfSizeEqual;
  if (!digits.empty() && (digits[0] == '=' || digits[0] == '>' || digits[0] == '<')) {
    compare = digits[0] == '=' ? qfSizeEqual : digits[0] == '>' ? qfSizeGreater : qfSizeSmaller;
    digits.erase(0, 1);
  }
  constexpr int64_t maxKb = std::numeric_limits<int64_t>::max() / 1024;
  int64_t kb = 0;
  bool fits = AllDigits(digits);
  for (size_t i = 0; fits && i < digits.size(); ++i) {
    kb = kb * 10 + (digits[i] - '0');
    fits = kb <= maxKb;
  }
  if (!fits) {
    error = "--size wants [=|>|<]KB with a whole number of kilobytes, not '" + text + "'";
    return false;
  }
  f.Flags |= qfSize | compare;
  f.Size = kb * 1024;
  return true;
}

bool ParseAttributes(const std::string& text, TFilter& f, std::string& error) {
  uint32_t bits = 0;
  for (char c : text) {
    switch (c) {
      case 'r':
      case 'R': bits |= faReadOnly; break;
      case 'h':
      case 'H': bits |= faHidden; break;
      case 's':
      case 'S': bits |= faSysFile; break;
      case 'a':
      case 'A': bits |= faArchive; break;
      case '-': break;  // as in the listing's "r-h-"
      default: error = "--attr takes the letters r, h, s and a, not '" + text + "'"; return false;
    }
  }
  f.Flags |= qfAttributes;
  f.Attributes = bits;
  return true;
}

}  // namespace

bool ParseFilterDate(const std::string& text, bool endOfDay, TDateTime& out) {
  size_t at = 0;
  // A field of minLen to maxLen digits, then the separator expected after it.
  auto field = [&](size_t minLen, size_t maxLen, int& value) {
    size_t start = at;
    value = 0;
    while (at < text.size() && at - start < maxLen && text[at] >= '0' && text[at] <= '9')
      value = value * 10 + (text[at++] - '0');
    return at - start >= minLen;
  };
  auto separator = [&](const char* accepted) {
    if (at >= text.size() || text[at] == '\0' || !std::strchr(accepted, text[at])) return false;
    ++at;
    return true;
  };
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (!field(4, 4, y) || !separator("-") || !field(1, 2, mo) || !separator("-") || !field(1, 2, d)) return false;
  bool withTime = at < text.size();
  if (withTime && (!separator(" T") || !field(1, 2, h) || !separator(":") || !field(2, 2, mi))) return false;
  if (at < text.size() && (!separator(":") || !field(2, 2, s))) return false;
  if (at != text.size() || !IsValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59) return false;
  out = !withTime && endOfDay ? EncodeDateTime(y, mo, d, 23, 59, 59, 999) : EncodeDateTime(y, mo, d, h, mi, s);
  return true;
}

bool ReadFilterOptions(const TCliArgs& args, TFilterOptions& out, TCliContext& ctx) {
  std::string error;
  if (!ParseFilterOptions(args, out, error)) {
    ctx.Err << "mirel: " << error << "\n";
    return false;
  }
  for (const std::string& w : out.Warnings) ctx.Err << "mirel: warning: " << w << "\n";
  return true;
}

bool ParseFilterOptions(const TCliArgs& args, TFilterOptions& out, std::string& error,
                        const std::string& dateToOption) {
  TFilter& f = out.Filter;
  if (args.Has("--mask")) {
    f.Flags |= qfMask;
    f.Mask = WildcardToPattern(args.Value("--mask"));
    for (const std::string& term : SplitMaskTerms(f.Mask)) {
      TRegExCalc check;
      if (!check.Compile(term))
        out.Warnings.push_back("mask term '" + term +
                               "' repeats a character more often than can be counted; names no earlier term "
                               "matches are not listed");
    }
  }
  if (args.Has("--good")) {
    f.Flags |= qfCondition;
    f.MinCondition = 100;
  }
  if (!dateToOption.empty() && args.Has(dateToOption) && args.Has("--until")) {
    error = dateToOption + " and --until both give the upper date; give one of them";
    return false;
  }
  std::string toOption = !dateToOption.empty() && args.Has(dateToOption) ? dateToOption : "--until";
  if (args.Has("--from") || args.Has(toOption)) {
    f.Flags |= qfDate;
    f.DateFrom = EncodeDateTime(1, 1, 1);
    f.DateTo = EncodeDateTime(9999, 12, 31, 23, 59, 59, 999);
    if (args.Has("--from") && !ParseFilterDate(args.Value("--from"), false, f.DateFrom)) {
      error = "--from wants a date as YYYY-MM-DD [HH:MM[:SS]], not '" + args.Value("--from") + "'";
      return false;
    }
    if (args.Has(toOption) && !ParseFilterDate(args.Value(toOption), true, f.DateTo)) {
      error = toOption + " wants a date as YYYY-MM-DD [HH:MM[:SS]], not '" + args.Value(toOption) + "'";
      return false;
    }
    if (CompareDateTime(f.DateFrom, f.DateTo) > 0) {
      error = "--from " + args.Value("--from") + " lies after " + toOption + " " + args.Value(toOption);
      return false;
    }
  }
  if (args.Has("--size") && !ParseSize(args.Value("--size"), f, error)) return false;
  if (args.Has("--attr") && !ParseAttributes(args.Value("--attr"), f, error)) return false;
  return true;
}

}  // namespace mirel::cli
