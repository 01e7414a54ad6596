#pragma once
// One open file of the mount: a recovery stream of its own, read by one
// thread at a time. A read either delivers the file's bytes or fails; it
// never hands out the zeros a stream puts where it could not read.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/ByteRanges.h"
#include "core/FileInfo.h"
#include "core/RecoveryStream.h"

namespace mirel {

// CreateRecoveryStream, one at a time: making a stream may touch the entry
// it is made for, which other threads read.
std::unique_ptr<TRecoveryStream> OpenEntryStream(TFileInfo* entry, const std::string& streamName = {});

class TServedFile {
public:
  // size: the bytes served; streamName: a named stream instead of the data.
  TServedFile(TFileInfo* entry, int64_t size, const std::string& streamName = {});
  // False when the entry has no stream.
  bool Ok() const { return Stream != nullptr; }
  // Reads count bytes at offset (fewer at the end of the file) into buffer.
  // Returns how many, or -EIO when any of them could not be read.
  [[nodiscard]] int64_t ReadAt(char* buffer, size_t count, int64_t offset);
  // The ranges that reads have failed on so far.
  TByteRanges Unreadable() const;

private:
  mutable std::mutex Lock;
  std::unique_ptr<TRecoveryStream> Stream;
  int64_t Size = 0;
  TByteRanges Failed;
};

}  // namespace mirel
