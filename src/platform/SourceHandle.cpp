#include "platform/SourceHandle.h"

#include <algorithm>

#include "platform/ImageFormats.h"

namespace mirel {

TSourceHandle TSourceHandle::Open(const std::string& path, int64_t base, int64_t length) {
  TSourceHandle h;
  TOpenedImage image = OpenImage(path);
  if (!image.Source) {
    h.Errno = image.Errno;
    h.ErrorText = image.Error;
    return h;
  }
  const int64_t total = image.Source->Size();
  if (base < 0 || base > total) base = total;
  const int64_t avail = total - base;
  h.Source = std::move(image.Source);
  h.FormatName = std::move(image.Format);
  h.Base = base;
  h.Length = (length < 0 || length > avail) ? avail : length;
  return h;
}

size_t TSourceHandle::Clamp(size_t count, int64_t offset) const {
  if (!Source || offset < 0 || offset >= Length) return 0;
  return static_cast<size_t>(std::min<uint64_t>(count, static_cast<uint64_t>(Length - offset)));
}

size_t TSourceHandle::Read(void* buffer, size_t count, int64_t offset) const {
  count = Clamp(count, offset);
  return count == 0 || !buffer ? 0 : Source->Read(buffer, count, Base + offset);
}

size_t TSourceHandle::CopyTo(int outFd, size_t count, int64_t offset) const {
  count = Clamp(count, offset);
  return count == 0 || outFd < 0 ? 0 : Source->CopyTo(outFd, count, Base + offset);
}

}  // namespace mirel
