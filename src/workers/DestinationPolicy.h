#pragma once
// What to do when a recovered file would land on an existing file.
#include <functional>
#include <string>

namespace mirel {

enum class TOnExists { Ask, Overwrite, Skip, Rename };

// Parses "ask", "overwrite", "skip" or "rename"; false for anything else.
bool ParseOnExists(const std::string& text, TOnExists& mode);

// "dir/name (2).ext": the first such name that does not exist yet.
std::string UniqueName(const std::string& path);

// Creates path for writing. When a file exists there the mode decides; Ask
// calls ask, which answers Overwrite, Skip or Rename. Rename changes path.
// Returns the descriptor, or -1 with the reason in why (the file is skipped).
int CreateDestinationFile(std::string& path, TOnExists mode, const std::function<TOnExists(const std::string&)>& ask,
                          std::string& why);

}  // namespace mirel
