#pragma once
// The bytes of a disk or a volume, whatever holds them: a raw image or a
// device, a split image, a forensic or a virtual-disk image. Partitions, boot
// sectors and every file system read through this one interface.
#include <cstddef>
#include <cstdint>

namespace mirel {

class TByteSource {
public:
  virtual ~TByteSource() = default;
  virtual bool IsValid() const = 0;
  virtual int64_t Size() const = 0;
  // Positioned read of up to count bytes; returns the bytes delivered, fewer
  // where the source ends or a read fails.
  [[nodiscard]] virtual size_t Read(void* buffer, size_t count, int64_t offset) const = 0;
  // The same bytes written straight into outFd at its file position; 0 where
  // the source cannot do that (the caller then reads and writes).
  [[nodiscard]] virtual size_t CopyTo(int outFd, size_t count, int64_t offset) const { return 0; }
};

}  // namespace mirel
