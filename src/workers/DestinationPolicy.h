#pragma once
// What to do when a recovered file would land on an existing file.
#include <string>

namespace mirel {

enum class TOnExists { Ask, Overwrite, Skip, Rename };

// Parses "ask", "overwrite", "skip" or "rename"; false for anything else.
[[nodiscard]] bool ParseOnExists(const std::string& text, TOnExists& mode);

// The answer about one existing file: overwrite it, skip the new one (Reason
// says why when it is not simply the existing file), give the new one a
// numbered name, or write it to ChosenPath, replacing what is there.
struct TExistsAnswer {
  TOnExists Action = TOnExists::Skip;
  std::string Reason;
  std::string ChosenPath;
};

// Where a name's extension begins: at its last ".", unless that "." starts
// the name; the name's length when it has none.
size_t ExtensionStart(const std::string& name);

// "name (n).ext": the n-th alternative to a taken name. A leading dot is part
// of the stem, so ".profile" becomes ".profile (2)".
std::string NumberedName(const std::string& name, int n);

}  // namespace mirel
