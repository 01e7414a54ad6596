#include "workers/DestinationFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "workers/DestinationPolicy.h"

namespace mirel {

TDestFolder::TDestFolder(std::string path) : FPath(std::move(path)) {
  while (FPath.size() > 1 && FPath.back() == '/') FPath.pop_back();
}

TDestFolder::TDestFolder(TDestFolder& parent, const std::string& name)
    : Parent(&parent), Name(name), FPath(parent.Path() == "/" ? "/" + name : parent.Path() + "/" + name) {}

TDestFolder::~TDestFolder() {
  if (FFd >= 0) ::close(FFd);
}

int TDestFolder::Fd() {
  if (Tried) return FFd;
  Tried = true;
  if (!Parent) {
    FFd = ::open(FPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FFd < 0) FError = "destination folder " + FPath + ": " + std::strerror(errno);
    return FFd;
  }
  const int parent = Parent->Fd();
  if (parent < 0) {
    FError = Parent->Error();
    return -1;
  }
  if (::mkdirat(parent, Name.c_str(), 0777) != 0 && errno != EEXIST) {
    FError = "folder " + FPath + " cannot be created: " + std::strerror(errno);
    return -1;
  }
  FFd = ::openat(parent, Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (FFd >= 0) return FFd;
  const int openErrno = errno;
  struct stat st {};
  if (::fstatat(parent, Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
    FError = "folder " + FPath + " is a symbolic link, which is not followed";
  else if (openErrno == ENOTDIR)
    FError = "folder " + FPath + " cannot be created: a file of that name exists";
  else
    FError = "folder " + FPath + " cannot be opened: " + std::strerror(openErrno);
  return -1;
}

}  // namespace mirel

namespace mirel {

std::string TDestFolder::ClaimName(const std::string& name) {
  std::string claimed = name;
  for (int n = 2; !Claimed.insert(claimed).second; ++n) claimed = NumberedName(name, n);
  return claimed;
}

}  // namespace mirel
