#pragma once
// Read-only seekable stream over a found entry's data; preview and recovery
// read through it.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/ByteRanges.h"
#include "core/FileInfo.h"

namespace mirel {

class TDiskObject;
class TDiskScaner;

enum class TSeekOrigin { Beginning, Current, End };

class TRecoveryStream {
public:
  // Makes a private scanner for the volume and initialises it at once.
  TRecoveryStream(TDiskObject* disk, TFileInfo* entry);
  virtual ~TRecoveryStream();
  TRecoveryStream(const TRecoveryStream&) = delete;
  TRecoveryStream& operator=(const TRecoveryStream&) = delete;

  virtual int64_t GetSize() const;
  // Reads up to count bytes at the position and advances it; returns bytes read.
  [[nodiscard]] virtual size_t Read(void* buffer, size_t count) = 0;
  // Like Read, but the bytes go straight into outFd at its file position
  // where they lie on the volume as they are; 0 where they do not (or the
  // kernel cannot copy them), and the caller reads them instead.
  [[nodiscard]] virtual size_t CopyTo(int outFd, size_t count) { return 0; }
  // From the end, a positive offset counts back from the end; the result is
  // clamped to 0..size. A stream without an entry does not move.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin);
  int64_t Position() const { return FPosition; }
  // The byte ranges of the data that could not be read so far (or are known
  // to be lost): Read delivers zeros there, and only together with this list.
  const TByteRanges& Missing() const { return FMissing; }

  TDiskObject* Disk = nullptr;
  TFileInfo* Entry = nullptr;
  std::unique_ptr<TDiskScaner> Scaner;

protected:
  int64_t FPosition = 0;
  TByteRanges FMissing;
};

}  // namespace mirel
