#include "workers/DestinationPolicy.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirel {

bool ParseOnExists(const std::string& text, TOnExists& mode) {
  if (text == "ask") mode = TOnExists::Ask;
  else if (text == "overwrite") mode = TOnExists::Overwrite;
  else if (text == "skip") mode = TOnExists::Skip;
  else if (text == "rename") mode = TOnExists::Rename;
  else return false;
  return true;
}

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string UniqueName(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) dot = path.size();
  std::string stem = path.substr(0, dot), ext = path.substr(dot);
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
    if (!Exists(candidate)) return candidate;
  }
}

int CreateDestinationFile(std::string& path, TOnExists mode, const std::function<TOnExists(const std::string&)>& ask,
                          std::string& why) {
  int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  if (Exists(path)) {
    if (mode == TOnExists::Ask) mode = ask ? ask(path) : TOnExists::Skip;
    switch (mode) {
      case TOnExists::Overwrite: flags = O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC; break;
      case TOnExists::Rename: path = UniqueName(path); break;
      default:
        why = "a file of that name exists";
        return -1;
    }
  }
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) why = std::strerror(errno);
  return fd;
}

}  // namespace mirel
