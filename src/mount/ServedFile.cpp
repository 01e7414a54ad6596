#include "mount/ServedFile.h"

#include <algorithm>
#include <cerrno>

#include "core/FileSystems.h"

namespace mirel {

std::unique_ptr<TRecoveryStream> OpenEntryStream(TFileInfo* entry, const std::string& streamName) {
  static std::mutex creating;
  std::lock_guard<std::mutex> guard(creating);
  return CreateRecoveryStream(entry, streamName);
}

TServedFile::TServedFile(TFileInfo* entry, int64_t size, const std::string& streamName)
    : Stream(OpenEntryStream(entry, streamName)), Size(size) {}

int64_t TServedFile::ReadAt(char* buffer, size_t count, int64_t offset) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!Stream || offset < 0) return -EIO;
  if (offset >= Size) return 0;
  const auto want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), Size - offset));
  size_t got = 0;
  if (Stream->Seek(offset, TSeekOrigin::Beginning) == offset) {
    while (got < want) {
      const size_t n = Stream->Read(buffer + got, want - got);
      if (n == 0) break;
      got += n;
    }
  }
  const int64_t end = offset + static_cast<int64_t>(want);
  TByteRanges bad;
  // A stream that ends early is missing its tail.
  if (got < want) bad.Add(offset + static_cast<int64_t>(got), static_cast<int64_t>(want - got));
  for (const TByteRange& r : Stream->Missing()) {
    const int64_t from = std::max(r.Offset, offset), to = std::min(r.End(), end);
    if (from < to) bad.Add(from, to - from);
  }
  if (bad.Empty()) return static_cast<int64_t>(want);
  for (const TByteRange& r : bad) Failed.Add(r.Offset, r.Length);
  return -EIO;
}

TByteRanges TServedFile::Unreadable() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Failed;
}

}  // namespace mirel
