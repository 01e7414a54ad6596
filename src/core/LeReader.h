#pragma once
// Bounds-checked little-endian decoding of on-disk bytes. Reads outside the
// span give 0 and mark the reader as failed instead of touching memory.
#include <cstddef>
#include <cstdint>
#include <span>

namespace mirel {

class TLeReader {
public:
  TLeReader() = default;
  TLeReader(const void* data, size_t size) : Data(static_cast<const uint8_t*>(data)), Len(size) {}
  explicit TLeReader(std::span<const uint8_t> s) : Data(s.data()), Len(s.size()) {}

  size_t Size() const { return Len; }
  bool Ok() const { return !Failed; }
  bool Has(size_t offset, size_t count) const { return offset <= Len && count <= Len - offset; }

  uint8_t U8(size_t off) const { return static_cast<uint8_t>(Get(off, 1)); }
  uint16_t U16(size_t off) const { return static_cast<uint16_t>(Get(off, 2)); }
  uint32_t U32(size_t off) const { return static_cast<uint32_t>(Get(off, 4)); }
  uint64_t U64(size_t off) const { return Get(off, 8); }
  // Little-endian unsigned of 1..8 bytes.
  uint64_t UN(size_t off, size_t width) const { return Get(off, width); }
  // Little-endian signed of 1..8 bytes, sign-extended from its top byte.
  int64_t SN(size_t off, size_t width) const;
  // The bytes at [off, off+count) or an empty span when out of range.
  std::span<const uint8_t> Bytes(size_t off, size_t count) const;
  TLeReader Sub(size_t off, size_t count) const;

private:
  uint64_t Get(size_t off, size_t width) const;
  const uint8_t* Data = nullptr;
  size_t Len = 0;
  mutable bool Failed = false;
};

inline uint64_t TLeReader::Get(size_t off, size_t width) const {
  if (width == 0 || width > 8 || !Has(off, width)) {
    Failed = true;
    return 0;
  }
  uint64_t v = 0;
  for (size_t i = width; i-- > 0;) v = (v << 8) | Data[off + i];
  return v;
}

inline int64_t TLeReader::SN(size_t off, size_t width) const {
  uint64_t v = Get(off, width);
  if (width > 0 && width < 8 && (v >> (width * 8 - 1)) & 1) v |= ~uint64_t{0} << (width * 8);
  return static_cast<int64_t>(v);
}

inline std::span<const uint8_t> TLeReader::Bytes(size_t off, size_t count) const {
  if (!Has(off, count)) {
    Failed = true;
    return {};
  }
  return {Data + off, count};
}

inline TLeReader TLeReader::Sub(size_t off, size_t count) const {
  if (!Has(off, count)) {
    Failed = true;
    return {};
  }
  return TLeReader(Data + off, count);
}

}  // namespace mirel
