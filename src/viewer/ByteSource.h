#pragma once
// What the viewer displays: a sized run of bytes read on demand at any
// offset. The viewer never asks for more than a few pages at a time, so a
// source of many gigabytes costs no more memory than a small one.
#include <cstddef>
#include <cstdint>

namespace mirel::viewer {

class TByteSource {
public:
  virtual ~TByteSource() = default;
  virtual int64_t Size() = 0;
  // Up to count bytes from offset into buffer; the number read, 0 at the end
  // or when the bytes cannot be read.
  [[nodiscard]] virtual size_t ReadAt(int64_t offset, void* buffer, size_t count) = 0;
};

}  // namespace mirel::viewer
