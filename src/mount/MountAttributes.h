#pragma once
// The extended attributes of a served entry: its named streams as
// user.STREAM (where the Linux NTFS drivers show them), and what the
// catalogue says of it as user.mirel.condition (0 to 100),
// user.mirel.deleted (true or false) and user.mirel.address (where the file
// system records one).
#include <string>
#include <string_view>
#include <vector>

#include "core/FileInfo.h"

namespace mirel {

// Linux caps one extended attribute's value at 64 KiB.
constexpr size_t MAX_ATTRIBUTE_VALUE = 65536;

struct TAttributeValue {
  // 0, or why there is no value: ENODATA (no such attribute), EIO (the
  // stream could not be read), E2BIG (longer than an attribute can be).
  int Error = 0;
  std::string Data;
};

std::vector<std::string> AttributeNames(const TFileInfo& entry);
[[nodiscard]] TAttributeValue AttributeValue(TFileInfo* entry, std::string_view name);

}  // namespace mirel
