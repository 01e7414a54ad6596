#include "workers/DestinationPolicy.h"

namespace mirel {

bool ParseOnExists(const std::string& text, TOnExists& mode) {
  if (text == "ask")
    mode = TOnExists::Ask;
  else if (text == "overwrite")
    mode = TOnExists::Overwrite;
  else if (text == "skip")
    mode = TOnExists::Skip;
  else if (text == "rename")
    mode = TOnExists::Rename;
  else
    return false;
  return true;
}

size_t ExtensionStart(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name.size() : dot;
}

std::string NumberedName(const std::string& name, int n) {
  const size_t dot = ExtensionStart(name);
  return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

}  // namespace mirel
