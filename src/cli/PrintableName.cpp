#include "cli/Cli.h"

namespace mirel::cli {

std::string PrintableName(std::string_view name, std::string_view alsoReplace) {
  std::string out(name);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || alsoReplace.find(c) != std::string_view::npos) c = '?';
  return out;
}

}  // namespace mirel::cli
