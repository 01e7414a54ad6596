#include "core/RecoveryStream.h"

#include "core/DiskObject.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"

namespace mirel {

TRecoveryStream::TRecoveryStream(TDiskObject* disk, TFileInfo* entry) : Disk(disk), Entry(entry) {
  Scaner = CreateDiskScaner(disk);
  // A scanner that cannot read the volume reads nothing: the stream's data
  // are then missing as a whole.
  if (Scaner && !Scaner->Init()) Scaner.reset();
}

TRecoveryStream::~TRecoveryStream() = default;

int64_t TRecoveryStream::GetSize() const { return Entry ? Entry->Size : 0; }

int64_t TRecoveryStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (!Entry) return FPosition;
  const int64_t size = GetSize();
  int64_t pos = FPosition;
  // Saturating arithmetic: a hostile offset must not overflow.
  auto add = [](int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
  };
  switch (origin) {
    case TSeekOrigin::Beginning: pos = offset; break;
    case TSeekOrigin::Current: pos = add(FPosition, offset); break;
    case TSeekOrigin::End: pos = offset == INT64_MIN ? INT64_MAX : add(size, -offset); break;
  }
  if (pos < 0) pos = 0;
  if (pos > size) pos = size;
  FPosition = pos;
  return FPosition;
}

}  // namespace mirel
