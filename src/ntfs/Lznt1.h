#pragma once
// LZNT1, the compression of NTFS data units: chunks of up to 4096 bytes, each
// behind a 16-bit header, either stored or compressed with back references.
#include <cstdint>
#include <span>

namespace mirel {

constexpr size_t LZNT1_CHUNK = 4096;

// Decodes input into output; returns the bytes produced, or -1 when the input
// is no LZNT1 data. Never reads or writes outside the two spans.
[[nodiscard]] int64_t Lznt1Decompress(std::span<const uint8_t> input, std::span<uint8_t> output);

}  // namespace mirel
