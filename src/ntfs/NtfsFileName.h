#pragma once
// The value of a $FILE_NAME attribute: the parent folder, the times and sizes
// the folder index keeps, and one of the file's names.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/FileInfo.h"

namespace mirel {

// The fields before the name's characters.
constexpr size_t kFileNameHeaderBytes = 0x42;

enum TFileNameSpace : uint8_t { fnPosix = 0, fnWin32 = 1, fnDos = 2, fnWin32AndDos = 3 };

struct TNtfsFileName {
  // The parent folder's record number (low 48 bits) and sequence.
  int64_t ParentRecord = 0;
  uint16_t ParentSequence = 0;
  TMacbTimes Times;
  int64_t AllocatedSize = 0;
  int64_t DataSize = 0;
  uint32_t Flags = 0;
  uint8_t NameSpace = fnPosix;
  // UTF-8.
  std::string Name;
};

// nullopt when the value is shorter than its fields or its name's characters.
[[nodiscard]] std::optional<TNtfsFileName> DecodeFileName(std::span<const uint8_t> value);

}  // namespace mirel
