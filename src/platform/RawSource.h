#pragma once
// Read-only access to a volume's bytes: an image file or a block device, or a
// window of one (a partition). Every read is confined to the window.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ByteSource.h"

namespace mirel {

class TRawSource : public TByteSource {
public:
  TRawSource() = default;
  ~TRawSource() override;
  TRawSource(const TRawSource&) = delete;
  TRawSource& operator=(const TRawSource&) = delete;
  TRawSource(TRawSource&& other) noexcept;
  TRawSource& operator=(TRawSource&& other) noexcept;

  // Opens path read-only. length < 0 means "to the end of the source".
  // On failure the source stays invalid and Error() tells why.
  [[nodiscard]] static TRawSource Open(const std::string& path, int64_t base = 0, int64_t length = -1);

  bool IsValid() const override { return Fd >= 0; }
  int64_t Size() const override { return Length; }
  const std::string& Error() const { return ErrorText; }
  int ErrorNumber() const { return Errno; }
  void Close();

  // Positioned read of up to count bytes at offset inside the window; loops over
  // short reads and EINTR; never reads past the window. Returns bytes delivered.
  [[nodiscard]] size_t Read(void* buffer, size_t count, int64_t offset) const override;
  // The same bytes written straight into outFd at its file position, without
  // passing through this process; 0 when the kernel cannot do that here.
  [[nodiscard]] size_t CopyTo(int outFd, size_t count, int64_t offset) const override;

private:
  int Fd = -1;
  int64_t Base = 0;
  int64_t Length = 0;
  int Errno = 0;
  std::string ErrorText;
};

// A descriptor for path handed over by a service that may open what this
// process may not (the desktop's disk service); Open reads through a copy of
// it from now on. Takes ownership of fd.
void GrantSource(const std::string& path, int fd);

// Size in bytes of an open file descriptor: block-device size or file size.
[[nodiscard]] int64_t SourceSizeOf(int fd);

}  // namespace mirel
