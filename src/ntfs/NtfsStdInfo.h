#pragma once
// The value of a $STANDARD_INFORMATION attribute: the four times and the
// file attributes that Windows shows.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/FileInfo.h"

namespace mirel {

// The times and the attributes; older volumes end the value there.
constexpr size_t kStdInfoBytes = 0x28;

struct TNtfsStdInfo {
  TMacbTimes Times;
  uint32_t Attributes = 0;
};

// nullopt when the value is shorter than kStdInfoBytes.
[[nodiscard]] std::optional<TNtfsStdInfo> DecodeStdInfo(std::span<const uint8_t> value);

}  // namespace mirel
