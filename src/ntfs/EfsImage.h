#pragma once
// The raw image of an encrypted file that the platform's raw import takes: a
// header holding the file's $EFS data between two fixed templates, then the
// encrypted data in 64 KiB chunks, each behind a 512-byte chunk header.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace mirel {

constexpr size_t EFS_CHUNK_DATA = 65536;
constexpr size_t EFS_CHUNK_HEADER = 512;
constexpr size_t EFS_MAX_METADATA = 65536;

extern const std::array<uint8_t, 66> EFS01;
extern const std::array<uint8_t, 42> EFS02;

// EFS01, the $EFS data (its length taken from its own first 32 bits), EFS02.
// Empty when that length is 0, above EFS_MAX_METADATA or beyond the data given.
[[nodiscard]] std::vector<uint8_t> BuildEfsImageHeader(std::span<const uint8_t> efsData);

// The header of chunk k of a file of dataSize bytes.
std::array<uint8_t, EFS_CHUNK_HEADER> BuildEfsChunkHeader(uint32_t k, int64_t dataSize);

}  // namespace mirel
