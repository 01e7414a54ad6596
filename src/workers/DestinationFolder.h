#pragma once
// A folder of the destination, made on first use through its parent's
// descriptor. No name below the destination is resolved from its top, and no
// symbolic link inside it is followed, so what the run writes stays inside.
#include <string>
#include <unordered_set>

namespace mirel {

class TDestFolder {
public:
  // The destination folder itself, opened as the user named it.
  explicit TDestFolder(std::string path);
  // The folder name (one path component) inside parent, which outlives it.
  TDestFolder(TDestFolder& parent, const std::string& name);
  ~TDestFolder();
  TDestFolder(const TDestFolder&) = delete;
  TDestFolder& operator=(const TDestFolder&) = delete;

  // The folder's descriptor, creating the folder (and those above it) when
  // missing; -1 when that cannot be, with the reason in Error().
  [[nodiscard]] int Fd();
  const std::string& Error() const { return FError; }
  // For messages and reports.
  const std::string& Path() const { return FPath; }
  // The name the next entry called `name` takes in this folder in this run:
  // the name itself the first time, then "name (2)", "name (3)", ... so that
  // entries of one name (a file deleted twice) all come back.
  std::string ClaimName(const std::string& name);

private:
  TDestFolder* Parent = nullptr;
  std::string Name;
  std::string FPath;
  std::string FError;
  int FFd = -1;
  bool Tried = false;
  std::unordered_set<std::string> Claimed;
};

}  // namespace mirel
