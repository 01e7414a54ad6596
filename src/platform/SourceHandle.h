#pragma once
// A volume's bytes as the engine reads them: a window (a partition, or the
// place an offset gives) of whatever byte source the path holds. Every read
// is confined to the window.
#include <memory>
#include <string>

#include "platform/ByteSource.h"

namespace mirel {

class TSourceHandle final : public TByteSource {
public:
  TSourceHandle() = default;

  // Opens path read-only in the format its content shows; length < 0 means
  // "to the end of the source". On failure the handle stays invalid and
  // Error() tells why.
  [[nodiscard]] static TSourceHandle Open(const std::string& path, int64_t base = 0, int64_t length = -1);

  bool IsValid() const override { return Source != nullptr; }
  int64_t Size() const override { return Length; }
  const std::string& Error() const { return ErrorText; }
  int ErrorNumber() const { return Errno; }
  // "raw", "split", "EWF", "VHD", "VMDK" or "QCOW".
  const std::string& Format() const { return FormatName; }
  // The whole source the window lies in.
  const TByteSource* Whole() const { return Source.get(); }
  void Close() { Source.reset(); }

  [[nodiscard]] size_t Read(void* buffer, size_t count, int64_t offset) const override;
  [[nodiscard]] size_t CopyTo(int outFd, size_t count, int64_t offset) const override;

private:
  [[nodiscard]] size_t Clamp(size_t count, int64_t offset) const;

  std::unique_ptr<TByteSource> Source;
  int64_t Base = 0;
  int64_t Length = 0;
  int Errno = 0;
  std::string ErrorText;
  std::string FormatName;
};

}  // namespace mirel
