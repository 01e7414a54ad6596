#include "workers/DestinationPolicy.h"

namespace mirel {

bool ParseOnExists(const std::string& text, TOnExists& mode) {
  if (text == "ask") mode = TOnExists::Ask;
  else if (text == "overwrite") mode = TOnExists::Overwrite;
  else if (text == "skip") mode = TOnExists::Skip;
  else if (text == "rename") mode = TOnExists::Rename;
  else return false;
  return true;
}

std::string NumberedName(const std::string& name, int n) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) dot = name.size();
  return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

}  // namespace mirel
