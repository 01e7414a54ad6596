#include "erase/EraserNames.h"

#include <cctype>
#include <cstdio>

namespace mirel {

std::string EraserTempName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "_E%6zx.BAK", index + 0x100000);
  return name;
}

bool IsEraserTempName(const std::string& n) {
  if (n.size() != 12 || (n[0] != '_') || (n[1] != 'E' && n[1] != 'e')) return false;
  for (size_t i = 2; i < 8; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(n[i]))) return false;
  std::string ext = n.substr(8);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".BAK";
}

}  // namespace mirel
