#include "core/StateDir.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace mirel {

std::string StateDir() {
  std::error_code ec;
  fs::path state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
    state = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    state = fs::path(home) / ".local" / "state";
  else
    state = fs::temp_directory_path(ec);
  fs::create_directories(state / "mirel", ec);
  return (state / "mirel").string();
}

}  // namespace mirel
